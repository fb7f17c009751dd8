// Which pixels of a picture are none of a palette's colours, and so take
// the nearest of them when the picture is converted to that palette: how
// many, and the colours most of them have.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kz {

struct stray_colour {
    std::uint32_t rgb = 0;         // 0xRRGGBB
    std::uint32_t pixels = 0;      // how many pixels have it
    std::uint8_t nearest = 0;      // the palette entry they take
    std::uint32_t nearest_rgb = 0; // its colour, 0xRRGGBB
};

constexpr int census_colours_shown = 4;

struct colour_census {
    std::uint32_t stray_pixels = 0; // pixels of a colour the palette lacks
    // The most frequent of those colours, most pixels first, then by colour
    // value; `shown` entries are filled.
    std::array<stray_colour, census_colours_shown> most_frequent{};
    int shown = 0;
};

// Counts the pixels of a picture in the layout of bitmap.h (width x height
// pixels at bit_count, its palette for up to 8 bits) whose colour is none of
// the first target_entries colours of target_palette; the fourth byte of a
// palette entry plays no part. Pixels whose byte in passed_over (one a
// pixel, when not empty) is non-zero are not counted: a fully transparent
// pixel takes no colour. 0; -1 for a picture its pixels cannot hold, a
// passed_over shorter than the picture or a bit count the conversion does
// not take; -2 memory exhausted.
int take_colour_census(int width, int height, int bit_count, const std::uint8_t* palette,
                       std::span<const std::uint8_t> pixels, const std::uint8_t* target_palette,
                       int target_entries, colour_census* census,
                       std::span<const std::uint8_t> passed_over = {});

} // namespace kz

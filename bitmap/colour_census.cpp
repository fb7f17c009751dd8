// Counting the pixels that a conversion to a palette takes to the nearest
// colour rather than to their own.
#include "bitmap/colour_census.h"

#include "bitmap/bitmap.h"
#include "bitmap/pixel_colours.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

namespace kz {
namespace {

std::uint32_t entry_rgb(const std::uint8_t* palette, int index) {
    return packed_rgb(entry_colour(palette, index));
}

// The target's colours, and the last one a pixel had, which most pixels
// share with the one before them.
class colour_set {
  public:
    colour_set(const std::uint8_t* palette, int entries) {
        for (int i = 0; i < entries; ++i) {
            colours_.push_back(entry_rgb(palette, i));
        }
    }
    bool holds(std::uint32_t rgb) {
        if (rgb == last_) {
            return true;
        }
        if (std::find(colours_.begin(), colours_.end(), rgb) == colours_.end()) {
            return false;
        }
        last_ = rgb;
        return true;
    }

  private:
    std::vector<std::uint32_t> colours_;
    std::uint32_t last_ = 0xFFFFFFFF; // no colour
};

using colour_count = std::pair<std::uint32_t, std::uint32_t>; // rgb, pixels

// An indexed picture: whether a pixel strays depends only on its index, so
// the pixels are counted only when some entry strays. A byte beyond the
// palette counts as the conversion reads it (source_index).
void count_indexed(int bit_count, const std::uint8_t* palette, const std::uint8_t* pixels,
                   std::size_t count, std::span<const std::uint8_t> passed_over, colour_set& target,
                   std::vector<colour_count>* strays) {
    const int entries = 1 << bit_count;
    std::array<bool, max_palette_entries> stray{};
    bool any = false;
    for (int i = 0; i < entries; ++i) {
        stray[static_cast<std::size_t>(i)] = !target.holds(entry_rgb(palette, i));
        any = any || stray[static_cast<std::size_t>(i)];
    }
    if (!any) {
        return;
    }
    std::array<std::uint32_t, 256> by_byte{};
    for (std::size_t i = 0; i < count; ++i) {
        by_byte[pixels[i]] += passed_over.empty() || passed_over[i] == 0 ? 1 : 0;
    }
    std::array<std::uint32_t, max_palette_entries> by_index{};
    for (int value = 0; value < 256; ++value) {
        const int index = source_index(static_cast<std::uint8_t>(value), bit_count);
        by_index[static_cast<std::size_t>(index)] += by_byte[static_cast<std::size_t>(value)];
    }
    for (int i = 0; i < entries; ++i) {
        if (stray[static_cast<std::size_t>(i)] && by_index[static_cast<std::size_t>(i)] != 0) {
            strays->emplace_back(entry_rgb(palette, i), by_index[static_cast<std::size_t>(i)]);
        }
    }
}

void count_direct(int bytes, const std::uint8_t* pixels, std::size_t count,
                  std::span<const std::uint8_t> passed_over, colour_set& target,
                  std::vector<colour_count>* strays) {
    std::vector<std::uint32_t> colours;
    for (std::size_t i = 0; i < count; ++i) {
        if (!passed_over.empty() && passed_over[i] != 0) {
            continue;
        }
        const std::uint32_t rgb =
            packed_rgb(read_colour(pixels + i * static_cast<std::size_t>(bytes), bytes));
        if (!target.holds(rgb)) {
            colours.push_back(rgb);
        }
    }
    std::sort(colours.begin(), colours.end());
    for (std::size_t i = 0; i < colours.size();) {
        std::size_t end = i;
        while (end < colours.size() && colours[end] == colours[i]) {
            ++end;
        }
        strays->emplace_back(colours[i], static_cast<std::uint32_t>(end - i));
        i = end;
    }
}

} // namespace

int take_colour_census(int width, int height, int bit_count, const std::uint8_t* palette,
                       std::span<const std::uint8_t> pixels, const std::uint8_t* target_palette,
                       int target_entries, colour_census* census,
                       std::span<const std::uint8_t> passed_over) {
    *census = colour_census{};
    const bool indexed = bit_count == 1 || bit_count == 4 || bit_count == 8;
    const int bytes = indexed ? 1 : bit_count / 8;
    if (width < 0 || height < 0 || target_palette == nullptr || target_entries < 1 ||
        target_entries > max_palette_entries || !is_supported_bit_count(bit_count)) {
        return -1;
    }
    if (bit_count == 1 && palette == nullptr) {
        palette = black_and_white.data();
    }
    // Width and height are below 2^31, so their product fits 64 bits.
    const std::uint64_t count =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if ((indexed && palette == nullptr) ||
        count > pixels.size() / static_cast<std::size_t>(bytes) ||
        (!passed_over.empty() && count > passed_over.size())) {
        return -1;
    }
    std::vector<colour_count> strays;
    std::vector<colour_count> merged;
    try {
        colour_set target(target_palette, target_entries);
        if (indexed) {
            count_indexed(bit_count, palette, pixels.data(), static_cast<std::size_t>(count),
                          passed_over, target, &strays);
        } else {
            count_direct(bytes, pixels.data(), static_cast<std::size_t>(count), passed_over, target,
                         &strays);
        }
        // Two palette entries of one colour are one colour.
        std::sort(strays.begin(), strays.end());
        for (const colour_count& stray : strays) {
            census->stray_pixels += stray.second;
            if (!merged.empty() && merged.back().first == stray.first) {
                merged.back().second += stray.second;
            } else {
                merged.push_back(stray);
            }
        }
    } catch (const std::bad_alloc&) {
        *census = colour_census{};
        return bitmap_memory_exhausted;
    }
    const auto shown = std::min<std::size_t>(merged.size(), census_colours_shown);
    std::partial_sort(merged.begin(), merged.begin() + static_cast<std::ptrdiff_t>(shown),
                      merged.end(), [](const colour_count& a, const colour_count& b) {
                          return a.second != b.second ? a.second > b.second : a.first < b.first;
                      });
    for (std::size_t i = 0; i < shown; ++i) {
        const std::uint32_t rgb = merged[i].first;
        const int nearest =
            find_nearest_color(static_cast<int>(rgb >> 16), static_cast<int>(rgb >> 8 & 0xFF),
                               static_cast<int>(rgb & 0xFF), target_palette, target_entries);
        census->most_frequent[i] = {rgb, merged[i].second, static_cast<std::uint8_t>(nearest),
                                    entry_rgb(target_palette, nearest)};
    }
    census->shown = static_cast<int>(shown);
    return 0;
}

} // namespace kz

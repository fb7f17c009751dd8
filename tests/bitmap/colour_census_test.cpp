// The census of the pixels that a conversion takes to the nearest colour.
#include "bitmap/colour_census.h"

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

// The eight sheet colours, as a 16-entry target palette whose last eight
// entries repeat black.
bytes sheet_palette() {
    bytes palette;
    for (int i = 0; i < 16; ++i) {
        const int v = i < 8 ? i : 0;
        palette.insert(palette.end(), {static_cast<std::uint8_t>(v & 1 ? 255 : 0),
                                       static_cast<std::uint8_t>(v & 4 ? 255 : 0),
                                       static_cast<std::uint8_t>(v & 2 ? 255 : 0), 0});
    }
    return palette;
}

bytes entries(std::initializer_list<std::uint32_t> colours) {
    bytes palette;
    for (const std::uint32_t rgb : colours) {
        palette.insert(palette.end(),
                       {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                        static_cast<std::uint8_t>(rgb >> 16), 0x77});
    }
    return palette;
}

bytes padded(bytes palette, std::size_t count) {
    palette.resize(count * 4, 0);
    return palette;
}

struct shown {
    std::uint32_t rgb;
    std::uint32_t pixels;
    std::uint32_t nearest_rgb;
    bool operator==(const shown&) const = default;
};

std::vector<shown> shown_colours(const colour_census& census) {
    std::vector<shown> list;
    for (int i = 0; i < census.shown; ++i) {
        const stray_colour& c = census.most_frequent[static_cast<std::size_t>(i)];
        list.push_back({c.rgb, c.pixels, c.nearest_rgb});
    }
    return list;
}

// Pixels of 24 bits: the entries' bytes without their fourth.
bytes bgr(std::initializer_list<std::uint32_t> colours) {
    bytes pixels;
    const bytes four = entries(colours);
    for (std::size_t i = 0; i < four.size(); ++i) {
        if (i % 4 != 3) {
            pixels.push_back(four[i]);
        }
    }
    return pixels;
}

TEST(take_colour_census, counts_each_stray_colour_and_names_what_it_becomes) {
    struct row {
        const char* what;
        int width;
        int bit_count;
        bytes palette;
        bytes pixels;
        std::uint32_t stray;
        std::vector<shown> colours;
        bytes passed_over = {}; // fully transparent pixels: they take no colour
    };
    const row rows[] = {
        {"indices of the sheet's own colours",
         4,
         4,
         padded(entries({0x000000, 0xFF0000, 0xFFFFFF, 0x00FFFF}), 16),
         {0, 1, 2, 3},
         0,
         {}},
        // Only the entries that pixels use count; the fourth byte plays no part.
        {"a stray entry used, another unused",
         5,
         8,
         padded(entries({0xFE0000, 0x000000, 0x808080}), 256),
         {0, 0, 1, 0, 1},
         3,
         {{0xFE0000, 3, 0xFF0000}}},
        {"two entries of one stray colour are one colour",
         3,
         8,
         padded(entries({0x101010, 0x101010}), 256),
         {0, 1, 1},
         3,
         {{0x101010, 3, 0x000000}}},
        // At 4 bits only the low nibble of a byte counts, as the writer stores it.
        {"a byte beyond the palette",
         2,
         4,
         padded(entries({0x000000, 0x0000FE}), 16),
         {0x11, 0x00},
         1,
         {{0x0000FE, 1, 0x0000FF}}},
        {"a 1-bit picture without a palette is black and white", 3, 1, {}, {0, 1, 7}, 0, {}},
        // Most pixels first, then by colour; only four are shown, all counted.
        {"the most frequent four of five colours",
         11,
         24,
         {},
         bgr({0x7F7F7F, 0x808080, 0x808080, 0x010101, 0x010101, 0xFF8000, 0xFF8000, 0x0000FF,
              0x000001, 0x000001, 0x000001}),
         10,
         {{0x000001, 3, 0x000000},
          {0x010101, 2, 0x000000},
          {0x808080, 2, 0xFFFFFF},
          {0xFF8000, 2, 0xFFFF00}}},
        // 16-bit pixels widen five bits as the conversion does: 31 is 255,
        // exactly white, while 16 is 132, a stray grey.
        {"16-bit pixels", 2, 16, {}, {0xFF, 0x7F, 0x10, 0x42}, 1, {{0x848484, 1, 0xFFFFFF}}},
        {"32-bit pixels ignore their fourth byte",
         2,
         32,
         {},
         {0, 0, 255, 0x12, 0, 0, 254, 0x34},
         1,
         {{0xFE0000, 1, 0xFF0000}}},
        // A transparent pixel's stored colour is no stray; one opaque pixel
        // of that colour still counts.
        {"transparent indices passed over",
         4,
         8,
         padded(entries({0x123456, 0x000000}), 256),
         {0, 0, 0, 1},
         1,
         {{0x123456, 1, 0x000000}},
         {1, 0, 1, 1}},
        {"transparent colours passed over",
         4,
         24,
         {},
         bgr({0x123456, 0x654321, 0x654321, 0x000000}),
         1,
         {{0x654321, 1, 0x000000}},
         {1, 0, 1, 1}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const bytes target = sheet_palette();
        colour_census census;
        census.stray_pixels = 99;
        ASSERT_EQ(take_colour_census(r.width, 1, r.bit_count,
                                     r.palette.empty() ? nullptr : r.palette.data(), r.pixels,
                                     target.data(), 16, &census, r.passed_over),
                  0);
        EXPECT_EQ(census.stray_pixels, r.stray);
        EXPECT_EQ(shown_colours(census), r.colours);
    }
}

TEST(take_colour_census, refuses_pixels_that_do_not_hold_the_picture) {
    const bytes target = sheet_palette();
    const bytes pixels(5, 0);
    colour_census census;
    EXPECT_EQ(take_colour_census(2, 1, 24, nullptr, pixels, target.data(), 16, &census), -1);
    EXPECT_EQ(take_colour_census(6, 1, 8, nullptr, pixels, target.data(), 16, &census), -1);
    EXPECT_EQ(take_colour_census(1, 1, 4, nullptr, pixels, target.data(), 16, &census), -1);
    EXPECT_EQ(take_colour_census(1, 1, 2, nullptr, pixels, target.data(), 16, &census), -1);
    // Fewer transparency bytes than pixels.
    const bytes two_colours(6, 0);
    EXPECT_EQ(take_colour_census(2, 1, 24, nullptr, two_colours, target.data(), 16, &census,
                                 bytes{1}),
              -1);
    EXPECT_EQ(census.stray_pixels, 0u);
}

} // namespace
} // namespace kz::test

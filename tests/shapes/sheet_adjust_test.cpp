// Water remake and mirror room on the shape sheet.
#include "reference.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace kz {
namespace {

using ref::bytes;
using half = std::function<bool(int x, int y)>;

// Where each marked shape takes water, written from the shapes' pictures: the
// shores' water half (diagonal included), and for the inverted shores the
// opposite half.
const std::map<int, half> water_halves = {
    {52, [](int x, int y) { return x + y <= 31; }},  {53, [](int x, int y) { return x >= y; }},
    {54, [](int x, int y) { return x + y >= 31; }},  {55, [](int x, int y) { return x <= y; }},
    {228, [](int x, int y) { return x + y >= 31; }}, {229, [](int x, int y) { return x <= y; }},
    {230, [](int x, int y) { return x + y <= 31; }}, {231, [](int x, int y) { return x >= y; }},
};

// A sheet of colours 0-15 with plenty of 0 pixels, so reference shapes have
// both drawn and blank pixels.
bytes random_sheet(unsigned seed) {
    bytes sheet = ref::random_bytes(sheet_bytes, seed);
    for (auto& pixel : sheet) {
        pixel = pixel < 96 ? 0 : pixel % 16;
    }
    return sheet;
}

TEST(remake_water, redraws_marked_shapes_from_shape_3_and_nothing_else) {
    bytes original = random_sheet(21);
    bytes sheet = original;
    remake_water(ref::as_sheet(sheet));
    bytes expected = original;
    for (int n = 0; n < 256; ++n) {
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                bool water = false;
                if (const auto it = water_halves.find(n); it != water_halves.end()) {
                    water = it->second(x, y);
                } else if (n >= 96 && n <= 111) {
                    water = ref::shape_pixel(original, false, n + 16, x, y) != 0;
                }
                if (water) {
                    ref::shape_pixel(expected, false, n, x, y) = ref::shape_pixel(original, false, 3, x, y);
                }
            }
        }
    }
    EXPECT_EQ(sheet, expected);
}

// Dungeon on, water remake on: the grass shape keeps its exchanged colours,
// and its water comes from shape 3 as decoded, which is not exchanged.
TEST(remake_water, reads_the_sheet_as_the_decoder_left_it) {
    bytes file(tiles_ch_size);
    const auto fill_plane = [&](int shape, int plane, std::uint8_t byte) {
        for (int i = 0; i < 128; ++i) {
            file[(shape * 3 + plane) * 128 + i] = byte;
        }
    };
    fill_plane(3, 1, 0xFF);   // water: red everywhere
    fill_plane(96, 1, 0xFF);  // grass shape 96: red, green on dungeon levels
    fill_plane(112, 0, 0xF0); // its reference: drawn in pixels 0-3 of each byte
    bytes sheet(sheet_bytes);
    for (int n = 0; n < 256; ++n) {
        ASSERT_EQ(decode_shape(ref::as_sheet(sheet), 0, n / 16, n % 16, file, 3, 1), 0);
    }
    remake_water(ref::as_sheet(sheet));
    for (int x = 0; x < 32; ++x) {
        EXPECT_EQ(ref::shape_pixel(sheet, false, 96, x, 7), x % 8 < 4 ? 2 : 4) << x;
    }
}

TEST(recolor_mirror_room, maps_every_pixel_and_keeps_the_mask_bit) {
    bytes sheet(sheet_bytes);
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        sheet[i] = static_cast<std::uint8_t>(i * 7 % 251); // values above 15 too
    }
    const bytes before = sheet;
    recolor_mirror_room(ref::as_sheet(sheet));
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        const std::uint8_t v = before[i];
        ASSERT_EQ(sheet[i], v < 16 ? mirror_room_map[v] : v) << i;
        ASSERT_EQ(sheet[i] & 8, v & 8) << i;
    }
}

} // namespace
} // namespace kz

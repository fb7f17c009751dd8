// EGA/CGA tile decoder and the converter's adjustments.
#include <climits>
#include <cstdlib>

#include "reference.h"

namespace kz {
namespace {

using ref::bytes;

void decode_all(bytes& sheet, const bytes& tiles, int pixels_per_byte, int remake) {
    for (int t = 0; t < 512; ++t) {
        ASSERT_EQ(decode_tile(ref::as_tile_sheet(sheet), ref::as_tiles(tiles), t / 16, t % 16,
                              pixels_per_byte, remake),
                  0);
    }
}

// One input byte and the pixels it gives, leftmost first, at a tile-sheet offset.
TEST(decode_tile, splits_each_byte_leftmost_pixel_first_into_its_cell) {
    // clang-format off
    const std::tuple<int, int, std::uint8_t, int, bytes> cases[] = {
        {2, 0, 0x12, 0, {1, 2}}, {4, 0, 0x1B, 0, {0, 1, 2, 3}},
        {2, 8, 0x34, 256, {3, 4}},                                           // tile 0, line 1
        {2, 17 * 128, 0x10, 4112, {1, 0}}, {4, 17 * 64, 0x40, 4112, {1, 0, 0, 0}}, // tile 17
        {2, 65535, 0x0F, 131070, {0, 15}}, {4, 32767, 0x03, 131068, {0, 0, 0, 3}}, // last byte
    };
    // clang-format on
    for (const auto& [pixels_per_byte, offset, value, at, pixels] : cases) {
        bytes tiles(tiles_buffer_size), sheet(tile_sheet_bytes), expected(tile_sheet_bytes);
        tiles[offset] = value;
        decode_all(sheet, tiles, pixels_per_byte, 0);
        std::copy(pixels.begin(), pixels.end(), expected.begin() + at);
        EXPECT_EQ(sheet, expected) << pixels_per_byte << " pixels a byte, byte " << offset;
    }
}

// Random tiles with about half of the pixels 0. With the water remake, tile
// n takes tile 3's pixel where its reference tile's pixel is drawn (blank,
// for the inverted 228-231); tiles 256-511 have no table entries.
TEST(decode_tile, matches_pixel_reading_with_and_without_water_remake) {
    for (const int pixels_per_byte : {2, 4}) {
        const int bits = 8 / pixels_per_byte;
        const bytes values = ref::random_bytes(512 * 256, 30 + pixels_per_byte, 1 << bits);
        bytes tiles(tiles_buffer_size);
        for (int i = 0; i < 512 * 256; ++i) {
            tiles[i / pixels_per_byte] |= values[i] << (8 - bits - i % pixels_per_byte * bits);
        }
        for (const int remake : {0, 1}) {
            bytes sheet(tile_sheet_bytes);
            decode_all(sheet, tiles, pixels_per_byte, remake);
            int mismatches = 0;
            for (int i = 0; i < 512 * 256; ++i) {
                const int t = i / 256, x = i % 16, y = i / 16 % 16;
                const int code = remake != 0 && t < 256 ? ref::listed_water_code(t) : 0;
                const bool drawn =
                    ref::tile_pixel(tiles, pixels_per_byte, std::abs(code), x, y) != 0;
                const int source = code != 0 && drawn == (code > 0) ? 3 : t;
                mismatches += ref::tile_sheet_pixel(sheet, t, x, y) !=
                              ref::tile_pixel(tiles, pixels_per_byte, source, x, y);
            }
            EXPECT_EQ(mismatches, 0) << pixels_per_byte << " pixels a byte, remake " << remake;
        }
    }
}

// CGA: the dungeon step turns 1 into 2 in the grass tiles below 256 only,
// then the mirror room swaps 1 and 2 everywhere, so grass ends with 1 where
// it had 1 or 2.
TEST(recolor_dungeon_grass, changes_one_colour_in_grass_tiles_below_256_then_mirror_swaps) {
    bytes sheet = ref::random_bytes(tile_sheet_bytes, 40, 4), expected = sheet;
    for (int i = 0; i < 512 * 256; ++i) {
        auto& pixel = ref::tile_sheet_pixel(expected, i / 256, i % 16, i / 16 % 16);
        pixel = i / 256 < 256 && ref::listed_grass(i / 256) && pixel == 1 ? 2 : pixel;
        pixel = pixel == 1 ? 2 : pixel == 2 ? 1 : pixel;
    }
    recolor_dungeon_grass(ref::as_tile_sheet(sheet), 1, 2);
    recolor_tile_sheet(ref::as_tile_sheet(sheet), cga_mirror_room_map);
    EXPECT_EQ(sheet, expected);
}

TEST(zero_pixel_mask, covers_exactly_the_fields_of_zero_pixels) {
    // byte, pixels per byte, mask
    const std::tuple<std::uint8_t, int, int> cases[] = {
        {0x10, 2, 0x0F}, {0x01, 2, 0xF0}, {0x00, 2, 0xFF}, {0x88, 2, 0x00}, {0x1B, 4, 0xC0},
        {0x40, 4, 0x3F}, {0x81, 4, 0x3C}, {0x00, 4, 0xFF}, {0x12, 3, 0x00}};
    for (const auto& [byte, pixels_per_byte, mask] : cases) {
        EXPECT_EQ(zero_pixel_mask(byte, pixels_per_byte), mask)
            << int{byte} << ' ' << pixels_per_byte;
    }
}

TEST(decode_tile, refuses_places_off_the_sheet_and_unknown_widths_untouched) {
    const bytes tiles = ref::random_bytes(tiles_buffer_size, 50);
    bytes sheet(tile_sheet_bytes, 0x40);
    // tile row, tile column, pixels per byte
    for (const auto& [row, column, pixels_per_byte] :
         {std::tuple{-1, 0, 2}, {32, 0, 2}, {0, -1, 4}, {0, 16, 4}, {0, 0, 3}, {INT_MAX, 0, 2}}) {
        EXPECT_EQ(decode_tile(ref::as_tile_sheet(sheet), ref::as_tiles(tiles), row, column,
                              pixels_per_byte, 1),
                  -1);
        EXPECT_EQ(tile_byte(ref::as_tiles(tiles), row, column, 0, 0, pixels_per_byte), 0);
    }
    EXPECT_EQ(sheet, bytes(tile_sheet_bytes, 0x40));
    for (const auto& [y, x] : {std::pair{-1, 0}, {16, 0}, {0, -1}, {0, 16}, {INT_MAX, INT_MAX}}) {
        EXPECT_EQ(tile_byte_offset(31, 15, y, x, 2), -1);
    }
    // A reference outside tiles 1-255 keeps the tile's own byte.
    for (const int reference : {256, -256, INT_MIN}) {
        EXPECT_EQ(remade_water_byte(ref::as_tiles(tiles), 6, 0, 3, 4, 2, 3, reference),
                  tile_byte(ref::as_tiles(tiles), 6, 0, 3, 4, 2));
    }
}

} // namespace
} // namespace kz

// EGA/CGA tile decoder and the converter's adjustments.
#include "reference.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace kz {
namespace {

using ref::bytes;

void decode_all(bytes& sheet, const bytes& tiles, int pixels_per_byte, int remake) {
    for (int row = 0; row < 32; ++row) {
        for (int column = 0; column < 16; ++column) {
            ASSERT_EQ(decode_tile(ref::as_tile_sheet(sheet), ref::as_tiles(tiles), row, column,
                                  pixels_per_byte, remake),
                      0);
        }
    }
}

struct placed_byte {
    int pixels_per_byte;
    int offset;
    std::uint8_t value;
    int sheet_offset;
    std::vector<int> pixels;
};

void PrintTo(const placed_byte& c, std::ostream* out) {
    *out << c.pixels_per_byte << " pixels a byte, byte " << c.offset << " = " << int{c.value}
         << " -> sheet offset " << c.sheet_offset;
}

class placed_byte_test : public testing::TestWithParam<placed_byte> {};

TEST_P(placed_byte_test, splits_leftmost_pixel_first_into_its_cell) {
    const placed_byte& c = GetParam();
    bytes tiles(tiles_buffer_size);
    tiles[c.offset] = c.value;
    bytes sheet(tile_sheet_bytes);
    decode_all(sheet, tiles, c.pixels_per_byte, 0);
    bytes expected(tile_sheet_bytes);
    for (std::size_t i = 0; i < c.pixels.size(); ++i) {
        expected[c.sheet_offset + i] = static_cast<std::uint8_t>(c.pixels[i]);
    }
    EXPECT_EQ(sheet, expected);
}

INSTANTIATE_TEST_SUITE_P(
    tiles, placed_byte_test,
    testing::Values(placed_byte{2, 0, 0x12, 0, {1, 2}}, placed_byte{4, 0, 0x1B, 0, {0, 1, 2, 3}},
                    placed_byte{2, 8, 0x34, 256, {3, 4}},     // second line of tile 0
                    placed_byte{2, 17 * 128, 0x10, 4112, {1, 0}}, // tile 17: row 1, column 1
                    placed_byte{4, 17 * 64, 0x40, 4112, {1, 0, 0, 0}},
                    placed_byte{2, 65535, 0x0F, 131070, {0, 15}},
                    placed_byte{4, 32767, 0x03, 131068, {0, 0, 0, 3}}));

// Random tiles with about half of the pixels 0, packed pixel by pixel.
bytes random_tiles(int pixels_per_byte, unsigned seed) {
    bytes tiles = ref::random_bytes(tiles_buffer_size, seed);
    const int bits = 8 / pixels_per_byte;
    const int used = pixels_per_byte == ega_pixels_per_byte ? ega_tiles_size : cga_tiles_size;
    std::mt19937 random(seed);
    for (long bit = 0; bit < long{used} * 8; bit += bits) {
        const unsigned value = random() % 2 != 0 ? 1 + random() % ((1u << bits) - 1) : 0;
        auto& byte = tiles[static_cast<std::size_t>(bit / 8)];
        const int shift = 8 - bits - static_cast<int>(bit % 8);
        byte = static_cast<std::uint8_t>((byte & ~(((1 << bits) - 1) << shift)) | (value << shift));
    }
    return tiles;
}

TEST(decode_tile, matches_pixel_reading_with_and_without_water_remake) {
    for (const int pixels_per_byte : {2, 4}) {
        const bytes tiles = random_tiles(pixels_per_byte, 30 + pixels_per_byte);
        for (const int remake : {0, 1}) {
            SCOPED_TRACE(testing::Message() << pixels_per_byte << " pixels a byte, remake " << remake);
            bytes sheet(tile_sheet_bytes);
            decode_all(sheet, tiles, pixels_per_byte, remake);
            int mismatches = 0;
            for (int t = 0; t < 512; ++t) {
                // Tiles 256-511 have no table entries and are never remade.
                const int code = remake != 0 && t < 256 ? ref::listed_water_code(t) : 0;
                for (int y = 0; y < 16; ++y) {
                    for (int x = 0; x < 16; ++x) {
                        int expected = ref::tile_pixel(tiles, pixels_per_byte, t, x, y);
                        if (code != 0) {
                            const bool drawn = ref::tile_pixel(tiles, pixels_per_byte, std::abs(code), x, y) != 0;
                            if (drawn == (code > 0)) {
                                expected = ref::tile_pixel(tiles, pixels_per_byte, 3, x, y);
                            }
                        }
                        mismatches += ref::tile_sheet_pixel(sheet, t, x, y) != expected;
                    }
                }
            }
            EXPECT_EQ(mismatches, 0);
        }
    }
}

TEST(recolor_dungeon_grass, changes_one_colour_in_grass_tiles_below_256_only) {
    bytes sheet = ref::random_bytes(tile_sheet_bytes, 40);
    for (auto& pixel : sheet) {
        pixel %= 16;
    }
    bytes expected = sheet;
    for (int t = 0; t < 256; ++t) {
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                auto& pixel = ref::tile_sheet_pixel(expected, t, x, y);
                if (ref::listed_grass(t) && pixel == 2) {
                    pixel = 4;
                }
            }
        }
    }
    recolor_dungeon_grass(ref::as_tile_sheet(sheet), 2, 4);
    EXPECT_EQ(sheet, expected);
}

// CGA: the dungeon step turns 1 into 2 in grass, then the mirror room swaps 1
// and 2 everywhere, so grass ends with colour 1 where it had 1 or 2.
TEST(recolor_tile_sheet, cga_dungeon_then_mirror_room_leaves_grass_colours_1_and_2_as_1) {
    bytes tiles(tiles_buffer_size);
    for (const int t : {4, 5, 261}) { // not grass, grass, and 5 + 256
        for (int i = 0; i < 64; ++i) {
            tiles[t * 64 + i] = 0x1B; // pixels 0, 1, 2, 3
        }
    }
    bytes sheet(tile_sheet_bytes);
    decode_all(sheet, tiles, 4, 1);
    recolor_dungeon_grass(ref::as_tile_sheet(sheet), 1, 2);
    recolor_tile_sheet(ref::as_tile_sheet(sheet), cga_mirror_room_map);
    for (int x = 0; x < 16; ++x) {
        const int grass[] = {0, 1, 1, 3};
        const int other[] = {0, 2, 1, 3};
        EXPECT_EQ(ref::tile_sheet_pixel(sheet, 5, x, 9), grass[x % 4]) << x;
        EXPECT_EQ(ref::tile_sheet_pixel(sheet, 4, x, 9), other[x % 4]) << x;
        EXPECT_EQ(ref::tile_sheet_pixel(sheet, 261, x, 9), other[x % 4]) << x;
    }
}

TEST(recolor_tile_sheet, maps_every_pixel_and_leaves_values_above_15) {
    bytes sheet(tile_sheet_bytes);
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        sheet[i] = static_cast<std::uint8_t>(i % 256);
    }
    const bytes before = sheet;
    recolor_tile_sheet(ref::as_tile_sheet(sheet), ega_mirror_room_map);
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        ASSERT_EQ(sheet[i], before[i] < 16 ? ega_mirror_room_map[before[i]] : before[i]) << i;
    }
}

TEST(zero_pixel_mask, covers_exactly_the_fields_of_zero_pixels) {
    for (const int pixels_per_byte : {2, 4}) {
        const int bits = 8 / pixels_per_byte;
        for (int byte = 0; byte < 256; ++byte) {
            int expected = 0;
            for (int i = 0; i < pixels_per_byte; ++i) {
                const int field = ((1 << bits) - 1) << (i * bits);
                if ((byte & field) == 0) {
                    expected |= field;
                }
            }
            ASSERT_EQ(zero_pixel_mask(static_cast<std::uint8_t>(byte), pixels_per_byte), expected)
                << byte << ' ' << pixels_per_byte;
        }
    }
    EXPECT_EQ(zero_pixel_mask(0x1B, 4), 0xC0);
    EXPECT_EQ(zero_pixel_mask(0x10, 2), 0x0F);
}

TEST(decode_tile, refuses_positions_off_the_sheet_and_unknown_widths) {
    const bytes tiles(tiles_buffer_size, 0xFF);
    bytes sheet(tile_sheet_bytes, 0x40);
    struct place {
        int row, column, pixels_per_byte;
    };
    for (const place& c : {place{-1, 0, 2}, {32, 0, 2}, {0, -1, 4}, {0, 16, 4}, {0, 0, 0},
                           {0, 0, 1}, {0, 0, 3}, {0, 0, 8}, {INT_MAX, 0, 2}}) {
        EXPECT_EQ(decode_tile(ref::as_tile_sheet(sheet), ref::as_tiles(tiles), c.row, c.column,
                              c.pixels_per_byte, 1),
                  -1);
        EXPECT_EQ(tile_byte(ref::as_tiles(tiles), c.row, c.column, 0, 0, c.pixels_per_byte), 0);
    }
    EXPECT_EQ(sheet, bytes(tile_sheet_bytes, 0x40));
    for (const auto& [y, x] : {std::pair{-1, 0}, {16, 0}, {0, -1}, {0, 16}, {INT_MAX, INT_MAX}}) {
        EXPECT_EQ(tile_byte_offset(31, 15, y, x, 2), -1);
        EXPECT_EQ(tile_byte(ref::as_tiles(tiles), 31, 15, y, x, 2), 0);
    }
    EXPECT_EQ(tile_byte_offset(31, 15, 15, 15, 2), 65535);
    EXPECT_EQ(zero_pixel_mask(0, 3), 0);
}

TEST(remade_water_byte, reference_outside_1_to_255_keeps_the_own_byte) {
    const bytes tiles = ref::random_bytes(tiles_buffer_size, 50);
    for (const int reference : {0, 256, -256, 511, INT_MAX, INT_MIN}) {
        for (const int pixels_per_byte : {2, 4}) {
            EXPECT_EQ(remade_water_byte(ref::as_tiles(tiles), 6, 0, 3, 4, pixels_per_byte, 3, reference),
                      tile_byte(ref::as_tiles(tiles), 6, 0, 3, 4, pixels_per_byte))
                << reference;
        }
    }
}

} // namespace
} // namespace kz

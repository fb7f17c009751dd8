#include "reference.h"

#include <gtest/gtest.h>

namespace kz {
namespace {

TEST(shape_tables, flags_and_water_codes_match_the_game_lists) {
    for (int n = 0; n < 256; ++n) {
        SCOPED_TRACE(n);
        const int code = ref::listed_water_code(n);
        EXPECT_EQ(is_dungeon_grass(n / 16, n % 16), ref::listed_grass(n) ? 1 : 0);
        EXPECT_EQ(water_remake_code(n / 16, n % 16), code);
        // Stored form: bit 0 grass, bit 1 water, reference in the low byte
        // with bit 15 for inverted codes.
        EXPECT_EQ(shape_flags[n], (ref::listed_grass(n) ? 1 : 0) | (code != 0 ? 2 : 0));
        EXPECT_EQ(water_reference[n], code < 0 ? 0x8000 | -code : code);
    }
}

TEST(shape_tables, lookups_outside_the_landform_rows_give_zero) {
    for (const auto& [row, column] : {std::pair{16, 5}, {19, 4}, {31, 15}, {-1, 5}, {0, -1},
                                      {0, 16}, {3, 20}}) {
        EXPECT_EQ(is_dungeon_grass(row, column), 0) << row << ',' << column;
        EXPECT_EQ(water_remake_code(row, column), 0) << row << ',' << column;
    }
}

TEST(shape_tables, shape_palettes_store_blue_green_red_fourth) {
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shape_palette[i * 4 + 0], (i & 1) ? 255 : 0); // blue
        EXPECT_EQ(shape_palette[i * 4 + 1], (i & 4) ? 255 : 0); // green
        EXPECT_EQ(shape_palette[i * 4 + 2], (i & 2) ? 255 : 0); // red
        EXPECT_EQ(shape_palette[i * 4 + 3], i >= 8 ? 255 : 0);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(mask_source_palette[i * 4 + c], i >= 8 ? 255 : 0);
        }
    }
    EXPECT_EQ(mask_palette, (palette2{0, 0, 0, 0, 255, 255, 255, 255}));
}

TEST(shape_tables, pc_palettes_store_blue_green_red_fourth) {
    // The usual RGBI rule: 0xAA per colour bit, 0x55 more for intensity;
    // colour 6 is brown (green 0x55).
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const int bright = (i & 8) ? 0x55 : 0;
        EXPECT_EQ(ega_palette[i * 4 + 0], ((i & 1) ? 0xAA : 0) + bright);
        EXPECT_EQ(ega_palette[i * 4 + 1], i == 6 ? 0x55 : ((i & 2) ? 0xAA : 0) + bright);
        EXPECT_EQ(ega_palette[i * 4 + 2], ((i & 4) ? 0xAA : 0) + bright);
        EXPECT_EQ(ega_palette[i * 4 + 3], 0);
    }
    palette16 cga{};
    const std::uint8_t cyan_magenta_grey[] = {0xAA, 0xAA, 0, 0, 0xAA, 0, 0xAA, 0, 0xAA, 0xAA, 0xAA, 0};
    std::copy(std::begin(cyan_magenta_grey), std::end(cyan_magenta_grey), cga.begin() + 4);
    EXPECT_EQ(cga_palette, cga);
}

// Colour names of the shape palette's indices 0-7.
enum colour { black, blue, red, magenta, green, cyan, yellow, white };

TEST(shape_tables, mirror_maps_swap_the_listed_colours_and_keep_bit_3) {
    const std::array<colour, 8> mirrored = {black, cyan, green, green, red, blue, red, white};
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(mirror_room_map[i] & 7, mirrored[i & 7]);
        EXPECT_EQ(mirror_room_map[i] & 8, i & 8);
        // The EGA map is the same but for light blue and yellow.
        const int ega = i == 9 ? 12 : i == 14 ? 14 : mirror_room_map[i];
        EXPECT_EQ(ega_mirror_room_map[i], ega);
    }
    EXPECT_EQ(cga_mirror_room_map, (color_map{0, 2, 1, 3}));
}

} // namespace
} // namespace kz

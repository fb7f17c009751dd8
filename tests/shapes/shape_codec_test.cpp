// Planar decoder and encoder, the adjustment table and the sheet adjustments.
#include <climits>

#include "reference.h"

namespace kz {
namespace {

using ref::bytes;

// All 256 shapes of TILES.CH or NPC.CH, at their rows of the sheet.
void decode_file(bytes& sheet, const bytes& file, bool npc, int dungeon = 0) {
    for (int n = 0; n < 256; ++n) {
        decode_shape(ref::as_sheet(sheet), npc ? 16 : 0, n / 16, n % 16, file, npc ? 4 : 3,
                     dungeon);
    }
}

void encode_file(bytes& file, bytes& sheet, bool npc) {
    for (int n = 0; n < 256; ++n) {
        encode_shape(npc ? 16 : 0, n / 16, n % 16, file, npc ? 4 : 3, ref::as_sheet(sheet));
    }
}

bytes empty_file(bool npc) {
    return bytes(npc ? npc_ch_size : tiles_ch_size);
}

// One set bit in a file and the one sheet pixel it stands for, both ways.
TEST(shape_codec, each_bit_stands_for_its_own_pixel_and_plane) {
    // NPC.CH?, file offset, byte, pixel x, y, colour index
    const std::tuple<bool, int, std::uint8_t, int, int, std::uint8_t> cases[] = {
        {false, 0, 0x80, 0, 0, 1},          // bit 7 is the leftmost pixel
        {false, 0, 0x01, 7, 0, 1},          //
        {false, 3, 0x80, 24, 0, 1},         // fourth byte of a line: pixels 24-31
        {false, 127, 0x01, 31, 31, 1},      //
        {false, 128, 0x80, 0, 0, 2},        // plane 1 is red
        {false, 256, 0x01, 7, 0, 4},        // plane 2 is green
        {false, 512, 0x80, 32, 0, 2},       // shape 1 at 384, its plane 1 at 512
        {false, 17 * 384, 0x80, 32, 32, 1}, // shape 17: row 1, column 1
        {false, 98303, 0x01, 511, 511, 4},  // shape 255 ends the file
        {true, 384, 0x80, 0, 512, 8},       // plane 3 is the mask bit
        {true, 17 * 512 + 127, 0x01, 63, 575, 1},
        {true, 130560, 0x80, 480, 992, 1}, // shape 255 is the last 512 bytes
    };
    for (const auto& [npc, offset, value, x, y, index] : cases) {
        SCOPED_TRACE(testing::Message() << (npc ? "NPC.CH" : "TILES.CH") << " byte " << offset);
        bytes file = empty_file(npc), sheet(sheet_bytes);
        file[offset] = value;
        decode_file(sheet, file, npc);
        EXPECT_EQ(sheet[y * 512 + x], index);
        bytes encoded = empty_file(npc);
        encode_file(encoded, sheet, npc);
        EXPECT_EQ(encoded, file);
        sheet[y * 512 + x] = 0;
        EXPECT_EQ(sheet, bytes(sheet_bytes));
    }
}

// Decoding ORs each shape into a sheet that already holds pixels, in its own
// square only; with dungeon on, red and green exchange in the grass shapes
// (5 and 32, say, but not 4).
TEST(shape_decoder, ors_bit_readings_into_the_sheet_with_and_without_dungeon) {
    for (const auto& [npc, dungeon] : {std::pair{false, 0}, {false, 1}, {true, 0}}) {
        const bytes file = ref::random_bytes(npc ? npc_ch_size : tiles_ch_size, 17);
        const bytes before = ref::random_bytes(sheet_bytes, 6);
        bytes sheet = before, expected = before;
        decode_file(sheet, file, npc, dungeon);
        for (int i = 0; i < 256 * 1024; ++i) {
            const int n = i / 1024, x = i % 32, y = i / 32 % 32;
            const bool exchanged = dungeon != 0 && ref::listed_grass(n);
            ref::shape_pixel(expected, npc, n, x, y) |=
                ref::planar_pixel(file, npc ? 4 : 3, n, x, y, exchanged);
        }
        EXPECT_TRUE(sheet == expected) << "npc " << npc << " dungeon " << dungeon;
    }
}

// File to sheet and back gives the same bytes; sheet to file and back keeps
// the index bits that the file has planes for and drops the others.
TEST(shape_codec, round_trips_keep_every_bit_a_plane_can_hold) {
    for (const bool npc : {false, true}) {
        const bytes file = ref::random_bytes(npc ? npc_ch_size : tiles_ch_size, npc ? 3 : 4);
        bytes sheet(sheet_bytes), encoded(file.size(), 0x5A);
        decode_file(sheet, file, npc);
        encode_file(encoded, sheet, npc);
        EXPECT_EQ(encoded, file) << "npc " << npc;

        bytes random_sheet = ref::random_bytes(sheet_bytes, 7), decoded(sheet_bytes);
        encode_file(encoded, random_sheet, npc);
        decode_file(decoded, encoded, npc);
        const int first = npc ? sheet_bytes / 2 : 0;
        for (int i = first; i < first + sheet_bytes / 2; ++i) {
            ASSERT_EQ(decoded[i], random_sheet[i] & (npc ? 15 : 7)) << "npc " << npc << " at " << i;
        }
    }
}

// Encoding a shape leaves everything outside its record alone.
TEST(shape_encoder, writes_nothing_outside_the_shape_record) {
    bytes sheet = ref::random_bytes(sheet_bytes, 8);
    for (const bool npc : {false, true}) {
        const int planes = npc ? 4 : 3;
        bytes file(npc ? npc_ch_size : tiles_ch_size, 0xA5);
        ASSERT_EQ(encode_shape(npc ? 16 : 0, 1, 1, file, planes, ref::as_sheet(sheet)), 0);
        file.erase(file.begin() + 17 * 128 * planes, file.begin() + 18 * 128 * planes);
        EXPECT_EQ(file, bytes(file.size(), 0xA5)) << "npc " << npc;
    }
}

// The mask sets bit 3 only, over the shorter of the two, and so reaches
// NPC.CH plane 3.
TEST(merge_mask, sets_bit_3_where_the_mask_is_set_and_nothing_else) {
    bytes sheet{0, 7, 0x37, 0xF8, 0, 7, 0x37, 0xF0, 0}, mask{0, 0, 0, 0, 1, 0xFF, 1, 1, 1, 1};
    merge_mask(sheet, mask);
    EXPECT_EQ(sheet, (bytes{0, 7, 0x37, 0xF8, 8, 0xF, 0x3F, 0xF8, 8}));
    sheet.assign(4, 0);
    merge_mask(sheet, bytes{1, 1});
    EXPECT_EQ(sheet, (bytes{8, 8, 0, 0}));

    bytes full_sheet(sheet_bytes), full_mask(sheet_bytes), npc = empty_file(true), expected = npc;
    full_mask[512 * 512] = 1; // pixel (0, 512), the first of NPC.CH shape 0
    merge_mask(full_sheet, full_mask);
    encode_file(npc, full_sheet, true);
    expected[384] = 0x80; // its plane 3, line 0
    EXPECT_EQ(npc, expected);
}

TEST(shape_codec, places_off_the_sheet_or_past_the_data_are_refused_untouched) {
    // sheet row base, shape row, shape column, planes, file size
    // clang-format off
    const std::tuple<int, int, int, int, std::size_t> cases[] = {
        {0, -1, 0, 3, tiles_ch_size}, {0, 16, 0, 3, tiles_ch_size}, {0, 0, -1, 3, tiles_ch_size},
        {0, 0, 16, 3, tiles_ch_size}, {17, 15, 0, 4, npc_ch_size}, {-1, 0, 0, 3, tiles_ch_size},
        {INT_MAX, 1, 0, 3, tiles_ch_size}, {INT_MIN, 15, 0, 3, tiles_ch_size},
        {0, 0, 0, 0, tiles_ch_size}, {0, 0, 0, 5, 1 << 20}, {0, 15, 15, 3, tiles_ch_size - 1},
        {16, 15, 15, 4, npc_ch_size - 1}, {0, 0, 0, 3, 383}, {0, 0, 0, 3, 0}};
    // clang-format on
    for (const auto& [base, row, column, planes, size] : cases) {
        SCOPED_TRACE(testing::Message() << base << ' ' << row << ' ' << column << ' ' << planes);
        bytes file(size, 0xFF), sheet(sheet_bytes, 0x40);
        EXPECT_EQ(decode_shape(ref::as_sheet(sheet), base, row, column, file, planes, 1), -1);
        EXPECT_EQ(encode_shape(base, row, column, file, planes, ref::as_sheet(sheet)), -1);
        EXPECT_TRUE(sheet == bytes(sheet_bytes, 0x40) && file == bytes(size, 0xFF));
    }
}

TEST(shape_tables, flags_and_water_codes_match_the_game_lists) {
    for (int n = 0; n < 256; ++n) {
        const int code = ref::listed_water_code(n);
        EXPECT_EQ(is_dungeon_grass(n / 16, n % 16), ref::listed_grass(n) ? 1 : 0) << n;
        EXPECT_EQ(water_remake_code(n / 16, n % 16), code) << n;
        // Stored: bit 0 grass, bit 1 water; the code in the low byte, bit 15 inverted.
        EXPECT_EQ(shape_flags[n], (ref::listed_grass(n) ? 1 : 0) | (code != 0 ? 2 : 0)) << n;
        EXPECT_EQ(water_reference[n], code < 0 ? 0x8000 | -code : code) << n;
    }
    for (const auto& [row, column] : {std::pair{16, 5}, {31, 15}, {-1, 5}, {0, -1}, {0, 16}}) {
        EXPECT_EQ(is_dungeon_grass(row, column) | water_remake_code(row, column), 0)
            << row << ',' << column;
    }
}

// Indices 8-15 show the colours of 0-7, with 255 as fourth byte (the mask
// source: black, then white); the mirror room keeps bit 3, so the mask is
// the same with or without it.
TEST(shape_tables, palettes_repeat_their_colours_and_the_mirror_keeps_bit_3) {
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(
            std::tuple(shape_palette[i + 32], mask_source_palette[i], mask_source_palette[i + 32]),
            std::tuple(i % 4 == 3 ? 255 : shape_palette[i], 0, 255))
            << i;
        EXPECT_TRUE(i >= 8 || mirror_room_map[i + 8] == mirror_room_map[i] + 8) << i;
    }
    // blue, red and green in blue-green-red order; black and white in the mask palette
    EXPECT_EQ(std::tuple(shape_palette[4], shape_palette[10], shape_palette[17], shape_palette[7]),
              std::tuple(255, 255, 255, 0));
    EXPECT_EQ(mask_palette, (palette2{0, 0, 0, 0, 255, 255, 255, 255}));
    // blue to cyan, yellow to red; the EGA map differs at 9 and 14; CGA swaps 1 and 2
    EXPECT_EQ(std::tuple(mirror_room_map[1], mirror_room_map[6], mirror_room_map[14]),
              std::tuple(5, 2, 10));
    EXPECT_EQ(std::tuple(ega_mirror_room_map[9], ega_mirror_room_map[14]), std::tuple(12, 14));
    EXPECT_EQ(std::tuple(cga_mirror_room_map[1], cga_mirror_room_map[2], cga_mirror_room_map[3]),
              std::tuple(2, 1, 3));
}

// The sheet that carries its fourth plane: 0-7 the eight colours as ever;
// every entry far enough from every other (96 in RGB) that an RGB re-save,
// a palette reduction or a colour profile's rounding cannot merge two; and
// 8 + c reads as colour c dimmed, nearer to c than to any other of 0-7.
TEST(shape_tables, mask_in_sheet_colours_stand_apart_and_keep_the_eight) {
    const auto distance2 = [](int a, int b) {
        int sum = 0;
        for (int k = 0; k < 3; ++k) {
            const int d = mask_in_sheet_palette[4 * a + k] - mask_in_sheet_palette[4 * b + k];
            sum += d * d;
        }
        return sum;
    };
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < i; ++j) {
            EXPECT_GE(distance2(i, j), 96 * 96) << "entries " << i << " and " << j;
        }
    }
    for (int c = 0; c < 8; ++c) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(mask_in_sheet_palette[4 * c + k], shape_palette[4 * c + k]) << c;
        }
        int nearest = 0;
        for (int other = 1; other < 8; ++other) {
            nearest = distance2(8 + c, other) < distance2(8 + c, nearest) ? other : nearest;
        }
        EXPECT_EQ(nearest, c) << "entry " << 8 + c << " is no dimmed form of colour " << c;
    }
}

// Where each marked shape takes shape 3's pixels: the shores' water half
// (diagonal included), the opposite half for the inverted shores 228-231,
// and for 96-111 wherever shape n + 16 is drawn.
TEST(remake_water, redraws_marked_shapes_from_shape_3_and_nothing_else) {
    const bytes original = ref::random_bytes(sheet_bytes, 21, 16);
    bytes sheet = original, expected = original;
    remake_water(ref::as_sheet(sheet));
    for (int i = 0; i < 256 * 1024; ++i) {
        const int n = i / 1024, x = i % 32, y = i / 32 % 32;
        const int half = n >= 52 && n <= 55 ? n - 52 : n >= 228 && n <= 231 ? (n - 226) % 4 : -1;
        const bool water =
            half == 0   ? x + y <= 31
            : half == 1 ? x >= y
            : half == 2 ? x + y >= 31
            : half == 3 ? x <= y
                        : n >= 96 && n <= 111 && ref::shape_pixel(expected, false, n + 16, x, y);
        if (water) {
            ref::shape_pixel(expected, false, n, x, y) = ref::shape_pixel(expected, false, 3, x, y);
        }
    }
    EXPECT_EQ(sheet, expected);
}

// Dungeon on: grass shape 96 keeps its exchanged colours, and its water
// comes from shape 3 as decoded, which is not exchanged.
TEST(remake_water, reads_the_sheet_as_the_decoder_left_it) {
    bytes file = empty_file(false), sheet(sheet_bytes);
    std::fill_n(file.begin() + (3 * 3 + 1) * 128, 128, 0xFF);   // water: red all over
    std::fill_n(file.begin() + (96 * 3 + 1) * 128, 128, 0xFF);  // grass 96: red, so green
    std::fill_n(file.begin() + (112 * 3 + 0) * 128, 128, 0xF0); // 112 drawn in x % 8 < 4
    decode_file(sheet, file, false, 1);
    remake_water(ref::as_sheet(sheet));
    for (int x = 0; x < 32; ++x) {
        EXPECT_EQ(ref::shape_pixel(sheet, false, 96, x, 7), x % 8 < 4 ? 2 : 4) << x;
    }
}

// Every pixel of the shape sheet and of the tile sheet is mapped; a value
// above 15 has no entry and stays.
TEST(recolor_mirror_room, maps_every_pixel_of_both_sheets) {
    bytes sheet(sheet_bytes);
    for (int i = 0; i < sheet_bytes; ++i) {
        sheet[i] = static_cast<std::uint8_t>(i % 251);
    }
    bytes tile_sheet(sheet.begin(), sheet.begin() + tile_sheet_bytes);
    recolor_mirror_room(ref::as_sheet(sheet));
    recolor_tile_sheet(ref::as_tile_sheet(tile_sheet), ega_mirror_room_map);
    for (int i = 0; i < sheet_bytes; ++i) {
        const int v = i % 251;
        ASSERT_EQ(sheet[i], v < 16 ? mirror_room_map[v] : v) << i;
        ASSERT_TRUE(i >= tile_sheet_bytes || tile_sheet[i] == (v < 16 ? ega_mirror_room_map[v] : v))
            << i;
    }
}

} // namespace
} // namespace kz

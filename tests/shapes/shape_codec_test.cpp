// Planar decoder and encoder.
#include "reference.h"

#include <gtest/gtest.h>

#include <climits>

namespace kz {
namespace {

using ref::bytes;

void decode_file(bytes& sheet, const bytes& file, bool npc, int dungeon = 0) {
    for (int n = 0; n < 256; ++n) {
        ASSERT_EQ(decode_shape(ref::as_sheet(sheet), npc ? 16 : 0, n / 16, n % 16, file,
                               npc ? 4 : 3, dungeon),
                  0);
    }
}

void encode_file(bytes& file, bytes& sheet, bool npc) {
    for (int n = 0; n < 256; ++n) {
        ASSERT_EQ(encode_shape(npc ? 16 : 0, n / 16, n % 16, file, npc ? 4 : 3, ref::as_sheet(sheet)), 0);
    }
}

bytes empty_file(bool npc) { return bytes(npc ? npc_ch_size : tiles_ch_size); }

// One set bit in a file and the one sheet pixel it stands for.
struct single_bit {
    bool npc;
    int offset;
    std::uint8_t value;
    int x, y;
    std::uint8_t index;
};

void PrintTo(const single_bit& c, std::ostream* out) {
    *out << (c.npc ? "NPC.CH" : "TILES.CH") << " byte " << c.offset << " = " << int{c.value}
         << " -> pixel (" << c.x << ", " << c.y << ") = " << int{c.index};
}

const single_bit single_bits[] = {
    {false, 0, 0x80, 0, 0, 1},           // bit 7 is the leftmost pixel
    {false, 0, 0x01, 7, 0, 1},
    {false, 3, 0x80, 24, 0, 1},          // fourth byte of a line: pixels 24-31
    {false, 127, 0x01, 31, 31, 1},
    {false, 128, 0x80, 0, 0, 2},         // plane 1 is red
    {false, 256, 0x01, 7, 0, 4},         // plane 2 is green
    {false, 512, 0x80, 32, 0, 2},        // shape 1 at 384, its plane 1 at 512
    {false, 17 * 384, 0x80, 32, 32, 1},  // shape 17: row 1, column 1
    {false, 97920, 0x80, 480, 480, 1},   // shape 255 is the last 384 bytes
    {false, 98303, 0x01, 511, 511, 4},
    {true, 384, 0x80, 0, 512, 8},        // plane 3 is the mask bit
    {true, 17 * 512 + 127, 0x01, 63, 575, 1},
    {true, 130560, 0x80, 480, 992, 1},   // shape 255 is the last 512 bytes
    {true, 131071, 0x01, 511, 1023, 8},
};

class single_bit_test : public testing::TestWithParam<single_bit> {};

TEST_P(single_bit_test, decoder_puts_the_bit_on_its_pixel_only) {
    const single_bit& c = GetParam();
    bytes file = empty_file(c.npc);
    file[c.offset] = c.value;
    bytes sheet(sheet_bytes);
    decode_file(sheet, file, c.npc);
    EXPECT_EQ(ref::sheet_pixel(sheet, c.x, c.y), c.index);
    ref::sheet_pixel(sheet, c.x, c.y) = 0;
    EXPECT_EQ(sheet, bytes(sheet_bytes));
}

TEST_P(single_bit_test, encoder_puts_the_pixel_in_its_byte_only) {
    const single_bit& c = GetParam();
    bytes sheet(sheet_bytes);
    ref::sheet_pixel(sheet, c.x, c.y) = c.index;
    bytes file = empty_file(c.npc);
    encode_file(file, sheet, c.npc);
    bytes expected = empty_file(c.npc);
    expected[c.offset] = c.value;
    EXPECT_EQ(file, expected);
}

INSTANTIATE_TEST_SUITE_P(planar, single_bit_test, testing::ValuesIn(single_bits));

TEST(shape_decoder, matches_bit_reading_on_random_files) {
    for (const auto& [npc, dungeon] : {std::pair{false, 0}, {false, 1}, {true, 0}, {true, 1}}) {
        SCOPED_TRACE(testing::Message() << "npc " << npc << " dungeon " << dungeon);
        const bytes file = ref::random_bytes(npc ? npc_ch_size : tiles_ch_size, 17);
        bytes sheet(sheet_bytes);
        decode_file(sheet, file, npc, dungeon);
        int mismatches = 0;
        for (int n = 0; n < 256; ++n) {
            const bool exchanged = dungeon != 0 && ref::listed_grass(n);
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    mismatches += ref::shape_pixel(sheet, npc, n, x, y) !=
                                  ref::planar_pixel(file, npc ? 4 : 3, n, x, y, exchanged);
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// Dungeon on: red and green exchange in the grass shapes only.
TEST(shape_decoder, dungeon_exchanges_red_and_green_in_grass_shapes_only) {
    struct planes_case {
        int shape;
        int planes_set; // bit p: plane p has pixel (0, 0) set
        int index;
    };
    for (const planes_case& c : {planes_case{5, 2, 4}, {4, 2, 2}, {32, 5, 3}, {3, 5, 5},
                                 {96, 4, 2}, {76, 7, 7}, {228, 2, 2}, {255, 4, 4}}) {
        bytes file = empty_file(false);
        for (int p = 0; p < 3; ++p) {
            file[(c.shape * 3 + p) * 128] = (c.planes_set >> p) & 1 ? 0x80 : 0;
        }
        bytes sheet(sheet_bytes);
        decode_file(sheet, file, false, 1);
        EXPECT_EQ(ref::shape_pixel(sheet, false, c.shape, 0, 0), c.index) << "shape " << c.shape;
    }
}

TEST(shape_decoder, ors_into_pixels_already_there_and_touches_no_other_shape) {
    const bytes file = ref::random_bytes(npc_ch_size, 5);
    const bytes before = ref::random_bytes(sheet_bytes, 6);
    bytes sheet = before;
    ASSERT_EQ(decode_shape(ref::as_sheet(sheet), 16, 1, 1, file, 4, 0), 0);
    for (int y = 0; y < 1024; ++y) {
        for (int x = 0; x < 512; ++x) {
            const bool inside = x >= 32 && x < 64 && y >= 544 && y < 576;
            const int decoded = inside ? ref::planar_pixel(file, 4, 17, x - 32, y - 544) : 0;
            ASSERT_EQ(sheet[y * 512 + x], before[y * 512 + x] | decoded) << x << ',' << y;
        }
    }
}

TEST(shape_codec, decode_then_encode_gives_back_the_same_bytes) {
    for (const bool npc : {false, true}) {
        const bytes file = ref::random_bytes(npc ? npc_ch_size : tiles_ch_size, npc ? 3 : 4);
        bytes sheet(sheet_bytes);
        decode_file(sheet, file, npc);
        bytes encoded(file.size(), 0x5A);
        encode_file(encoded, sheet, npc);
        EXPECT_EQ(encoded, file) << "npc " << npc;
    }
}

TEST(shape_encoder, drops_index_bits_the_file_has_no_plane_for) {
    for (const std::uint8_t pixel : {std::uint8_t{0xF8}, std::uint8_t{0xF0}}) {
        bytes sheet(sheet_bytes, pixel);
        bytes tiles(tiles_ch_size, 0x5A);
        bytes npc(npc_ch_size, 0x5A);
        encode_file(tiles, sheet, false);
        encode_file(npc, sheet, true);
        EXPECT_EQ(tiles, bytes(tiles_ch_size)) << int{pixel};
        for (std::size_t i = 0; i < npc.size(); ++i) {
            const bool plane3 = i % 512 >= 384;
            ASSERT_EQ(npc[i], plane3 && (pixel & 8) ? 0xFF : 0) << i << ' ' << int{pixel};
        }
    }
}

TEST(shape_encoder, writes_nothing_outside_the_shape_record) {
    bytes sheet = ref::random_bytes(sheet_bytes, 8);
    bytes file(npc_ch_size, 0xA5);
    ASSERT_EQ(encode_shape(16, 1, 1, file, 4, ref::as_sheet(sheet)), 0);
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (i < 17 * 512 || i >= 18 * 512) {
            ASSERT_EQ(file[i], 0xA5) << i;
        }
    }
}

TEST(merge_mask, sets_bit_3_where_the_mask_is_set_and_nothing_else) {
    const std::uint8_t sheet_values[] = {0, 7, 8, 0x37, 0xF0};
    const std::uint8_t mask_values[] = {0, 1, 0xFF};
    bytes sheet, mask, expected;
    for (const std::uint8_t s : sheet_values) {
        for (const std::uint8_t m : mask_values) {
            sheet.push_back(s);
            mask.push_back(m);
            expected.push_back(m != 0 ? s | 8 : s);
        }
    }
    merge_mask(sheet, mask);
    EXPECT_EQ(sheet, expected);

    // Only the shorter of the two is walked.
    bytes short_sheet(2), long_mask(4, 1);
    merge_mask(short_sheet, long_mask);
    EXPECT_EQ(short_sheet, (bytes{8, 8}));
    bytes long_sheet(4), short_mask(2, 1);
    merge_mask(long_sheet, short_mask);
    EXPECT_EQ(long_sheet, (bytes{8, 8, 0, 0}));
}

TEST(merge_mask, mask_reaches_npc_plane_3_only) {
    bytes sheet(sheet_bytes), mask(sheet_bytes);
    ref::sheet_pixel(mask, 0, 512) = 1;
    for (int y = 0; y < 512; ++y) {
        ref::sheet_pixel(mask, y, y) = 1; // landform rows: no plane for it
    }
    merge_mask(sheet, mask);
    bytes tiles(tiles_ch_size), npc(npc_ch_size);
    encode_file(tiles, sheet, false);
    encode_file(npc, sheet, true);
    EXPECT_EQ(tiles, bytes(tiles_ch_size));
    bytes expected(npc_ch_size);
    expected[384] = 0x80;
    EXPECT_EQ(npc, expected);
}

// Arguments that would put the shape off the sheet or its record past the data.
struct bad_place {
    int base, row, column, planes;
    std::size_t file_size;
};

void PrintTo(const bad_place& c, std::ostream* out) {
    *out << "base " << c.base << " row " << c.row << " column " << c.column << " planes "
         << c.planes << " file " << c.file_size;
}

class bad_place_test : public testing::TestWithParam<bad_place> {};

TEST_P(bad_place_test, decoder_and_encoder_refuse_and_touch_nothing) {
    const bad_place& c = GetParam();
    bytes file(c.file_size, 0xFF);
    bytes sheet(sheet_bytes, 0x40);
    EXPECT_EQ(decode_shape(ref::as_sheet(sheet), c.base, c.row, c.column, file, c.planes, 1), -1);
    EXPECT_EQ(sheet, bytes(sheet_bytes, 0x40));
    EXPECT_EQ(encode_shape(c.base, c.row, c.column, file, c.planes, ref::as_sheet(sheet)), -1);
    EXPECT_EQ(file, bytes(c.file_size, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(
    planar, bad_place_test,
    testing::Values(bad_place{0, -1, 0, 3, tiles_ch_size}, bad_place{0, 16, 0, 3, tiles_ch_size},
                    bad_place{0, 0, -1, 3, tiles_ch_size}, bad_place{0, 0, 16, 3, tiles_ch_size},
                    bad_place{17, 15, 0, 4, npc_ch_size}, bad_place{-1, 0, 0, 3, tiles_ch_size},
                    bad_place{INT_MAX, 1, 0, 3, tiles_ch_size},
                    bad_place{INT_MIN, 15, 0, 3, tiles_ch_size}, bad_place{0, 0, 0, 0, tiles_ch_size},
                    bad_place{0, 0, 0, 5, 1 << 20}, bad_place{0, 15, 15, 3, tiles_ch_size - 1},
                    bad_place{16, 15, 15, 4, npc_ch_size - 1}, bad_place{0, 0, 0, 3, 383},
                    bad_place{0, 0, 0, 3, 0}));

} // namespace
} // namespace kz

#include <algorithm>
#include <climits>

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

const rgb black{}, white{255, 255, 255}, blue{0, 0, 255};

// Entries of the colours given, each repeated `times` times.
bytes palette_of(std::initializer_list<rgb> colours, int times = 1) {
    bytes palette;
    for (const rgb& c : colours) {
        for (int i = 0; i < times; ++i) {
            palette.insert(palette.end(), {c.blue, c.green, c.red, 0xFF});
        }
    }
    return palette;
}

TEST(bitmap_find_nearest_color, first_exact_match_else_nearest_lowest_on_ties) {
    const std::tuple<bytes, rgb, int> cases[] = {
        {palette_of({black, blue, black}), black, 0},
        {palette_of({{5, 5, 5}, black, black}), black, 1},
        {palette_of({{10, 0, 0}, {0, 10, 0}}), black, 0}, // equal distances
        {palette_of({{0, 0, 20}, {10, 0, 0}, {0, 10, 0}}), black, 1},
        {palette_of({{255, 0, 0}, blue}), {0, 0, 200}, 1}, // blue is byte 0 of an entry
        {palette_of({white}), black, 0},                   // the largest distance
        {bytes{}, {1, 2, 3}, 0},
    };
    for (const auto& [palette, c, expected] : cases) {
        EXPECT_EQ(
            find_nearest_color(c.red, c.green, c.blue, palette.data(), int(palette.size() / 4)),
            expected);
    }
}

// Every pair of bit counts converts a 7 x 3 picture of colours that both
// sides can hold. The target palette holds test colour j at entry j, the
// source palette colour j + 1, so indexes must be mapped. Palette fourth
// bytes never reach a direct target; the fourth bytes of 32-bit pixels and
// bit 15 of 16-bit ones survive only a copy to the same bit count.
class convert_bitmap_pairs : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(convert_bitmap_pairs, keeps_each_pixel_colour) {
    const auto [source_bits, target_bits] = GetParam();
    const int n = std::min(colours_at(source_bits), colours_at(target_bits));
    bytes source_palette = test_palette(source_bits <= 8 ? 1 << source_bits : 0);
    if (source_bits <= 8) {
        std::rotate(source_palette.begin(), source_palette.begin() + 4,
                    source_palette.begin() + 4 * n);
    }
    const bytes target_palette = test_palette(target_bits <= 8 ? 1 << target_bits : 0);
    bytes source, expected;
    for (int i = 0; i < 21; ++i) {
        const int colour = picture_index(i % 7, i / 7, n);
        put_pixel(source, source_bits, colour, (colour + n - 1) % n, std::uint8_t(0xA0 + i));
        put_pixel(expected, target_bits, colour, colour, 0);
    }
    if (source_bits == target_bits && source_bits > 8) {
        expected = source;
    }
    buffer_slot target;
    EXPECT_EQ(convert_bitmap(7, 3, source_bits, source_palette.data(), source, target_bits,
                             target_palette.data(), &target),
              0);
    EXPECT_EQ(bytes(target.data, target.data + target.size), expected);

    // Where the target takes no more bytes a pixel, it may be the source's
    // own buffer: every pixel is read before it is written over.
    if (expected.size() <= source.size()) {
        bytes shared = source;
        buffer_slot in_place = borrowed_slot(shared.data(), shared.size());
        EXPECT_EQ(convert_bitmap(7, 3, source_bits, source_palette.data(), shared, target_bits,
                                 target_palette.data(), &in_place),
                  0);
        EXPECT_EQ(bytes(shared.begin(), shared.begin() + std::ssize(expected)), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(bit_counts, convert_bitmap_pairs,
                         testing::Combine(testing::Values(1, 4, 8, 16, 24, 32),
                                          testing::Values(1, 4, 8, 16, 24, 32)),
                         [](const auto& info) {
                             return "from_" + std::to_string(std::get<0>(info.param)) + "_to_" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Pixels whose conversion is pinned down exactly, into a caller's buffer
// with two guard bytes after it, which must stay as they were.
TEST(convert_bitmap, edge_pixels_convert_as_the_format_says) {
    const bytes mask_source = palette_of({black, white}, 8);
    // clang-format off
    const std::tuple<const char*, int, bytes, bytes, int, bytes, bytes> cases[] = {
        {"white_16_to_24", 16, {}, {0xFF, 0x7F}, 24, {}, {0xFF, 0xFF, 0xFF}},
        {"bit_15_alone_is_black", 16, {}, {0x00, 0x80}, 24, {}, {0, 0, 0}},
        {"narrowed_24_to_16", 24, {}, {0x12, 0x34, 0x56}, 16, {}, {0xC2, 0x28}},
        {"widened_16_to_24", 16, {}, {0xC2, 0x28}, 24, {}, {0x10, 0x31, 0x52}},
        // the mask sheet: colours 0-7 black, 8-15 white; high nibbles ignored
        {"mask_from_4_bits", 4, mask_source, {0x10, 7, 8, 0x1F, 3, 12}, 1,
         palette_of({black, white}), {0, 0, 1, 1, 0, 1}},
        {"one_bit_without_palette_is_black_and_white", 1, {}, {0, 1, 2}, 4,
         palette_of({{10, 10, 10}, {250, 250, 250}}, 8), {0, 8, 8}},
        // through the index map even with the same palette: a colour that
        // also stands at a lower index becomes that index
        {"same_palette_duplicate_to_lower_index", 4, mask_source, {9, 2, 15}, 4, mask_source,
         {8, 0, 8}},
    };
    // clang-format on
    for (const auto& [name, source_bits, source_palette, source, target_bits, target_palette,
                      expected] : cases) {
        bytes buffer(expected.size() + 2, 0xEE);
        buffer_slot target = borrowed_slot(buffer.data(), buffer.size());
        const int width = int(source.size()) / ((source_bits + 7) / 8);
        EXPECT_EQ(convert_bitmap(width, 1, source_bits, source_palette.data(), source, target_bits,
                                 target_palette.data(), &target),
                  0);
        bytes guarded = expected;
        guarded.insert(guarded.end(), {0xEE, 0xEE});
        EXPECT_EQ(buffer, guarded) << name;
        EXPECT_EQ(target.owned, nullptr) << name;
    }
}

TEST(convert_bitmap, unsupported_bits_or_missing_palette_leave_a_cleared_buffer) {
    const bytes source(36, 1), palette = test_palette(256);
    buffer_slot allocated; // 2 bits: one byte per pixel, cleared, kept in the slot
    EXPECT_EQ(convert_bitmap(4, 3, 8, palette.data(), source, 2, palette.data(), &allocated), -1);
    EXPECT_EQ(bytes(allocated.data, allocated.data + allocated.size), bytes(12));
    // 12 bits would be 24 bytes; the caller's 12 are cleared and no more.
    bytes buffer(14, 0xEE);
    buffer_slot caller = borrowed_slot(buffer.data(), 12);
    EXPECT_EQ(convert_bitmap(4, 3, 8, palette.data(), source, 12, palette.data(), &caller), -1);
    EXPECT_EQ(buffer, (bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE, 0xEE}));
    for (const int bits : {4, 8}) {
        buffer_slot from, to;
        EXPECT_EQ(convert_bitmap(4, 3, bits, nullptr, source, 1, nullptr, &from), -1);
        EXPECT_EQ(bytes(from.data, from.data + from.size), bytes(12));
        EXPECT_EQ(convert_bitmap(4, 3, 24, nullptr, source, bits, nullptr, &to), -1);
    }
}

TEST(convert_bitmap, bad_sizes_are_refused_before_touching_anything) {
    const bytes small(16, 1), palette = test_palette(256);
    bytes caller(16, 0xEE);
    // width, height, source bits, target bits, whether the caller gives a
    // buffer. Too much for the 16 bytes of source or target, a source of
    // unknown bit count (which would have the call allocate whatever the sizes
    // say) and a target wider than any pixel are refused alike.
    // clang-format off
    const std::tuple<int, int, int, int, bool> cases[] = {
        {-1, 4, 8, 8, false}, {4, -1, 8, 8, false}, {INT_MIN, INT_MIN, 8, 8, false},
        {0x10000, 0x8000, 8, 8, false}, {0x8000, 0x8000, 8, 24, false},
        {INT_MAX, INT_MAX, 8, 1, false}, {4, 4, 8, -100, false},
        {5, 4, 8, 8, false}, {4, 2, 24, 8, false}, {4, 2, 8, 24, true},
        {4, 4, 3, 8, false}, {0x4000, 0x4000, 2, 16, false}, {2, 2, 8, 40, false},
        {1, 1, 8, 0x7FFFFFF8, false}};
    // clang-format on
    for (const auto& [width, height, source_bits, target_bits, given] : cases) {
        SCOPED_TRACE(testing::Message()
                     << width << 'x' << height << ' ' << source_bits << " to " << target_bits);
        buffer_slot target = given ? borrowed_slot(caller.data(), 16) : buffer_slot{};
        EXPECT_EQ(convert_bitmap(width, height, source_bits, palette.data(), small, target_bits,
                                 palette.data(), &target),
                  -1);
        EXPECT_EQ(target.owned, nullptr);
        EXPECT_EQ(caller, bytes(16, 0xEE));
    }
    buffer_slot target;
    EXPECT_EQ(convert_bitmap(2, 2, 8, palette.data(), {}, 8, palette.data(), &target), -1);
    EXPECT_EQ(convert_bitmap(2, 2, 8, palette.data(), small, 8, palette.data(), nullptr), -1);
}

} // namespace
} // namespace kz::test

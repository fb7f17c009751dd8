#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

bytes palette_of(std::initializer_list<rgb> colours) {
    bytes palette;
    for (const rgb& c : colours) {
        palette.insert(palette.end(), {c.blue, c.green, c.red, 0});
    }
    return palette;
}

TEST(bitmap_find_nearest_color, first_exact_match_else_nearest_lowest_on_ties) {
    const rgb black{};
    const rgb blue{0, 0, 255};
    struct {
        bytes palette;
        rgb colour;
        int expected;
    } const cases[] = {
        {palette_of({black, blue, black}), black, 0},
        {palette_of({{5, 5, 5}, black, black}), black, 1},
        {palette_of({{10, 0, 0}, {0, 10, 0}}), black, 0}, // equal distances
        {palette_of({{0, 0, 20}, {10, 0, 0}, {0, 10, 0}}), black, 1},
        {palette_of({{255, 0, 0}, blue}), {0, 0, 200}, 1}, // blue is byte 0 of an entry
        {palette_of({{255, 255, 255}}), black, 0},         // the largest distance
        {palette_of({black, {255, 255, 255}}), {200, 200, 200}, 1},
        {bytes{}, {1, 2, 3}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(find_nearest_color(c.colour.red, c.colour.green, c.colour.blue, c.palette.data(),
                                     static_cast<int>(c.palette.size() / 4)),
                  c.expected);
    }
}

// Every pair of bit counts: a picture of colours that both sides can hold,
// the source palette and the target palette holding them in different orders.
constexpr int convert_width = 7;
constexpr int convert_height = 3;

int palette_entries(int bits) {
    return bits <= 8 ? 1 << bits : 0;
}

int shared_colours(int source_bits, int target_bits) {
    int n = 40;
    for (const int bits : {source_bits, target_bits}) {
        if (bits <= 8) {
            n = std::min(n, palette_entries(bits));
        }
    }
    return n;
}

// Entry j of a palette holds colour (j * step + 3) % n; the rest are colours
// that no picture uses (components 1 and 2 are no widened 5-bit values).
bytes ordered_palette(int bits, int n, int step) {
    bytes palette;
    for (int j = 0; j < palette_entries(bits); ++j) {
        const rgb c =
            j < n ? test_colour((j * step + 3) % n) : rgb{1, 2, static_cast<std::uint8_t>(j)};
        palette.insert(palette.end(), {c.blue, c.green, c.red, 0xFF});
    }
    return palette;
}

int entry_of(int colour, int n, int step) {
    for (int j = 0; j < n; ++j) {
        if ((j * step + 3) % n == colour) {
            return j;
        }
    }
    return -1;
}

void append_pixel(bytes& out, int bits, int colour, int n, int step, int fourth) {
    const rgb c = test_colour(colour);
    if (bits <= 8) {
        out.push_back(static_cast<std::uint8_t>(entry_of(colour, n, step)));
    } else if (bits == 16) { // bit 15 set: it carries no colour
        const unsigned v = 0x8000 | (c.red >> 3) << 10 | (c.green >> 3) << 5 | (c.blue >> 3);
        out.insert(out.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    } else {
        out.insert(out.end(), {c.blue, c.green, c.red});
        if (bits == 32) {
            out.push_back(static_cast<std::uint8_t>(fourth));
        }
    }
}

class convert_bitmap_pairs : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(convert_bitmap_pairs, keeps_each_pixel_colour) {
    const auto [source_bits, target_bits] = GetParam();
    constexpr int source_step = 7;
    constexpr int target_step = 11;
    const int n = shared_colours(source_bits, target_bits);
    const bytes source_palette = ordered_palette(source_bits, n, source_step);
    const bytes target_palette = ordered_palette(target_bits, n, target_step);
    bytes source;
    bytes expected;
    for (int y = 0; y < convert_height; ++y) {
        for (int x = 0; x < convert_width; ++x) {
            const int colour = picture_index(x, y, n);
            append_pixel(source, source_bits, colour, n, source_step, 0xA0 + x);
            append_pixel(expected, target_bits, colour, n, target_step, 0);
        }
    }
    if (source_bits == target_bits && source_bits > 8) {
        expected = source; // copied unchanged, bit 15 and fourth bytes too
    } else if (target_bits == 16) {
        for (std::size_t i = 1; i < expected.size(); i += 2) {
            expected[i] &= 0x7F; // bit 15 is 0 when written
        }
    }
    buffer_slot target;
    EXPECT_EQ(convert_bitmap(convert_width, convert_height, source_bits,
                             source_bits <= 8 ? source_palette.data() : nullptr, source,
                             target_bits, target_bits <= 8 ? target_palette.data() : nullptr,
                             &target),
              0);
    ASSERT_NE(target.data, nullptr);
    EXPECT_EQ(bytes(target.data, target.data + target.size), expected);
}

INSTANTIATE_TEST_SUITE_P(bit_counts, convert_bitmap_pairs,
                         testing::Combine(testing::Values(1, 4, 8, 16, 24, 32),
                                          testing::Values(1, 4, 8, 16, 24, 32)));

// Single pixels whose conversion the format pins down exactly.
struct pixel_case {
    const char* name;
    int source_bits;
    bytes source_palette;
    bytes source;
    int target_bits;
    bytes expected;
};

void PrintTo(const pixel_case& c, std::ostream* os) {
    *os << c.name;
}

class convert_bitmap_pixels : public testing::TestWithParam<pixel_case> {};

TEST_P(convert_bitmap_pixels, convert_as_the_format_says) {
    const pixel_case& c = GetParam();
    buffer_slot target;
    const int pixels = static_cast<int>(c.expected.size()) / ((c.target_bits + 7) / 8);
    ASSERT_EQ(convert_bitmap(pixels, 1, c.source_bits,
                             c.source_palette.empty() ? nullptr : c.source_palette.data(), c.source,
                             c.target_bits, nullptr, &target),
              0);
    ASSERT_NE(target.data, nullptr);
    EXPECT_EQ(bytes(target.data, target.data + target.size), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    edges, convert_bitmap_pixels,
    testing::Values(
        pixel_case{"white_16_to_24", 16, {}, {0xFF, 0x7F}, 24, {0xFF, 0xFF, 0xFF}},
        pixel_case{"bit_15_alone_is_black", 16, {}, {0x00, 0x80}, 24, {0, 0, 0}},
        pixel_case{"mid_grey_16_to_32", 16, {}, {0x10, 0x42}, 32, {0x84, 0x84, 0x84, 0}},
        pixel_case{"narrowed_24_to_16", 24, {}, {0x12, 0x34, 0x56}, 16, {0xC2, 0x28}},
        pixel_case{"widened_16_to_24", 16, {}, {0xC2, 0x28}, 24, {0x10, 0x31, 0x52}},
        pixel_case{
            "fourth_byte_skipped_32_to_16", 32, {}, {0x12, 0x34, 0x56, 0xFF}, 16, {0xC2, 0x28}},
        pixel_case{"fourth_byte_kept_32_to_32", 32, {}, {1, 2, 3, 0xEE}, 32, {1, 2, 3, 0xEE}},
        pixel_case{"fourth_byte_zero_24_to_32", 24, {}, {1, 2, 3}, 32, {1, 2, 3, 0}},
        pixel_case{"fourth_byte_dropped_32_to_24", 32, {}, {1, 2, 3, 0xEE}, 24, {1, 2, 3}},
        pixel_case{"palette_fourth_byte_not_copied",
                   8,
                   bytes{9, 8, 7, 0xFF, 4, 5, 6, 0xFF},
                   {1, 0},
                   32,
                   {4, 5, 6, 0, 9, 8, 7, 0}},
        pixel_case{"indexed_to_16", 8, bytes{0x12, 0x34, 0x56, 0}, {0}, 16, {0xC2, 0x28}},
        // outside the palette: 1 bit reads any non-zero byte as set, 4 bits the low nibble
        pixel_case{"one_bit_byte_2_is_set",
                   1,
                   {},
                   {2, 0xFF, 0},
                   24,
                   {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}},
        pixel_case{"four_bit_high_nibble_ignored", 4, bytes(64, 0), {0x1F}, 24, {0, 0, 0}}),
    [](const testing::TestParamInfo<pixel_case>& info) { return std::string(info.param.name); });

TEST(convert_bitmap, four_bit_sheet_makes_the_mask_into_a_caller_buffer) {
    bytes source_palette(64, 0);
    for (int i = 8; i < 16; ++i) {
        std::fill_n(source_palette.begin() + i * 4, 3, 255);
    }
    const bytes mask_palette = palette_of({{}, {255, 255, 255}});
    bytes sheet;
    for (int i = 0; i < 16; ++i) {
        sheet.push_back(static_cast<std::uint8_t>(i | 0x10)); // high nibble ignored
    }
    bytes mask(20, 0xEE);
    buffer_slot slot = borrowed_slot(mask.data(), mask.size());
    EXPECT_EQ(convert_bitmap(16, 1, 4, source_palette.data(), sheet, 1, mask_palette.data(), &slot),
              0);
    EXPECT_EQ(slot.owned, nullptr);
    const bytes expected{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(mask, expected);
}

TEST(convert_bitmap, one_bit_without_palette_is_black_and_white) {
    bytes target_palette = palette_of(
        {{128, 0, 0}, {0, 0, 128}, {200, 200, 200}, {10, 10, 10}, {250, 250, 250}, {0, 128, 0}});
    target_palette.resize(64, 128);
    buffer_slot target;
    const bytes source{0, 1, 1, 0};
    ASSERT_EQ(convert_bitmap(4, 1, 1, nullptr, source, 4, target_palette.data(), &target), 0);
    EXPECT_EQ(bytes(target.data, target.data + target.size), (bytes{3, 4, 4, 3}));
}

TEST(convert_bitmap, same_palette_maps_duplicate_colour_to_lower_index) {
    bytes palette = test_palette(256);
    std::copy_n(palette.begin() + 2 * 4, 3, palette.begin() + 5 * 4);
    const bytes source{5, 2, 6};
    buffer_slot target;
    ASSERT_EQ(convert_bitmap(3, 1, 8, palette.data(), source, 8, palette.data(), &target), 0);
    EXPECT_EQ(bytes(target.data, target.data + target.size), (bytes{2, 2, 6}));
}

TEST(convert_bitmap, unsupported_target_leaves_a_cleared_buffer) {
    const bytes source(12, 1);
    const bytes palette = test_palette(16);
    { // allocated for 2 bits (one byte per pixel), cleared, kept in the slot
        buffer_slot target;
        EXPECT_EQ(
            convert_bitmap(4, 3, 8, test_palette(256).data(), source, 2, palette.data(), &target),
            -1);
        ASSERT_NE(target.data, nullptr);
        EXPECT_EQ(bytes(target.data, target.data + target.size), bytes(12, 0));
    }
    { // 12 bits would be 24 bytes; the caller's 12 are cleared and no more
        bytes buffer(12, 0xEE);
        buffer_slot target = borrowed_slot(buffer.data(), buffer.size());
        EXPECT_EQ(
            convert_bitmap(4, 3, 8, test_palette(256).data(), source, 12, palette.data(), &target),
            -1);
        EXPECT_EQ(buffer, bytes(12, 0));
    }
    for (const int bits : {4, 8}) { // a null palette where one is needed
        buffer_slot target;
        EXPECT_EQ(convert_bitmap(4, 3, bits, nullptr, source, 1, nullptr, &target), -1);
        EXPECT_EQ(bytes(target.data, target.data + target.size), bytes(12, 0));
        buffer_slot target2;
        EXPECT_EQ(convert_bitmap(4, 3, 24, nullptr, bytes(36, 0), bits, nullptr, &target2), -1);
    }
}

TEST(convert_bitmap, bad_sizes_are_refused_before_touching_anything) {
    const bytes small(16, 1);
    bytes caller(16, 0xEE);
    struct {
        const char* name;
        int width;
        int height;
        int source_bits;
        int target_bits;
        bool caller_buffer;
    } const cases[] = {
        {"negative_width", -1, 4, 8, 8, false},
        {"negative_height", 4, -1, 8, 8, false},
        {"int_min_both", INT_MIN, INT_MIN, 8, 8, false},
        {"pixels_over_2_gib", 0x10000, 0x8000, 8, 8, false},
        {"bytes_over_2_gib", 0x8000, 0x8000, 8, 24, false},
        {"int_max_squared", INT_MAX, INT_MAX, 8, 1, false},
        {"source_too_small", 5, 4, 8, 8, false},
        {"source_too_small_24", 4, 2, 24, 8, false},
        {"target_too_small", 4, 2, 8, 24, true},
        {"negative_target_bits", 4, 4, 8, -100, false},
    };
    const bytes palette = test_palette(256);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buffer_slot target =
            c.caller_buffer ? borrowed_slot(caller.data(), caller.size()) : buffer_slot{};
        EXPECT_EQ(convert_bitmap(c.width, c.height, c.source_bits, palette.data(), small,
                                 c.target_bits, palette.data(), &target),
                  -1);
        EXPECT_EQ(target.owned, nullptr);
        EXPECT_EQ(caller, bytes(16, 0xEE));
    }
    buffer_slot target;
    EXPECT_EQ(convert_bitmap(2, 2, 8, palette.data(), std::span<const std::uint8_t>(), 8,
                             palette.data(), &target),
              -1);
    EXPECT_EQ(convert_bitmap(2, 2, 8, palette.data(), small, 8, palette.data(), nullptr), -1);
}

} // namespace
} // namespace kz::test

// The packing, unpacking and index-map paths of the bitmap library work on
// whole bytes, eight pixels at a time and a 16 KiB chunk at a time. These
// tests hold them to a plain bit-by-bit reading of the format, over every
// byte value, odd widths and rows wider than a chunk.
#include "bitmap/bitmap.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kz {
namespace {

using bytes = std::vector<std::uint8_t>;

struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Pixels holding every byte value in turn, then random ones; at 1 bit the
// set pixels include those with only bit 7 or only bit 0 set.
bytes every_byte_value(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    bytes pixels(count);
    for (std::size_t i = 0; i < count; ++i) {
        pixels[i] = static_cast<std::uint8_t>(i < 256 ? i : random());
    }
    return pixels;
}

// One buffer row in the file's form, a bit at a time: 1 bit sets 0x80 >> (x % 8)
// for a non-zero pixel, 4 bits puts the low nibble of even pixels high, then
// zero bytes to a multiple of 4.
bytes reference_row(const std::uint8_t* row, std::size_t width, int bit_count) {
    const std::size_t data_bytes = bit_count == 1 ? (width + 7) / 8 : (width + 1) / 2;
    bytes out((data_bytes + 3) / 4 * 4, 0);
    for (std::size_t x = 0; x < width; ++x) {
        if (bit_count == 1) {
            if (row[x] != 0) {
                out[x / 8] = static_cast<std::uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
            }
        } else {
            const int shift = x % 2 == 0 ? 4 : 0;
            out[x / 2] = static_cast<std::uint8_t>(out[x / 2] | (row[x] & 0x0F) << shift);
        }
    }
    return out;
}

bytes read_all(std::FILE* stream) {
    bytes file;
    std::rewind(stream);
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) {
        file.push_back(static_cast<std::uint8_t>(c));
    }
    return file;
}

struct packing_case {
    int bit_count;
    std::size_t width;
};

class packing_test : public testing::TestWithParam<packing_case> {};

// A fault in the eight-at-a-time packing or in the chunk hand-over shows as
// a byte that differs from the bit-by-bit row, or as a lost or doubled byte
// where a row crosses a chunk.
TEST_P(packing_test, no_pixel_is_lost_or_moved_in_packed_rows) {
    const auto [bit_count, width] = GetParam();
    constexpr int height = 3;
    const bytes pixels = every_byte_value(width * height, static_cast<unsigned>(width));
    const bytes palette(std::size_t{4} << bit_count, 0x5A);
    bitmap_header header;
    ASSERT_EQ(make_bitmap_header(&header, static_cast<std::uint32_t>(width), height,
                                 static_cast<std::uint16_t>(bit_count)),
              0);

    file_ptr stream(test::temporary_stream());
    ASSERT_TRUE(stream);
    ASSERT_EQ(write_bitmap(stream.get(), &header, palette.data(), pixels.data()), 0);
    ASSERT_EQ(std::fflush(stream.get()), 0);
    const bytes file = read_all(stream.get());
    ASSERT_EQ(file.size(), header.file_size);

    bytes expected_rows;
    for (int r = height; r-- > 0;) {
        const bytes row = reference_row(pixels.data() + r * width, width, bit_count);
        expected_rows.insert(expected_rows.end(), row.begin(), row.end());
    }
    const bytes rows(file.begin() + header.data_offset, file.end());
    ASSERT_EQ(rows.size(), expected_rows.size());
    EXPECT_TRUE(rows == expected_rows)
        << "first difference at byte "
        << std::mismatch(rows.begin(), rows.end(), expected_rows.begin()).first - rows.begin();

    std::rewind(stream.get());
    bitmap_header read_header;
    buffer_slot read_palette;
    buffer_slot read_pixels;
    ASSERT_EQ(read_bitmap(stream.get(), &read_header, &read_palette, &read_pixels, 0), 0);
    ASSERT_EQ(read_pixels.size, pixels.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int stored = bit_count == 1 ? pixels[i] != 0 : pixels[i] & 0x0F;
        wrong += read_pixels.data[i] != stored;
    }
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(widths, packing_test,
                         testing::Values(packing_case{1, 1}, packing_case{1, 7}, packing_case{1, 8},
                                         packing_case{1, 9}, packing_case{1, 17},
                                         packing_case{1, 512},
                                         // 16388 bytes a row: every row crosses a 16 KiB chunk
                                         packing_case{1, 131085}, packing_case{4, 1},
                                         packing_case{4, 2}, packing_case{4, 3},
                                         packing_case{4, 257}, packing_case{4, 512},
                                         packing_case{4, 32771}),
                         [](const testing::TestParamInfo<packing_case>& info) {
                             return "bits" + std::to_string(info.param.bit_count) + "_width" +
                                    std::to_string(info.param.width);
                         });

// Distinct colours in both palettes, so every index maps to itself; the
// result must read each source byte as the writer would store it.
bytes distinct_palette(int entries) {
    bytes palette(static_cast<std::size_t>(entries) * palette_entry_size);
    for (int i = 0; i < entries; ++i) {
        palette[i * 4 + 0] = static_cast<std::uint8_t>(i);
        palette[i * 4 + 1] = static_cast<std::uint8_t>(255 - i);
        palette[i * 4 + 2] = static_cast<std::uint8_t>(i * 7);
    }
    return palette;
}

TEST(convert_bitmap, index_map_reads_every_source_byte_as_the_writer_stores_it) {
    const bytes source = every_byte_value(256 * 3, 5);
    for (const int bits : {1, 4, 8}) {
        SCOPED_TRACE(testing::Message() << bits << " bits");
        const bytes palette = distinct_palette(1 << bits);
        const bytes target_palette = distinct_palette(256);
        buffer_slot target;
        ASSERT_EQ(
            convert_bitmap(256, 3, bits, palette.data(), source, 8, target_palette.data(), &target),
            0);
        for (std::size_t i = 0; i < source.size(); ++i) {
            const int expected = bits == 1   ? source[i] != 0
                                 : bits == 4 ? source[i] & 0x0F
                                             : source[i];
            if (target.data[i] != expected) {
                ADD_FAILURE() << "source byte " << int{source[i]} << " gave "
                              << int{target.data[i]};
                break;
            }
        }
    }
}

// A conversion that succeeds no longer clears its target first; it must then
// write every byte itself, whatever the caller's buffer held.
TEST(convert_bitmap, successful_conversion_leaves_no_byte_of_the_old_target) {
    constexpr int width = 7;
    constexpr int height = 3;
    const bytes palette16 = distinct_palette(16);
    const bytes palette256 = distinct_palette(256);
    const auto palette_for = [&](int bits) -> const std::uint8_t* {
        return bits == 4 ? palette16.data() : bits == 8 ? palette256.data() : nullptr;
    };
    for (const int from : {1, 4, 8, 16, 24, 32}) {
        for (const int to : {1, 4, 8, 16, 24, 32}) {
            SCOPED_TRACE(testing::Message() << from << " to " << to << " bits");
            const bytes source = every_byte_value(width * height * ((from + 7) / 8), 9);
            const std::size_t size = width * height * ((to + 7) / 8);
            bytes first(size, 0xEE);
            bytes second(size, 0x11);
            for (bytes* target : {&first, &second}) {
                buffer_slot slot = borrowed_slot(target->data(), target->size());
                ASSERT_EQ(convert_bitmap(width, height, from, palette_for(from), source, to,
                                         palette_for(to), &slot),
                          0);
            }
            EXPECT_EQ(first, second);
        }
    }
}

} // namespace
} // namespace kz

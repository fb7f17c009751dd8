#include <climits>

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

// The 512 x 1024 4-bit shape sheet's header bytes, little-endian in file
// order; a field with high bytes set comes back neither cut nor sign-extended.
TEST(make_bitmap_header, fields_and_sizes_stand_at_their_offsets_and_read_back) {
    bitmap_header h;
    ASSERT_EQ(make_bitmap_header(&h, 512, 1024, 4), 0);
    h.x_resolution = 0x80FF7F01;
    // clang-format off
    const bytes expected = {'B', 'M', 0x76, 0, 4, 0, 0, 0, 0, 0, 118, 0, 0, 0, 40, 0, 0, 0,
                            0, 2, 0, 0, 0, 4, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 4, 0,
                            1, 0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // clang-format on
    const bytes file = written_by([&](std::FILE* s) { EXPECT_EQ(write_bitmap_header(s, &h), 0); });
    EXPECT_EQ(file, expected);
    bitmap_header back;
    EXPECT_EQ(read_bitmap_header(stream_of(file).get(), &back), 0);
    EXPECT_EQ(written_by([&](std::FILE* s) { write_bitmap_header(s, &back); }), expected);

    // The mask sheet at 1 bit and the EGA/CGA tile sheet at 4 bits.
    ASSERT_EQ(make_bitmap_header(&h, 512, 1024, 1), 0);
    EXPECT_EQ(std::tuple(h.data_offset, h.image_size, h.file_size),
              std::tuple(62u, 0x10000u, 0x1003Eu));
    ASSERT_EQ(make_bitmap_header(&h, 256, 512, 4), 0);
    EXPECT_EQ(std::tuple(h.data_offset, h.image_size, h.file_size),
              std::tuple(118u, 0x10000u, 0x10076u));
    // Rows that would not fit an int.
    EXPECT_EQ(bitmap_row_size(INT_MAX, 4), 0x40000000);
    for (const auto& [width, bits] : {std::pair{-1, 8}, {INT_MAX, 24}, {INT_MAX, 32}, {8, 12}}) {
        EXPECT_EQ(bitmap_row_size(width, bits), -1) << width << ' ' << bits;
    }
}

// Two rows as they stand in the file: bottom row first, each packed and
// filled with zero bytes to a multiple of 4, straight after the palette,
// which is all zeros when none is given.
TEST(write_bitmap, rows_are_packed_filled_and_stored_bottom_up) {
    // clang-format off
    const std::tuple<int, int, bytes, bytes> cases[] = {
        // 1 bit: any non-zero byte is a set pixel, the leftmost in the top bit
        {1, 5, {1, 0, 2, 0, 1, 0, 1, 1, 0, 0}, {0x60, 0, 0, 0, 0xA8, 0, 0, 0}},
        {1, 9, {1, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0, 0xCD, 0x80, 0, 0}},
        // 4 bits: the left pixel in the high nibble, the high bits of a byte ignored
        {4, 3, {0x1F, 2, 3, 4, 5, 6}, {0x45, 0x60, 0, 0, 0xF2, 0x30, 0, 0}},
        {8, 3, {1, 2, 3, 4, 5, 6}, {4, 5, 6, 0, 1, 2, 3, 0}},
        {16, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         {7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}},
        {24, 1, {1, 2, 3, 4, 5, 6}, {4, 5, 6, 0, 1, 2, 3, 0}},
        {32, 1, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 7, 8, 1, 2, 3, 4}},
    };
    // clang-format on
    for (const auto& [bits, width, pixels, rows] : cases) {
        bitmap_header h;
        make_bitmap_header(&h, width, 2, std::uint16_t(bits));
        const bytes file = written_by(
            [&](std::FILE* s) { EXPECT_EQ(write_bitmap(s, &h, nullptr, pixels.data()), 0); });
        const std::uint32_t offset = 54 + (bits <= 8 ? 4 << bits : 0);
        ASSERT_EQ(file.size(), offset + rows.size()) << bits;
        EXPECT_EQ(std::tuple(get_le32(&file[2]), get_le32(&file[10]), get_le32(&file[34])),
                  std::tuple(file.size(), offset, rows.size()));
        bytes expected(offset - 54); // the palette's zeros, then the rows
        expected.insert(expected.end(), rows.begin(), rows.end());
        EXPECT_EQ(bytes(file.begin() + 54, file.end()), expected) << bits;
    }
}

// Refusals write nothing; a failed write, of the header or of the rows, is
// reported: a full disk must not pass for success.
// Windows has no device that fails every write, so there only the refusals
// are tried.
TEST(write_bitmap, failures_are_reported_and_refusals_write_nothing) {
#ifdef _WIN32
    const int stream_kinds = 1;
#else
    const int stream_kinds = 3;
    ASSERT_TRUE(dev_full_is_device());
#endif
    const bytes sheet(512 * 1024, 7);
    // width, height, bits, the stream (a file, /dev/full unbuffered or buffered), message
    const std::tuple<std::uint32_t, int, int, int, std::string> cases[] = {
        {4, 2, 2, 0, ""},
        {4, 2, 12, 0, ""},
        {4, -2, 8, 0, ""}, // top-down rows, which the writer does not write
        {512, 1024, 4, 1, "error: write_bitmap() - can't write bitmap header\n"},
        {512, 1024, 4, 2, "error: write_bitmap() - can't write bitmap data\n"},
    };
    for (const auto& [width, height, bits, stream_kind, message] : cases) {
        if (stream_kind >= stream_kinds) {
            continue;
        }
        bitmap_header h;
        h.file_size = 7;
        const bool unsupported = bits == 2 || bits == 12; // its sizes are left as they were
        EXPECT_EQ(make_bitmap_header(&h, width, height, std::uint16_t(bits)), unsupported ? -1 : 0);
        EXPECT_EQ(h.file_size == 7, unsupported);
        file_ptr stream(stream_kind == 0 ? temporary_stream() : std::fopen("/dev/full", "wb"));
        ASSERT_TRUE(stream);
        if (stream_kind == 1) {
            std::setvbuf(stream.get(), nullptr, _IONBF, 0);
        }
        int result = 0;
        EXPECT_EQ(
            printed_by([&] { result = write_bitmap(stream.get(), &h, nullptr, sheet.data()); }),
            message);
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(stream_kind != 0 || std::ftell(stream.get()) == 0);
    }
}

} // namespace
} // namespace kz::test

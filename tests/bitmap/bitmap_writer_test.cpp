#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

TEST(bitmap_byte_order, high_bytes_are_neither_lost_nor_sign_extended) {
    for (const std::uint32_t value : {0u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u, 0xFFu}) {
        std::array<std::uint8_t, 4> bytes{};
        EXPECT_EQ(put_le32(bytes.data(), value), bytes.data() + 4);
        EXPECT_EQ(bytes[0], value & 0xFF);
        EXPECT_EQ(bytes[3], value >> 24);
        const std::uint8_t* cursor = nullptr;
        EXPECT_EQ(get_le32(bytes.data(), &cursor), value);
        EXPECT_EQ(cursor, bytes.data() + 4);
    }
    for (const std::uint16_t value : {0x0000, 0x8001, 0xFFFF, 0x1234}) {
        std::array<std::uint8_t, 2> bytes{};
        EXPECT_EQ(put_le16(bytes.data(), value), bytes.data() + 2);
        EXPECT_EQ(bytes[1], value >> 8);
        const std::uint8_t* cursor = nullptr;
        EXPECT_EQ(get_le16(bytes.data(), &cursor), value);
        EXPECT_EQ(cursor, bytes.data() + 2);
    }
}

struct header_case {
    std::uint32_t width;
    std::int32_t height;
    std::uint16_t bit_count;
    std::uint32_t data_offset;
    int row_size;
    std::uint32_t image_size;
    std::uint32_t file_size;
};

TEST(make_bitmap_header, sizes_and_offsets_match_the_layout) {
    const header_case cases[] = {
        {512, 1024, 4, 118, 256, 0x40000, 0x40076},
        {512, 1024, 1, 62, 64, 0x10000, 0x1003E},
        {256, 512, 4, 118, 128, 0x10000, 0x10076},
        {5, 3, 8, 1078, 8, 24, 1102},
        {3, 2, 16, 54, 8, 16, 70},
        {3, 2, 24, 54, 12, 24, 78},
        {3, 2, 32, 54, 12, 24, 78},
        {9, 1, 1, 62, 4, 4, 66},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                     std::to_string(c.bit_count));
        bitmap_header header;
        ASSERT_EQ(make_bitmap_header(&header, c.width, c.height, c.bit_count), 0);
        EXPECT_EQ(header.data_offset, c.data_offset);
        EXPECT_EQ(header.image_size, c.image_size);
        EXPECT_EQ(header.file_size, c.file_size);
        EXPECT_EQ(bitmap_row_size(static_cast<int>(c.width), c.bit_count), c.row_size);
        EXPECT_EQ(header.header_size, 40u);
        EXPECT_EQ(header.planes, 1);
        EXPECT_EQ(header.width, c.width);
        EXPECT_EQ(header.height, c.height);
        EXPECT_EQ(header.compression | header.colors_used | header.colors_important |
                      header.x_resolution | header.y_resolution | header.reserved1 |
                      header.reserved2,
                  0u);
    }
}

TEST(make_bitmap_header, unsupported_bit_count_leaves_sizes_alone_and_writes_nothing) {
    for (const std::uint16_t bits : {0, 2, 12, 33}) {
        bitmap_header header;
        header.data_offset = header.image_size = header.file_size = 0xDEADBEEF;
        EXPECT_EQ(make_bitmap_header(&header, 8, 8, bits), -1);
        EXPECT_EQ(header.data_offset, 0xDEADBEEF);
        EXPECT_EQ(header.image_size, 0xDEADBEEF);
        EXPECT_EQ(header.file_size, 0xDEADBEEF);
        EXPECT_EQ(header.header_size, 40u);
        EXPECT_EQ(header.width, 8u);
        EXPECT_EQ(bitmap_row_size(8, bits), -1);
        const bytes pixels(64, 1);
        int result = 0;
        std::string out;
        const bytes file = written_by([&](std::FILE* s) {
            out = printed_by([&] { result = write_bitmap(s, &header, nullptr, pixels.data()); });
        });
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(file.empty());
        EXPECT_EQ(out, "");
    }
}

TEST(bitmap_row_size, widths_that_do_not_fit_give_minus_one) {
    EXPECT_EQ(bitmap_row_size(-1, 8), -1);
    EXPECT_EQ(bitmap_row_size(INT_MAX, 32), -1);
    EXPECT_EQ(bitmap_row_size(INT_MAX, 24), -1);
    EXPECT_EQ(bitmap_row_size(INT_MAX, 1), 0x10000000);
    EXPECT_EQ(bitmap_row_size(INT_MAX, 4), 0x40000000);
    EXPECT_EQ(bitmap_row_size(0, 4), 0);
}

// The rows as they stand in a file of two rows: bottom row first, each packed
// and filled with zero bytes to a multiple of 4.
struct row_case {
    int bit_count;
    int width;
    bytes top;       // buffer row 0
    bytes bottom;    // buffer row 1
    bytes file_rows; // what follows the palette
};

TEST(write_bitmap, rows_are_packed_filled_and_stored_bottom_up) {
    const row_case cases[] = {
        // 1 bit: any non-zero byte is a set pixel, leftmost in the top bit
        {1, 5, {1, 0, 2, 0, 1}, {0, 1, 1, 0, 0}, {0x60, 0, 0, 0, 0xA8, 0, 0, 0}},
        {1,
         9,
         {1, 1, 0, 0, 1, 1, 0, 1, 1},
         {0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0, 0xCD, 0x80, 0, 0}},
        // 4 bits: left pixel in the high nibble, high bits of the byte ignored
        {4, 3, {0x1F, 2, 3}, {4, 5, 6}, {0x45, 0x60, 0, 0, 0xF2, 0x30, 0, 0}},
        {8,
         5,
         {1, 2, 3, 4, 5},
         {6, 7, 8, 9, 10},
         {6, 7, 8, 9, 10, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0}},
        {16,
         3,
         {1, 2, 3, 4, 5, 6},
         {7, 8, 9, 10, 11, 12},
         {7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}},
        {24,
         3,
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {11, 12, 13, 14, 15, 16, 17, 18, 19},
         {11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}},
        {32,
         3,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24},
         {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("bit count " + std::to_string(c.bit_count));
        bytes pixels = c.top;
        pixels.insert(pixels.end(), c.bottom.begin(), c.bottom.end());
        bitmap_header header;
        ASSERT_EQ(make_bitmap_header(&header, c.width, 2, c.bit_count), 0);
        int result = -1;
        const bytes file = written_by(
            [&](std::FILE* s) { result = write_bitmap(s, &header, nullptr, pixels.data()); });
        EXPECT_EQ(result, 0);
        ASSERT_EQ(file.size(), header.file_size);
        EXPECT_EQ(bytes(file.begin() + header.data_offset, file.end()), c.file_rows);
    }
}

TEST(write_bitmap, palette_reaches_file_unchanged_or_as_zeros_when_null) {
    for (const int bits : {1, 4, 8}) {
        SCOPED_TRACE("bit count " + std::to_string(bits));
        const int entries = 1 << bits;
        bytes palette = test_palette(entries);
        palette[3] = 0xFF; // the fourth byte is the caller's, whatever it holds
        const bytes pixels(4, 1);
        bitmap_header header;
        ASSERT_EQ(make_bitmap_header(&header, 2, 2, static_cast<std::uint16_t>(bits)), 0);
        for (const bool with_palette : {true, false}) {
            const bytes file = written_by([&](std::FILE* s) {
                EXPECT_EQ(write_bitmap(s, &header, with_palette ? palette.data() : nullptr,
                                       pixels.data()),
                          0);
            });
            ASSERT_EQ(file.size(), header.file_size);
            const bytes written(file.begin() + 54, file.begin() + 54 + entries * 4);
            EXPECT_EQ(written, with_palette ? palette : bytes(palette.size(), 0));
        }
    }
}

TEST(write_bitmap, full_disk_is_reported_not_taken_for_success) {
    bitmap_header header;
    ASSERT_EQ(make_bitmap_header(&header, 512, 1024, 4), 0);
    const bytes sheet(512 * 1024, 7);
    struct {
        bool buffered;
        const char* message;
    } const cases[] = {
        {false, "error: write_bitmap() - can't write bitmap header\n"},
        {true, "error: write_bitmap() - can't write bitmap data\n"},
    };
    for (const auto& c : cases) {
        file_ptr full(std::fopen("/dev/full", "wb"));
        ASSERT_TRUE(full);
        if (!c.buffered) {
            std::setvbuf(full.get(), nullptr, _IONBF, 0);
        }
        int result = 0;
        const std::string out =
            printed_by([&] { result = write_bitmap(full.get(), &header, nullptr, sheet.data()); });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(out, c.message);
    }
}

TEST(write_bitmap, negative_height_is_refused_before_writing) {
    bitmap_header header;
    ASSERT_EQ(make_bitmap_header(&header, 4, -2, 8), 0);
    const bytes pixels(8, 1);
    int result = 0;
    const bytes file = written_by(
        [&](std::FILE* s) { result = write_bitmap(s, &header, nullptr, pixels.data()); });
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(file.empty());
}

// Odd width 9 so every depth needs filling; the colours of the picture as
// the test knows them, to compare with what other readers decode.
struct written_picture {
    bytes pixels;
    bytes palette;
    std::vector<rgb> colours;
};

constexpr int tool_width = 9;
constexpr int tool_height = 5;

written_picture make_picture(int bits) {
    written_picture p;
    const int entries = bits <= 8 ? 1 << bits : 0;
    const int n = bits <= 8 ? entries : 40;
    p.palette = test_palette(entries);
    for (int y = 0; y < tool_height; ++y) {
        for (int x = 0; x < tool_width; ++x) {
            const int i = picture_index(x, y, n);
            const rgb c = test_colour(i);
            p.colours.push_back(c);
            if (bits <= 8) {
                p.pixels.push_back(static_cast<std::uint8_t>(i));
            } else if (bits == 16) {
                const unsigned v = (c.red >> 3) << 10 | (c.green >> 3) << 5 | (c.blue >> 3);
                p.pixels.push_back(static_cast<std::uint8_t>(v));
                p.pixels.push_back(static_cast<std::uint8_t>(v >> 8));
            } else {
                p.pixels.insert(p.pixels.end(), {c.blue, c.green, c.red});
                if (bits == 32) {
                    p.pixels.push_back(static_cast<std::uint8_t>(x * 16 + y));
                }
            }
        }
    }
    return p;
}

std::vector<rgb> rgb_of_hex(const std::string& hex) {
    std::vector<rgb> colours;
    for (std::size_t i = 0; i + 6 <= hex.size(); i += 6) {
        const auto byte = [&](std::size_t at) {
            return static_cast<std::uint8_t>(std::stoi(hex.substr(at, 2), nullptr, 16));
        };
        colours.push_back({byte(i), byte(i + 2), byte(i + 4)});
    }
    return colours;
}

// 16-bit colours are compared in their 5 bits, as readers widen differently.
std::vector<rgb> narrowed(std::vector<rgb> colours) {
    for (auto& c : colours) {
        c = {static_cast<std::uint8_t>(c.red >> 3), static_cast<std::uint8_t>(c.green >> 3),
             static_cast<std::uint8_t>(c.blue >> 3)};
    }
    return colours;
}

class write_bitmap_output : public testing::TestWithParam<int> {};

TEST_P(write_bitmap_output, see_the_picture_that_was_written) {
    const int bits = GetParam();
    const written_picture picture = make_picture(bits);
    bitmap_header header;
    ASSERT_EQ(
        make_bitmap_header(&header, tool_width, tool_height, static_cast<std::uint16_t>(bits)), 0);
    scratch_dir dir;
    const std::string path = dir.file("ours.bmp");
    {
        file_ptr out(std::fopen(path.c_str(), "wb"));
        ASSERT_TRUE(out);
        ASSERT_EQ(write_bitmap(out.get(), &header, bits <= 8 ? picture.palette.data() : nullptr,
                               picture.pixels.data()),
                  0);
    }
    const auto expected = bits == 16 ? narrowed(picture.colours) : picture.colours;
    const auto comparable = [&](std::vector<rgb> c) { return bits == 16 ? narrowed(c) : c; };

    std::string out;
    ASSERT_EQ(run_pillow(dir, "dump " + quoted(path), &out), 0) << out;
    std::istringstream lines(out);
    int width = 0;
    int height = 0;
    std::string mode;
    std::string palette_hex;
    std::string pixels_hex;
    lines >> width >> height >> mode;
    if (mode == "P") {
        lines >> palette_hex;
    }
    lines >> pixels_hex;
    EXPECT_EQ(width, tool_width);
    EXPECT_EQ(height, tool_height);
    EXPECT_EQ(mode, bits <= 8 ? "P" : "RGB");
    if (bits <= 8) {
        const auto pillow_palette = rgb_of_hex(palette_hex);
        ASSERT_GE(pillow_palette.size(), std::size_t{1} << bits);
        for (int i = 0; i < 1 << bits; ++i) {
            EXPECT_EQ(pillow_palette[i], test_colour(i)) << "entry " << i;
        }
    }
    EXPECT_EQ(comparable(rgb_of_hex(pixels_hex)), expected) << "Pillow";

    ASSERT_EQ(run(std::string(KZ_IDENTIFY) + " -format '%w %h %z' " + quoted(path), &out), 0);
    const char* depth = bits == 1 ? "1" : bits == 4 ? "4" : "8";
    EXPECT_EQ(out, "9 5 " + std::string(depth));

    const std::string ppm = dir.file("ours.ppm");
    ASSERT_EQ(run(std::string(KZ_BMPTOPNM) + " " + quoted(path) + " 2>/dev/null | " + KZ_PPMTOPPM +
                  " > " + quoted(ppm)),
              0);
    const bytes netpbm = read_file(ppm);
    const std::string expected_head = "P6\n9 5\n255\n";
    ASSERT_GE(netpbm.size(), expected_head.size());
    std::string head(netpbm.begin(), netpbm.begin() + static_cast<long>(expected_head.size()));
    std::vector<rgb> colours;
    for (std::size_t i = expected_head.size(); i + 3 <= netpbm.size(); i += 3) {
        colours.push_back({netpbm[i], netpbm[i + 1], netpbm[i + 2]});
    }
    EXPECT_EQ(head, expected_head);
    EXPECT_EQ(comparable(colours), expected) << "netpbm";
}

INSTANTIATE_TEST_SUITE_P(every_depth, write_bitmap_output, testing::Values(1, 4, 8, 16, 24, 32));

} // namespace
} // namespace kz::test

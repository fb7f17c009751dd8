#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

// Resolves a read picture to colours: through the palette for indexed bits,
// from the blue, green, red bytes otherwise.
std::vector<rgb> colours_of(const bitmap_header& header, const buffer_slot& palette,
                            const buffer_slot& pixels) {
    std::vector<rgb> colours;
    const std::size_t count = std::size_t{header.width} * static_cast<std::size_t>(header.height);
    const int step = (header.bit_count + 7) / 8;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = pixels.data + i * static_cast<std::size_t>(step);
        colours.push_back(header.bit_count <= 8 ? palette_colour(palette.data, *p)
                                                : rgb{p[2], p[1], p[0]});
    }
    return colours;
}

struct read_result {
    int result = 0;
    std::string printed;
    bitmap_header header;
    buffer_slot palette;
    buffer_slot pixels;
};

read_result read_from(std::FILE* stream) {
    read_result r;
    r.printed =
        printed_by([&] { r.result = read_bitmap(stream, &r.header, &r.palette, &r.pixels, 0); });
    return r;
}

read_result read_bytes(const bytes& file) {
    file_ptr stream = stream_of(file);
    return read_from(stream.get());
}

bytes written_file(int width, int height, int bits, const bytes& palette, const bytes& pixels) {
    bitmap_header header;
    make_bitmap_header(&header, static_cast<std::uint32_t>(width), height,
                       static_cast<std::uint16_t>(bits));
    return written_by([&](std::FILE* s) {
        EXPECT_EQ(
            write_bitmap(s, &header, palette.empty() ? nullptr : palette.data(), pixels.data()), 0);
    });
}

// Pixels of an asymmetric picture; high bits set where the depth ignores them.
bytes round_trip_pixels(int width, int height, int bits) {
    bytes pixels;
    const int step = (bits + 7) / 8;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int b = 0; b < step; ++b) {
                const int v = picture_index(x, y, 251) + 17 * b;
                pixels.push_back(static_cast<std::uint8_t>(bits == 4 ? v | 0x30 : v));
            }
        }
    }
    return pixels;
}

class read_bitmap_round_trip : public testing::TestWithParam<int> {};

TEST_P(read_bitmap_round_trip, reads_back_what_was_written) {
    const int bits = GetParam();
    constexpr int width = 13;
    constexpr int height = 5;
    const bytes palette = bits <= 8 ? test_palette(1 << bits) : bytes{};
    const bytes pixels = round_trip_pixels(width, height, bits);
    const read_result r = read_bytes(written_file(width, height, bits, palette, pixels));
    ASSERT_EQ(r.result, 0) << r.printed;
    EXPECT_EQ(r.printed, "");
    bitmap_header expected;
    make_bitmap_header(&expected, width, height, static_cast<std::uint16_t>(bits));
    EXPECT_EQ(r.header.file_size, expected.file_size);
    EXPECT_EQ(r.header.width, expected.width);
    EXPECT_EQ(r.header.height, expected.height);
    EXPECT_EQ(r.header.bit_count, expected.bit_count);
    // 1 bit keeps only zero or not, 4 bits the low nibble
    bytes normal = pixels;
    for (auto& v : normal) {
        v = static_cast<std::uint8_t>(bits == 1 ? v != 0 : bits == 4 ? v & 0x0F : v);
    }
    ASSERT_EQ(r.pixels.size, normal.size());
    EXPECT_EQ(bytes(r.pixels.data, r.pixels.data + r.pixels.size), normal);
    if (bits <= 8) {
        ASSERT_EQ(r.palette.size, palette.size());
        EXPECT_EQ(bytes(r.palette.data, r.palette.data + r.palette.size), palette);
    } else {
        EXPECT_EQ(r.palette.data, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(every_depth, read_bitmap_round_trip, testing::Values(1, 4, 8, 16, 24, 32));

// A picture of n test colours made into a BMP by another program.
struct tool_case {
    const char* name;
    int width;
    int height;
    int colours;         // distinct colours in the picture
    std::string command; // {rgb}, {rgba}, {ppm}, {bmp}, {script}, {w} and {h} filled in
    int bit_count;       // 0: the file is refused
    std::string printed;
};

std::string filled_in(std::string command, const scratch_dir& dir) {
    for (const char* name : {"rgba", "rgb", "ppm", "bmp"}) {
        const std::string key = std::string("{") + name + "}";
        for (auto at = command.find(key); at != std::string::npos; at = command.find(key)) {
            command.replace(at, key.size(), quoted(dir.file(std::string("picture.") + name)));
        }
    }
    return command;
}

std::vector<rgb> tool_picture(const tool_case& c, const scratch_dir& dir) {
    std::vector<rgb> colours;
    bytes raw_rgb;
    bytes raw_rgba;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const int i = picture_index(x, y, c.colours);
            const rgb colour = c.colours == 2 ? (i ? rgb{255, 255, 255} : rgb{}) : test_colour(i);
            colours.push_back(colour);
            raw_rgb.insert(raw_rgb.end(), {colour.red, colour.green, colour.blue});
            raw_rgba.insert(raw_rgba.end(), {colour.red, colour.green, colour.blue,
                                             static_cast<std::uint8_t>(x * 20 + y)});
        }
    }
    const std::string head =
        "P6\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n255\n";
    bytes ppm(head.begin(), head.end());
    ppm.insert(ppm.end(), raw_rgb.begin(), raw_rgb.end());
    write_file(dir.file("picture.rgb"), raw_rgb);
    write_file(dir.file("picture.rgba"), raw_rgba);
    write_file(dir.file("picture.ppm"), ppm);
    return colours;
}

std::string pillow(const std::string& mode) {
    return std::string(KZ_PYTHON) + " {script} make " + mode + " {w} {h} {rgba} {bmp}";
}

std::string magick(const std::string& options, const std::string& format = "BMP3") {
    return std::string(KZ_CONVERT) + " -size {w}x{h} -depth 8 rgb:{rgb} " + options + " " + format +
           ":{bmp}";
}

std::string netpbm(int bpp) {
    return std::string(KZ_PPMTOBMP) + " -bpp " + std::to_string(bpp) + " {ppm} > {bmp} 2>/dev/null";
}

const std::string header_refused = "error: read_bitmap() - can't read bitmap header\n";
const std::string zero_corrected =
    "warning: check_bitmap_header() - data length is 0 ... corrected: ";

void PrintTo(const tool_case& c, std::ostream* os) {
    *os << c.name;
}

class read_bitmap_tool_files : public testing::TestWithParam<tool_case> {};

TEST_P(read_bitmap_tool_files, read_as_the_tool_wrote_them_or_refused) {
    const tool_case& c = GetParam();
    scratch_dir dir;
    const std::vector<rgb> colours = tool_picture(c, dir);
    std::string command = filled_in(c.command, dir);
    const std::string script = "{script}";
    if (const auto at = command.find(script); at != std::string::npos) {
        command.replace(at, script.size(), quoted(pillow_helper(dir)));
    }
    for (const auto& [key, value] : {std::pair{"{w}", c.width}, std::pair{"{h}", c.height}}) {
        for (auto at = command.find(key); at != std::string::npos; at = command.find(key)) {
            command.replace(at, 3, std::to_string(value));
        }
    }
    std::string out;
    ASSERT_EQ(run(command, &out), 0) << command << "\n" << out;

    file_ptr stream(std::fopen(dir.file("picture.bmp").c_str(), "rb"));
    ASSERT_TRUE(stream);
    const read_result r = read_from(stream.get());
    EXPECT_EQ(r.printed, c.printed);
    if (c.bit_count == 0) {
        EXPECT_EQ(r.result, -1);
        return;
    }
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.header.bit_count, c.bit_count);
    EXPECT_EQ(colours_of(r.header, r.palette, r.pixels), colours);
    if (c.bit_count == 32) { // Pillow keeps the alpha in the fourth byte
        for (int i = 0; i < c.width * c.height; ++i) {
            EXPECT_EQ(r.pixels.data[i * 4 + 3], (i % c.width) * 20 + i / c.width);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    independent_writers, read_bitmap_tool_files,
    testing::Values(
        tool_case{"pillow_1", 13, 5, 2, pillow("1"), 1, ""},
        tool_case{"pillow_8", 9, 7, 40, pillow("P256"), 8, ""},
        tool_case{"pillow_24", 13, 5, 40, pillow("RGB"), 24, ""},
        tool_case{"pillow_32", 13, 5, 40, pillow("RGBA"), 32, ""},
        tool_case{"magick_1", 13, 5, 2, magick("-type Bilevel"), 1, ""},
        tool_case{"magick_4", 9, 5, 16, magick("-type Palette -colors 16 -compress None"), 4, ""},
        tool_case{"magick_8", 9, 7, 40, magick("-type Palette -compress None"), 8, ""},
        tool_case{"magick_24", 5, 3, 40, magick("-type TrueColor"), 24, ""},
        // ppmtobmp leaves the data length 0, which the check mends
        tool_case{"netpbm_1", 13, 5, 2, netpbm(1), 1, zero_corrected + "0x14\n"},
        tool_case{"netpbm_4", 9, 5, 16, netpbm(4), 4, zero_corrected + "0x28\n"},
        tool_case{"netpbm_8", 9, 7, 40, netpbm(8), 8, zero_corrected + "0x54\n"},
        tool_case{"netpbm_24", 5, 3, 40, netpbm(24), 24, zero_corrected + "0x30\n"},
        // a 124-byte information header
        tool_case{"magick_v5_header", 5, 3, 40, magick("-type TrueColor", "BMP"), 0,
                  "error: check_bitmap_header() - not supported header type - support only "
                  "Windows V3\n" +
                      header_refused},
        // run-length encoding
        tool_case{"magick_rle8", 9, 7, 40, magick("-type Palette"), 0,
                  "error: check_bitmap_header() - not support compression\n" + header_refused},
        // an 8-bit file with a 16-entry palette
        tool_case{"pillow_short_palette", 9, 5, 16, pillow("P16"), 0,
                  "error: check_bitmap_header() - offset size 0x76 != 0x436\n" + header_refused}),
    [](const testing::TestParamInfo<tool_case>& info) { return std::string(info.param.name); });

// Mutations of a good 512 x 1024 4-bit header and what the check says.
struct check_case {
    const char* name;
    std::function<void(bitmap_header&)> mutate;
    int result;
    std::string printed;
};

const std::string range_error = "error: check_bitmap_header() - bitmap size ";

void PrintTo(const check_case& c, std::ostream* os) {
    *os << c.name;
}

class check_bitmap_header_cases : public testing::TestWithParam<check_case> {};

TEST_P(check_bitmap_header_cases, reports_each_fault_in_its_own_words) {
    const check_case& c = GetParam();
    bitmap_header header;
    ASSERT_EQ(make_bitmap_header(&header, 512, 1024, 4), 0);
    c.mutate(header);
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = check_bitmap_header(&header); }), c.printed);
    EXPECT_EQ(result, c.result);
}

// Sets width, height and bit count and makes the three sizes agree with them.
std::function<void(bitmap_header&)> consistent(std::uint32_t width, std::int32_t height,
                                               std::uint16_t bits) {
    return [=](bitmap_header& h) { make_bitmap_header(&h, width, height, bits); };
}

INSTANTIATE_TEST_SUITE_P(
    messages, check_bitmap_header_cases,
    testing::Values(
        check_case{"good", [](bitmap_header&) {}, 0, ""},
        check_case{"v4_header", [](bitmap_header& h) { h.header_size = 108; }, -1,
                   "error: check_bitmap_header() - not supported header type - support only "
                   "Windows V3\n"},
        check_case{"two_planes", [](bitmap_header& h) { h.planes = 2; }, -1, ""},
        check_case{"bitfields", [](bitmap_header& h) { h.compression = 3; }, -1,
                   "error: check_bitmap_header() - not support compression\n"},
        check_case{"two_bits", [](bitmap_header& h) { h.bit_count = 2; }, -1,
                   "error: check_bitmap_header() - unknown bit count\n"},
        check_case{"bit_count_ffff", [](bitmap_header& h) { h.bit_count = 0xFFFF; }, -1,
                   "error: check_bitmap_header() - unknown bit count\n"},
        check_case{"short_palette_at_8_bits",
                   [](bitmap_header& h) {
                       make_bitmap_header(&h, 512, 1024, 8);
                       h.data_offset = 118;
                   },
                   -1, "error: check_bitmap_header() - offset size 0x76 != 0x436\n"},
        check_case{"offset_ffffffff", [](bitmap_header& h) { h.data_offset = 0xFFFFFFFF; }, -1,
                   "error: check_bitmap_header() - offset size 0xFFFFFFFF != 0x76\n"},
        check_case{"zero_data_length", [](bitmap_header& h) { h.image_size = 0; }, 1,
                   "warning: check_bitmap_header() - data length is 0 ... corrected: 0x40000\n"},
        check_case{"wrong_data_length", [](bitmap_header& h) { h.image_size = 0xFFFFFFFF; }, -1,
                   "error: check_bitmap_header() - data length 0xFFFFFFFF != 0x40000\n"},
        check_case{"long_file", [](bitmap_header& h) { h.file_size = 0xFFFFFFFF; }, 1,
                   "warning: check_bitmap_header() - file length 0xFFFFFFFF > 0x40076\n"},
        check_case{"zero_data_length_and_long_file",
                   [](bitmap_header& h) {
                       h.image_size = 0;
                       h.file_size = 0x40077;
                   },
                   2,
                   "warning: check_bitmap_header() - data length is 0 ... corrected: 0x40000\n"
                   "warning: check_bitmap_header() - file length 0x40077 > 0x40076\n"},
        check_case{"short_file", [](bitmap_header& h) { h.file_size = 0x40075; }, -1,
                   "error: check_bitmap_header() - file length 0x40075 < 0x40076\n"},
        check_case{"zero_file_size", [](bitmap_header& h) { h.file_size = 0; }, -1,
                   "error: check_bitmap_header() - file length 0x0 < 0x40076\n"},
        check_case{"top_down", [](bitmap_header& h) { h.height = -1024; }, -1,
                   "error: check_bitmap_header() - data length 0x40000 != 0xFFFC0000\n"},
        // the sizes below would overflow or are absurd: refused after test 7
        check_case{"top_down_zero_length",
                   [](bitmap_header& h) {
                       h.height = -1024;
                       h.image_size = 0;
                   },
                   -1,
                   zero_corrected + "0xFFFC0000\n" + range_error + "512 x -1024 out of range\n"},
        check_case{"zero_width", consistent(0, 1024, 4), -1,
                   zero_corrected + "0x0\n" + range_error + "0 x 1024 out of range\n"},
        check_case{"zero_height", consistent(512, 0, 4), -1,
                   zero_corrected + "0x0\n" + range_error + "512 x 0 out of range\n"},
        check_case{"height_minus_one", consistent(512, -1, 4), -1,
                   range_error + "512 x -1 out of range\n"},
        check_case{"height_int_min", consistent(512, INT32_MIN, 4), -1,
                   zero_corrected + "0x0\n" + range_error + "512 x -2147483648 out of range\n"},
        check_case{"height_int_max", consistent(512, INT32_MAX, 4), -1,
                   range_error + "512 x 2147483647 out of range\n"},
        check_case{"width_int_max_one_row", consistent(0x7FFFFFFF, 1, 4), 0, ""},
        check_case{"width_int_max_two_rows", consistent(0x7FFFFFFF, 2, 4), -1,
                   range_error + "2147483647 x 2 out of range\n"},
        check_case{"width_80000000",
                   [](bitmap_header& h) {
                       make_bitmap_header(&h, 0x80000000, 1, 4);
                       h.image_size = 0;
                   },
                   -1,
                   zero_corrected + "0xFFFFFFFF\n" + range_error + "2147483648 x 1 out of range\n"},
        check_case{"width_ffffffff", consistent(0xFFFFFFFF, 1, 8), -1,
                   zero_corrected + "0xFFFFFFFF\n" + range_error + "4294967295 x 1 out of range\n"},
        check_case{"row_over_2_gib", consistent(0x20000000, 1, 32), -1,
                   "error: check_bitmap_header() - data length 0x80000000 != 0xFFFFFFFF\n"},
        check_case{"pixel_buffer_over_2_gib", consistent(0x40000000, 4, 1), -1,
                   range_error + "1073741824 x 4 out of range\n"},
        check_case{"file_over_2_gib", consistent(0x7FFFFC00, 1, 8), -1,
                   range_error + "2147482624 x 1 out of range\n"}),
    [](const testing::TestParamInfo<check_case>& info) { return std::string(info.param.name); });

bytes good_4_bit_file(int width = 5, int height = 4) {
    return written_file(width, height, 4, test_palette(16), round_trip_pixels(width, height, 4));
}

TEST(read_bitmap, without_pixel_slot_reads_nothing) {
    const bytes file = good_4_bit_file();
    file_ptr stream = stream_of(file);
    bitmap_header header;
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = read_bitmap(stream.get(), &header, nullptr, nullptr, 0); }),
              "");
    EXPECT_EQ(result, -3);
    EXPECT_EQ(std::ftell(stream.get()), 0);
}

TEST(read_bitmap, bad_headers_are_refused_with_one_message) {
    bytes not_bm = good_4_bit_file();
    not_bm[1] = 'A';
    bytes two_planes = good_4_bit_file();
    two_planes[26] = 2;
    const bytes good = good_4_bit_file();
    for (const bytes& file :
         {bytes(good.begin(), good.begin() + 53), not_bm, two_planes, bytes{}}) {
        const read_result r = read_bytes(file);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.printed, header_refused);
        EXPECT_EQ(r.pixels.data, nullptr);
    }
}

TEST(read_bitmap, palette_is_skipped_or_filled_in_place) {
    const bytes file = good_4_bit_file();
    const read_result reference = read_bytes(file);
    ASSERT_EQ(reference.result, 0);
    ASSERT_NE(reference.pixels.data, nullptr);
    const bytes expected_pixels(reference.pixels.data,
                                reference.pixels.data + reference.pixels.size);

    { // no palette slot: the palette is passed over
        file_ptr stream = stream_of(file);
        bitmap_header header;
        buffer_slot pixels;
        ASSERT_EQ(read_bitmap(stream.get(), &header, nullptr, &pixels, 0), 0);
        EXPECT_EQ(bytes(pixels.data, pixels.data + pixels.size), expected_pixels);
    }
    { // the caller's palette and pixel buffers are filled, no allocation
        bytes palette(64, 0xEE);
        bytes pixels(expected_pixels.size(), 0xEE);
        buffer_slot palette_slot = borrowed_slot(palette.data(), palette.size());
        buffer_slot pixel_slot = borrowed_slot(pixels.data(), pixels.size());
        file_ptr stream = stream_of(file);
        bitmap_header header;
        EXPECT_EQ(read_bitmap(stream.get(), &header, &palette_slot, &pixel_slot, 0), 0);
        EXPECT_EQ(palette, test_palette(16));
        EXPECT_EQ(pixels, expected_pixels);
        EXPECT_EQ(palette_slot.owned, nullptr);
        EXPECT_EQ(pixel_slot.owned, nullptr);
    }
    { // a caller's buffer that is too small is refused, not overrun
        bytes pixels(expected_pixels.size() - 1, 0xEE);
        buffer_slot pixel_slot = borrowed_slot(pixels.data(), pixels.size());
        file_ptr stream = stream_of(file);
        bitmap_header header;
        int result = 0;
        EXPECT_EQ(printed_by([&] {
                      result = read_bitmap(stream.get(), &header, nullptr, &pixel_slot, 0);
                  }),
                  "error: read_bitmap() - pixel buffer too small\n");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(pixels, bytes(pixels.size(), 0xEE));
    }
}

TEST(read_bitmap, direct_colour_file_leaves_palette_slot_alone) {
    const bytes file = written_file(3, 2, 24, {}, bytes(18, 9));
    bytes palette(8, 0xEE);
    buffer_slot palette_slot = borrowed_slot(palette.data(), palette.size());
    buffer_slot pixels;
    file_ptr stream = stream_of(file);
    bitmap_header header;
    EXPECT_EQ(read_bitmap(stream.get(), &header, &palette_slot, &pixels, 0), 0);
    EXPECT_EQ(palette, bytes(8, 0xEE));
    EXPECT_EQ(palette_slot.data, palette.data());
}

TEST(read_bitmap, truncated_file_fails_without_allocating_pixels) {
    const bytes file = good_4_bit_file(); // 54 + 64 palette + 4 rows of 4 bytes
    struct {
        std::size_t length;
        std::string printed;
    } const cases[] = {
        {54 + 63, "error: read_bitmap() - can't read palette\n"},
        {54 + 64 + 15, "error: read_bitmap() - can't read bitmap data\n"},
        {54 + 64, "error: read_bitmap() - can't read bitmap data\n"},
    };
    for (const auto& c : cases) {
        const read_result r =
            read_bytes(bytes(file.begin(), file.begin() + static_cast<long>(c.length)));
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.printed, c.printed);
        EXPECT_EQ(r.pixels.data, nullptr);
    }
}

TEST(read_bitmap, short_rows_keep_the_rows_read_in_a_caller_buffer) {
    constexpr int width = 5;
    const bytes full = good_4_bit_file(width, 4);
    const bytes file(full.begin(), full.end() - 6); // rows 3 and 2 whole, row 1 half
    bytes pixels(width * 4, 0xEE);
    buffer_slot pixel_slot = borrowed_slot(pixels.data(), pixels.size());
    file_ptr stream = stream_of(file);
    bitmap_header header;
    int result = 0;
    EXPECT_EQ(
        printed_by([&] { result = read_bitmap(stream.get(), &header, nullptr, &pixel_slot, 0); }),
        "error: read_bitmap() - can't read bitmap data\n");
    EXPECT_EQ(result, -1);
    const read_result whole = read_bytes(full);
    ASSERT_EQ(whole.result, 0);
    EXPECT_EQ(bytes(pixels.begin(), pixels.begin() + 2 * width), bytes(2 * width, 0xEE));
    EXPECT_EQ(bytes(pixels.begin() + 2 * width, pixels.end()),
              bytes(whole.pixels.data + 2 * width, whole.pixels.data + 4 * width));
}

// A pipe cannot tell its length: the buffer is taken and filled as far as
// the rows go; a palette to skip is read and dropped.
TEST(read_bitmap, unseekable_stream_reads_in_sequence) {
    const bytes full = good_4_bit_file(5, 4);
    const read_result whole = read_bytes(full);
    ASSERT_EQ(whole.result, 0);
    for (const bool cut : {false, true}) {
        const bytes file(full.begin(), full.end() - (cut ? 6 : 0));
        std::array<int, 2> fds{};
        ASSERT_EQ(pipe(fds.data()), 0);
        ASSERT_EQ(write(fds[1], file.data(), file.size()), static_cast<ssize_t>(file.size()));
        close(fds[1]);
        file_ptr stream(fdopen(fds[0], "rb"));
        bitmap_header header;
        buffer_slot pixels;
        int result = 0;
        const std::string out =
            printed_by([&] { result = read_bitmap(stream.get(), &header, nullptr, &pixels, 0); });
        ASSERT_NE(pixels.data, nullptr);
        if (cut) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(out, "error: read_bitmap() - can't read bitmap data\n");
            EXPECT_EQ(bytes(pixels.data + 10, pixels.data + 20),
                      bytes(whole.pixels.data + 10, whole.pixels.data + 20));
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(bytes(pixels.data, pixels.data + 20),
                      bytes(whole.pixels.data, whole.pixels.data + 20));
        }
    }
}

// The headers claim pictures of up to 2 GiB in files of a few bytes.
TEST(read_bitmap, huge_header_in_tiny_file_allocates_nothing) {
    struct {
        std::uint32_t width;
        std::int32_t height;
        std::uint16_t bits;
    } const cases[] = {
        {0x7FFFFFFF, 1, 4}, {20000, 20000, 24}, {0x7FFFFFFF, 1, 1}, {16384, 16384, 32}};
    for (const auto& c : cases) {
        bitmap_header header;
        make_bitmap_header(&header, c.width, c.height, c.bits);
        bytes file = written_by([&](std::FILE* s) { write_bitmap_header(s, &header); });
        file.resize(file.size() + 64 + 100, 0x11);
        const read_result r = read_bytes(file);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.pixels.data, nullptr);
        EXPECT_TRUE(r.printed.ends_with("error: read_bitmap() - can't read bitmap data\n"))
            << r.printed;
    }
}

TEST(read_bitmap, header_read_by_caller_is_still_size_checked) {
    const bytes file = good_4_bit_file();
    file_ptr stream = stream_of(file);
    bitmap_header header;
    ASSERT_EQ(read_bitmap_header(stream.get(), &header), 0);
    bitmap_header absurd = header;
    absurd.width = 0;
    buffer_slot pixels;
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = read_bitmap(stream.get(), &absurd, nullptr, &pixels, 1); }),
              header_refused);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(read_bitmap(stream.get(), &header, nullptr, &pixels, 1), 0);
    const read_result whole = read_bytes(file);
    ASSERT_EQ(whole.result, 0);
    EXPECT_EQ(bytes(pixels.data, pixels.data + pixels.size),
              bytes(whole.pixels.data, whole.pixels.data + whole.pixels.size));
}

TEST(read_bitmap, mended_headers_read_and_stop_after_the_last_row) {
    bytes file = good_4_bit_file();
    const std::size_t rows_end = file.size();
    put_le32(file.data() + 34, 0);           // data length 0
    put_le32(file.data() + 2, rows_end + 2); // two bytes more than needed
    file.insert(file.end(), {0xAB, 0xCD});
    file_ptr stream = stream_of(file);
    const read_result r = read_from(stream.get());
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.printed, "warning: check_bitmap_header() - data length is 0 ... corrected: 0x10\n"
                         "warning: check_bitmap_header() - file length 0x88 > 0x86\n");
    EXPECT_EQ(r.header.image_size, 0x10u);
    EXPECT_EQ(std::ftell(stream.get()), static_cast<long>(rows_end));
}

} // namespace
} // namespace kz::test

// The picture interface: the format a name asks for, the format a file is
// read as (by its first byte, on files that Pillow wrote), and the format
// written. What the written files show in other programs is the end-to-end
// tests' part.
#include "bitmap/picture.h"

#include "bitmap_test_support.h"

#include <tuple>

namespace kz::test {
namespace {

TEST(picture_format_for_name, png_only_for_a_name_ending_in_png_in_any_case) {
    const struct {
        const char* fault;
        const char* name;
        picture_format format;
    } cases[] = {
        {"lower_case_ending_missed", "sheet.png", picture_format::png},
        {"ending_compared_with_case", "SHEET.Png", picture_format::png},
        {"name_of_only_the_ending_missed", ".png", picture_format::png},
        {"earlier_ending_taken", "sheet.bmp.png", picture_format::png},
        {"any_png_in_the_name_taken", "sheet.png.bmp", picture_format::bmp},
        {"folder_ending_taken", "old.png/sheet", picture_format::bmp},
        {"ending_without_its_dot_taken", "sheetpng", picture_format::bmp},
        {"short_name_read_before_its_start", "png", picture_format::bmp},
        {"empty_name_not_bmp", "", picture_format::bmp},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(picture_format_for_name(c.name), c.format) << c.fault;
    }
}

// Writes Pillow's files of a 9 x 5 picture of 16 test colours into the
// folder: indexed as PNG and as (8-bit) BMP, and in colour as PNG. The
// palette is filled up with black to 256 entries: Pillow writes as many as
// it is given, and a bitmap's check takes only the whole palette of its
// bit count.
void write_pillow_pictures(const scratch_dir& dir) {
    std::string palette, indices;
    for (int i = 0; i < 256; ++i) {
        const rgb c = i < 16 ? test_colour(i) : rgb{};
        palette += std::to_string(c.red) + "," + std::to_string(c.green) + "," +
                   std::to_string(c.blue) + ",";
    }
    for (int i = 0; i < 45; ++i) {
        indices += std::to_string(picture_index(i % 9, i / 9, 16)) + ",";
    }
    std::ofstream(dir.file("make.py")) << "import sys\nfrom PIL import Image\n"
                                       << "im = Image.new('P', (9, 5))\n"
                                       << "im.putpalette([" << palette << "])\n"
                                       << "im.putdata([" << indices << "])\n"
                                       << "im.save(sys.argv[1] + '/indexed.png')\n"
                                       << "im.save(sys.argv[1] + '/indexed.bmp')\n"
                                       << "im.convert('RGB').save(sys.argv[1] + '/colour.png')\n";
    ASSERT_EQ(run(std::string(KZ_PYTHON) + " '" + dir.file("make.py") + "' '" + dir.path + "'"), 0);
}

bytes changed(bytes file, std::size_t at, std::uint8_t value) {
    file.at(at) = value;
    return file;
}

TEST(read_picture, format_comes_from_the_first_byte_and_pixels_keep_their_colours) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    write_pillow_pictures(dir);
    const bytes png = read_file(dir.file("indexed.png"));
    const bytes bmp = read_file(dir.file("indexed.bmp"));
    const bytes colour = read_file(dir.file("colour.png"));
    ASSERT_TRUE(!png.empty() && !bmp.empty() && !colour.empty());
    const std::string bad_signature = "error: read_png() - invalid signature\n";
    const struct {
        const char* fault;
        bytes file;
        picture_format format;
        int result;
        std::string printed;
        int bit_count;
    } cases[] = {
        {"png_read_as_a_bitmap", png, picture_format::png, 0, "", 8},
        {"bitmap_read_as_a_png", bmp, picture_format::bmp, 0, "", 8},
        {"colour_png_given_a_palette", colour, picture_format::png, 0, "", 24},
        // A PNG damaged after its first byte (a transfer in text mode) is
        // refused in the PNG reader's words, not the bitmap reader's.
        {"damaged_png_signature_read_as_a_bitmap", changed(png, 4, '\n'), picture_format::png, -1,
         bad_signature, 0},
        {"png_without_its_first_byte_read_as_a_png", changed(png, 0, 'B'), picture_format::bmp, -1,
         header_refused, 0},
        {"empty_file_not_refused", {}, picture_format::bmp, -1, header_refused, 0},
        {"damaged_bitmap_signature_accepted", changed(bmp, 1, 'X'), picture_format::bmp, -1,
         header_refused, 0},
    };
    for (const auto& c : cases) {
        file_ptr stream = stream_of(c.file);
        picture_reader reader;
        int result = 1;
        const std::string printed =
            printed_by([&] { result = read_picture_header(stream.get(), &reader); });
        EXPECT_EQ(std::tuple(reader.format, result, printed),
                  std::tuple(c.format, c.result, c.printed))
            << c.fault;
        if (result < 0) {
            continue;
        }
        EXPECT_EQ(std::tuple(reader.width, reader.height, reader.bit_count),
                  std::tuple(9u, 5u, c.bit_count))
            << c.fault;
        buffer_slot palette, pixels;
        EXPECT_EQ(read_picture_pixels(&reader, &palette, &pixels), 0) << c.fault;
        for (int i = 0; pixels.data != nullptr && i < 45; ++i) {
            const std::uint8_t* bgr =
                c.bit_count == 8 ? palette.data + 4 * pixels.data[i] : pixels.data + 3 * i;
            const rgb expected = test_colour(picture_index(i % 9, i / 9, 16));
            EXPECT_EQ(std::tuple(bgr[2], bgr[1], bgr[0]),
                      std::tuple(expected.red, expected.green, expected.blue))
                << c.fault << " pixel " << i;
        }
    }
}

TEST(write_picture, format_given_is_the_format_written) {
    const bytes palette = test_palette(16);
    const bytes pixels = make_picture(9, 5, 4);
    const struct {
        const char* fault;
        picture_format format;
        std::int32_t height;
        int bit_count;
        int result;
        std::string signature;
    } cases[] = {
        {"bitmap_written_as_png", picture_format::bmp, 5, 4, 0, "BM"},
        {"png_written_as_bitmap", picture_format::png, 5, 4, 0, "\x89PNG\r\n\x1A\n"},
        {"top_down_png_accepted", picture_format::png, -5, 4, -1, ""},
        {"png_of_no_indexed_depth_accepted", picture_format::png, 5, 24, -1, ""},
    };
    for (const auto& c : cases) {
        int result = 1;
        const bytes file = written_by([&](std::FILE* s) {
            result = write_picture(s, c.format,
                                   {9, c.height, c.bit_count, palette.data(), pixels.data()});
        });
        EXPECT_EQ(
            std::tuple(result, std::string(file.begin(), file.end()).substr(0, c.signature.size())),
            std::tuple(c.result, c.signature))
            << c.fault;
        EXPECT_TRUE(result == 0 || file.empty()) << c.fault;
    }
}

} // namespace
} // namespace kz::test

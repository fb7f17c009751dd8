// The bitmap library against independent BMP writers and readers: files
// that Pillow, ImageMagick and netpbm write are read as they meant them or
// refused in the check's words, and the files that the library writes show
// the same colours in their readers. These tests run those programs, so they
// are built apart from the library's own tests, which need none of them.
#include "bitmap_test_support.h"

namespace kz::test {
namespace {

// A 9 x 5 picture of n colours made into a BMP by Pillow (P), ImageMagick (M)
// or netpbm (N).
struct tool_case {
    const char* name;
    int colours;
    char tool;
    const char* options;
    int bit_count; // 0: the file is refused
    std::string printed;
};

class read_bitmap_tool_files : public testing::TestWithParam<tool_case> {};

TEST_P(read_bitmap_tool_files, read_as_the_tool_wrote_them_or_refused) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    const tool_case& c = GetParam();
    scratch_dir dir;
    const std::string ppm = dir.file("p.ppm"), bmp = dir.file("p.bmp");
    const std::string picture = ppm_picture(c.colours);
    std::ofstream(ppm, std::ios::binary) << picture;
    const std::string pillow =
        " -c \"import sys; from PIL import Image; mode, ppm, bmp = sys.argv[1:]; "
        "im = Image.open(ppm); (im.quantize(256) if mode == 'P' else im.convert("
        "mode, dither=Image.Dither.NONE)).save(bmp)\" ";
    const std::string command =
        c.tool == 'P'   ? KZ_PYTHON + pillow + c.options + " " + ppm + " " + bmp
        : c.tool == 'M' ? KZ_CONVERT " " + ppm + " " + c.options + ":" + bmp
                        : KZ_PPMTOBMP " " + std::string(c.options) + " " + ppm + " >" + bmp;
    ASSERT_EQ(run(command + " 2>/dev/null"), 0) << command;

    const read_result r = read_from(file_ptr(std::fopen(bmp.c_str(), "rb")).get());
    EXPECT_EQ(std::tuple(r.result, r.printed, r.result == 0 ? r.header.bit_count : 0),
              std::tuple(c.bit_count != 0 ? 0 : -1, c.printed, c.bit_count != 0 ? c.bit_count : 0));
    for (int i = 0; r.result == 0 && i < 45; ++i) {
        const std::uint8_t* pixel = r.pixels.data + i * ((c.bit_count + 7) / 8);
        const std::uint8_t* bgr = c.bit_count <= 8 ? r.palette.data + 4 * *pixel : pixel;
        EXPECT_EQ(std::string({char(bgr[2]), char(bgr[1]), char(bgr[0])}),
                  picture.substr(11 + 3 * i, 3))
            << "pixel " << i;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(independent_writers, read_bitmap_tool_files, testing::Values(
    tool_case{"pillow_1", 2, 'P', "1", 1, ""},
    tool_case{"pillow_8", 40, 'P', "P", 8, ""},
    tool_case{"pillow_24", 40, 'P', "RGB", 24, ""},
    tool_case{"pillow_32", 40, 'P', "RGBA", 32, ""},
    tool_case{"magick_1", 2, 'M', "-type Bilevel BMP3", 1, ""},
    tool_case{"magick_4", 16, 'M', "-type Palette -colors 16 -compress None BMP3", 4, ""},
    tool_case{"magick_8", 40, 'M', "-type Palette -compress None BMP3", 8, ""},
    tool_case{"magick_24", 40, 'M', "-type TrueColor BMP3", 24, ""},
    // ppmtobmp leaves the data length 0, which the check mends
    tool_case{"netpbm_1", 2, 'N', "-bpp 1", 1, zero_corrected + "0x14\n"},
    tool_case{"netpbm_4", 16, 'N', "-bpp 4", 4, zero_corrected + "0x28\n"},
    tool_case{"netpbm_8", 40, 'N', "-bpp 8", 8, zero_corrected + "0x3C\n"},
    tool_case{"netpbm_24", 40, 'N', "-bpp 24", 24, zero_corrected + "0x8C\n"},
    tool_case{"magick_v5_header", 40, 'M', "-type TrueColor BMP", 0, "error: " + check +
              "not supported header type - support only Windows V3\n" + header_refused},
    tool_case{"magick_rle8", 40, 'M', "-type Palette BMP3", 0,
              "error: " + check + "not support compression\n" + header_refused}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A 9 x 5 picture written at each bit count reads back the same with our
// reader (palette and all) and shows the same colours in other programs'
// readers, which make a PPM picture of it (16-bit colours are compared in
// their top 5 bits, as readers widen them differently).
class bitmap_round_trip : public testing::TestWithParam<int> {};

TEST_P(bitmap_round_trip, written_file_reads_back_here_and_in_other_readers) {
    const int bits = GetParam();
    const bytes pixels = make_picture(9, 5, bits), file = bitmap_file(9, 5, bits, pixels);
    bitmap_header header;
    buffer_slot palette, read;
    EXPECT_EQ(read_bitmap(stream_of(file).get(), &header, &palette, &read, 0), 0);
    EXPECT_EQ(bytes(read.data, read.data + read.size), pixels);
    EXPECT_EQ(bytes(palette.data, palette.data + palette.size),
              test_palette(bits <= 8 ? 1 << bits : 0));

    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    const std::string bmp = dir.file("ours.bmp"), ppm = dir.file("ours.ppm");
    std::ofstream(bmp, std::ios::binary) << std::string(file.begin(), file.end());
    const std::string expected = ppm_picture(colours_at(bits));
    const std::string pillow = " -c \"import sys; from PIL import Image; Image.open(sys.argv[1])"
                               ".convert('RGB').save(sys.argv[2], 'PPM')\" ";
    const std::pair<const char*, std::string> readers[] = {
        {"Pillow", KZ_PYTHON + pillow + bmp + " " + ppm},
        {"ImageMagick", KZ_CONVERT " " + bmp + " -depth 8 ppm:" + ppm},
        {"netpbm", KZ_BMPTOPNM " " + bmp + " 2>/dev/null | " KZ_PPMTOPPM " >" + ppm},
    };
    for (const auto& [name, command] : readers) {
        std::filesystem::remove(ppm);
        ASSERT_EQ(run(command), 0) << command;
        std::ifstream in(ppm, std::ios::binary);
        std::string seen(std::istreambuf_iterator<char>(in), {});
        ASSERT_EQ(seen.size(), expected.size()) << name;
        for (std::size_t i = 11; bits == 16 && i < seen.size(); ++i) {
            seen[i] = static_cast<char>((seen[i] & 0xF8) | (expected[i] & 0x07));
        }
        EXPECT_EQ(seen, expected) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(every_depth, bitmap_round_trip, testing::Values(1, 4, 8, 16, 24, 32),
                         [](const auto& info) { return std::to_string(info.param) + "_bits"; });

} // namespace
} // namespace kz::test

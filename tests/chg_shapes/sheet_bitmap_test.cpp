// The changers' sheet loading: a PNG's size is judged from its header before
// any pixel is decoded, a bitmap's once its rows are read (what is wrong
// with them is said first); what is read is brought to the sheet's colours.
#include "tools/chg_shapes/sheet_bitmap.h"

#include "bitmap/picture.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kz::test {
namespace {

// A 4-bit picture of the shape palette's colours 0-7, index (x + 3y) % 8,
// in the format, cut to its first keep bytes.
bytes sheet_file(picture_format format, std::uint32_t width, std::int32_t height,
                 std::size_t keep = SIZE_MAX) {
    bytes pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>((i % width + 3 * (i / width)) % 8);
    }
    std::FILE* stream = temporary_stream();
    EXPECT_EQ(
        write_picture(stream, format, {width, height, 4, shape_palette.data(), pixels.data()}), 0);
    bytes file(static_cast<std::size_t>(std::ftell(stream)));
    std::rewind(stream);
    EXPECT_EQ(std::fread(file.data(), 1, file.size(), stream), file.size());
    std::fclose(stream);
    file.resize(std::min(keep, file.size()));
    return file;
}

const std::string size_error = "bitmap size error 'sheet' ";
const std::string read_error = "read error 'sheet'\n";

TEST(load_sheet_stream, png_sizes_are_judged_first_bitmap_rows_first_and_pixels_take_the_sheet_colours) {
    const struct {
        const char* fault;
        bytes file;
        int result;
        std::string printed;
        int rows;
    } cases[] = {
        {"bitmap_of_the_wrong_size_accepted", sheet_file(picture_format::bmp, 512, 2048), -1,
         size_error + "512 x 2048\n", 0},
        {"damaged_rows_of_a_bitmap_of_the_wrong_size_not_named",
         sheet_file(picture_format::bmp, 256, 256, 20000), -1,
         "error: read_bitmap() - can't read bitmap data\n" + read_error, 0},
        {"png_of_the_wrong_size_decoded_before_it_is_refused",
         sheet_file(picture_format::png, 511, 1024, 40), -1, size_error + "511 x 1024\n", 0},
        {"damaged_rows_of_a_sheet_accepted", sheet_file(picture_format::bmp, 512, 1024, 5000), -1,
         "error: read_bitmap() - can't read bitmap data\n" + read_error, 32},
        {"damaged_png_sheet_accepted", sheet_file(picture_format::png, 512, 1024, 100), -1,
         "error: read_png() - end of stream\n" + read_error, 32},
        {"what_is_no_picture_accepted", bytes{'n', 'o', 'n', 'e'}, -1,
         "error: read_bitmap() - can't read bitmap header\n" + read_error, 0},
        {"tiles_half_of_a_sheet_refused", sheet_file(picture_format::bmp, 512, 512), 0, "", 16},
        {"png_sheet_refused", sheet_file(picture_format::png, 512, 1024), 0, "", 32},
    };
    for (const auto& c : cases) {
        std::FILE* stream = temporary_stream();
        ASSERT_NE(stream, nullptr);
        std::fwrite(c.file.data(), 1, c.file.size(), stream);
        std::rewind(stream);
        bytes target(sheet_bytes, 0xEE);
        int rows = 0;
        int result = 1;
        const std::string printed = capture_stdout([&] {
            result = load_sheet_stream(stream, "sheet", &rows, 4, changer_palette.data(), target);
        });
        std::fclose(stream);
        EXPECT_EQ(std::tuple(result, printed), std::tuple(c.result, c.printed)) << c.fault;
        if (result != 0) {
            continue;
        }
        EXPECT_EQ(rows, c.rows) << c.fault;
        // Each pixel the nearest sheet colour, the rest of the sheet as it was.
        const std::size_t lines = static_cast<std::size_t>(rows) * shape_size;
        for (std::size_t i = 0; i < target.size(); ++i) {
            const std::uint8_t expected =
                i < lines * sheet_width ? static_cast<std::uint8_t>((i % 512 + 3 * (i / 512)) % 8)
                                        : 0xEE;
            ASSERT_EQ(target[i], expected) << c.fault << " pixel " << i;
        }
    }
}

} // namespace
} // namespace kz::test

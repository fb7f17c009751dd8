// Transparent pixels both ways, against independent programs: the reader
// tells the fully transparent pixels of PNG files that Pillow, netpbm and
// ImageMagick wrote in every form a PNG has for them, without changing what
// it reads for the colours; Pillow and ImageMagick see the pixels that the
// writer made transparent, and the colours of the others.
#include "bitmap/picture.h"

#include "bitmap_test_support.h"

#include <algorithm>
#include <tuple>

namespace kz::test {
namespace {

struct picture_read {
    int result = 1;
    int bit_count = 0;
    buffer_slot palette, pixels, clear;
    transparent_pixels transparent;
};

// Reads a whole picture, telling its transparent pixels when asked.
picture_read read_whole(const bytes& file, bool ask) {
    picture_read r;
    const file_ptr stream = stream_of(file);
    picture_reader reader;
    r.transparent.slot = &r.clear;
    r.result = read_picture_header(stream.get(), &reader);
    if (r.result >= 0) {
        r.result =
            read_picture_pixels(&reader, &r.palette, &r.pixels, ask ? &r.transparent : nullptr);
    }
    r.bit_count = reader.bit_count;
    return r;
}

bytes slot_bytes(const buffer_slot& slot, std::size_t size) {
    return slot.data == nullptr ? bytes{} : bytes(slot.data, slot.data + size);
}

TEST(read_picture_pixels, fully_transparent_pixels_are_told_in_every_form_of_png) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    ASSERT_EQ(run(std::string(KZ_PYTHON) + " '" + KZ_TRANSPARENT_PNGS + "' '" + dir.path + "' '" +
                  KZ_CONVERT + "' '" + KZ_PNMTOPNG + "'"),
              0);
    const struct {
        const char* fault;
        const char* file;
    } cases[] = {
        {"alpha_0_missed_or_partial_alpha_taken", "pillow_rgba_8bit.png"},
        {"grey_alpha_missed", "pillow_grey_alpha_8bit.png"},
        {"sixteen_bit_alpha_below_256_taken", "netpbm_rgba_16bit.png"},
        {"sixteen_bit_grey_alpha_below_256_taken", "netpbm_grey_alpha_16bit.png"},
        {"interlaced_pass_put_in_other_columns", "magick_rgba_8bit_interlaced.png"},
        {"interlaced_16_bit_alpha_misplaced", "magick_rgba_16bit_interlaced.png"},
        {"palette_alpha_missed_or_partial_taken", "pillow_indexed_8bit_trns.png"},
        {"palette_alpha_of_packed_indices_missed", "pillow_indexed_4bit_trns.png"},
        {"transparent_grey_missed", "pillow_grey_8bit_trns.png"},
        {"transparent_grey_of_2_bits_missed", "netpbm_grey_2bit_trns.png"},
        {"sixteen_bit_grey_key_matched_by_its_high_byte", "netpbm_grey_16bit_trns.png"},
        {"transparent_colour_missed", "pillow_rgb_8bit_trns.png"},
        {"sixteen_bit_colour_key_matched_by_its_high_bytes_interlaced",
         "netpbm_rgb_16bit_trns_interlaced.png"},
        {"opaque_alpha_filled_the_slot", "pillow_rgba_all_opaque.png"},
        {"picture_without_alpha_filled_the_slot", "pillow_rgb.png"},
        {"bitmap_told_transparent_pixels", "pillow_bitmap.bmp"},
    };
    for (const auto& c : cases) {
        const bytes file = read_file(dir.file(c.file));
        const std::string name(c.file);
        const bytes clear = read_file(dir.file(name.substr(0, name.rfind('.')) + ".clear"));
        ASSERT_TRUE(!file.empty() && clear.size() == 45) << c.fault;
        const picture_read plain = read_whole(file, false);
        picture_read told;
        const std::string printed = printed_by([&] { told = read_whole(file, true); });
        ASSERT_EQ(std::tuple(plain.result, told.result, printed), std::tuple(0, 0, "")) << c.fault;
        // Asking changes nothing of what is read for the colours.
        const std::size_t bytes_per_pixel = static_cast<std::size_t>(told.bit_count / 8);
        EXPECT_EQ(std::tuple(told.bit_count, slot_bytes(told.pixels, 45 * bytes_per_pixel),
                             slot_bytes(told.palette, plain.palette.data ? 1024 : 0)),
                  std::tuple(plain.bit_count, slot_bytes(plain.pixels, 45 * bytes_per_pixel),
                             slot_bytes(plain.palette, plain.palette.data ? 1024 : 0)))
            << c.fault;
        const auto expected = static_cast<std::size_t>(std::count(clear.begin(), clear.end(), 1));
        EXPECT_EQ(told.transparent.count, expected) << c.fault;
        // The slot is filled only for a picture with a transparent pixel.
        EXPECT_EQ(slot_bytes(told.clear, 45), expected != 0 ? clear : bytes{}) << c.fault;
    }
}

// The writer's transparent pixels as Pillow and ImageMagick see them: RGBA,
// alpha 0 where transparent, else the palette's colour and alpha 255.
TEST(write_picture, transparent_pixels_show_in_pillow_and_imagemagick) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    for (const int bits : {1, 4}) {
        const bytes pixels = make_picture(9, 5, bits);
        const bytes palette = test_palette(1 << bits);
        bytes clear(pixels.size());
        for (std::size_t i = 0; i < clear.size(); ++i) {
            clear[i] = (i * 7 + 3) % 5 == 0 ? 1 : 0;
        }
        const bytes file = written_by([&](std::FILE* s) {
            EXPECT_EQ(write_picture(s, picture_format::png,
                                    {9, 5, bits, palette.data(), pixels.data(), clear.data()}),
                      0);
        });
        write_file(dir.file("clear.png"), file);
        ASSERT_EQ(run(std::string(KZ_PYTHON) +
                      " -c \"import sys; from PIL import Image; "
                      "sys.stdout.buffer.write(Image.open(sys.argv[1])"
                      ".convert('RGBA').tobytes())\" '" +
                      dir.file("clear.png") + "' > '" + dir.file("pillow.rgba") + "'"),
                  0);
        ASSERT_EQ(run(std::string(KZ_CONVERT) + " '" + dir.file("clear.png") +
                      "' -depth 8 'RGBA:" + dir.file("magick.rgba") + "'"),
                  0);
        for (const char* reader : {"pillow.rgba", "magick.rgba"}) {
            const bytes rgba = read_file(dir.file(reader));
            ASSERT_EQ(rgba.size(), 4 * pixels.size()) << reader << " at " << bits << " bits";
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                const rgb colour = test_colour(pixels[i]);
                const auto seen =
                    std::tuple(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], rgba[4 * i + 3]);
                if (clear[i] != 0) {
                    EXPECT_EQ(std::get<3>(seen), 0)
                        << reader << " pixel " << i << " at " << bits << " bits";
                } else {
                    EXPECT_EQ(seen, std::tuple(colour.red, colour.green, colour.blue, 255))
                        << reader << " pixel " << i << " at " << bits << " bits";
                }
            }
        }
    }
}

// A bitmap's header has no alpha: a picture with a transparent pixel is
// not written as one, rather than written opaque.
TEST(write_picture, a_bitmap_refuses_transparent_pixels) {
    const bytes pixels = make_picture(9, 5, 4);
    const bytes palette = test_palette(16);
    bytes clear(pixels.size());
    const auto write_bmp = [&] {
        int result = 1;
        const bytes file = written_by([&](std::FILE* s) {
            result = write_picture(s, picture_format::bmp,
                                   {9, 5, 4, palette.data(), pixels.data(), clear.data()});
        });
        return std::tuple(result, file.size());
    };
    EXPECT_EQ(std::get<0>(write_bmp()), 0); // none transparent
    clear[44] = 1;
    EXPECT_EQ(write_bmp(), std::tuple(-1, std::size_t{0}));
}

} // namespace
} // namespace kz::test

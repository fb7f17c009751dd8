// Shared pieces of the bitmap tests: streams over byte vectors, scratch
// directories for the independent tools, and asymmetric test pictures.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "bitmap/bitmap.h"
#include "io/test_files.h"

namespace kz::test {

using bytes = std::vector<std::uint8_t>;
struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

inline int run(const std::string& command) {
    return run_host_command(command);
}

inline file_ptr stream_of(const bytes& content) {
    file_ptr stream(temporary_stream());
    if (!content.empty()) { // an empty vector's data() may be null, which fwrite must not get
        std::fwrite(content.data(), 1, content.size(), stream.get());
    }
    std::rewind(stream.get());
    return stream;
}

inline bytes written_by(const std::function<void(std::FILE*)>& write) {
    file_ptr stream(temporary_stream());
    write(stream.get());
    bytes content(static_cast<std::size_t>(std::ftell(stream.get())));
    std::rewind(stream.get());
    EXPECT_EQ(std::fread(content.data(), 1, content.size(), stream.get()), content.size());
    return content;
}

inline std::string printed_by(const std::function<void()>& action) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

struct rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
};

// Test colour i (0-255): black, white, then others, all distinct, each
// component a widened 5-bit value, so that it survives a 16-bit pixel.
inline rgb test_colour(int i) {
    if (i < 2) {
        return i == 0 ? rgb{} : rgb{255, 255, 255};
    }
    const auto widen = [](int v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); };
    const int a = i % 32, b = i / 32;
    return {widen((a * 7 + 3) % 32), widen((a * 13 + b * 5 + 1) % 32),
            widen((b * 9 + a * 3 + 17) % 32)};
}

// Colour number of pixel (x, y) of a picture of n colours, with no symmetry,
// so flipped rows and reversed pixels show.
inline int picture_index(int x, int y, int n) {
    return (7 * x + 3 * y * y + x * y + y) % n;
}

// The test colours in order, the fourth byte of entry i 0x80 | i, so it can be traced.
inline bytes test_palette(int entries) {
    bytes palette;
    for (int i = 0; i < entries; ++i) {
        const rgb c = test_colour(i);
        palette.insert(palette.end(), {c.blue, c.green, c.red, std::uint8_t(0x80 | i)});
    }
    return palette;
}

// A pixel of test colour i: the index when indexed; bit 15 of a 16-bit pixel
// is set when the fourth byte is not 0.
inline void put_pixel(bytes& out, int bits, int i, int index, std::uint8_t fourth) {
    const rgb c = test_colour(i);
    const unsigned v =
        (fourth ? 0x8000 : 0) | (c.red >> 3) << 10 | (c.green >> 3) << 5 | c.blue >> 3;
    if (bits <= 8) {
        out.push_back(static_cast<std::uint8_t>(index));
    } else if (bits == 16) {
        out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
    } else {
        out.insert(out.end(), {c.blue, c.green, c.red});
        out.resize(out.size() + (bits == 32), fourth);
    }
}

// Colours of a picture: at most the palette's (for indexed bit counts) or 40.
inline int colours_at(int bits) {
    return bits <= 8 ? 1 << bits : 40;
}

// A picture of test colours; the index is the colour, so that it goes with test_palette.
inline bytes make_picture(int width, int height, int bits) {
    bytes pixels;
    for (int i = 0; i < width * height; ++i) {
        const int colour = picture_index(i % width, i / width, colours_at(bits));
        put_pixel(pixels, bits, colour, colour, bits == 32 ? std::uint8_t(i) : 0);
    }
    return pixels;
}

// A 9 x 5 picture of n test colours as a PPM file: what readers should see.
inline std::string ppm_picture(int n) {
    std::string ppm = "P6\n9 5\n255\n";
    for (int i = 0; i < 45; ++i) {
        const rgb c = test_colour(picture_index(i % 9, i / 9, n));
        ppm.append({char(c.red), char(c.green), char(c.blue)});
    }
    return ppm;
}

// The file that write_bitmap makes of a picture, with the test palette
// when indexed.
inline bytes bitmap_file(int width, int height, int bits, const bytes& pixels) {
    bitmap_header header;
    const bytes palette = test_palette(bits <= 8 ? 1 << bits : 0);
    EXPECT_EQ(make_bitmap_header(&header, width, height, static_cast<std::uint16_t>(bits)), 0);
    return written_by([&](std::FILE* s) {
        EXPECT_EQ(write_bitmap(s, &header, palette.data(), pixels.data()), 0);
    });
}

// What the reader prints, and a whole read_bitmap call with its output.
inline const std::string check = "check_bitmap_header() - ";
inline const std::string header_refused = "error: read_bitmap() - can't read bitmap header\n";
inline const std::string data_short = "error: read_bitmap() - can't read bitmap data\n";
inline const std::string zero_corrected = "warning: " + check + "data length is 0 ... corrected: ";

struct read_result {
    int result = 0;
    std::string printed;
    bitmap_header header;
    buffer_slot palette, pixels;
};

inline read_result read_from(std::FILE* stream, buffer_slot palette = {}, buffer_slot pixels = {}) {
    read_result r{0, "", {}, std::move(palette), std::move(pixels)};
    r.printed =
        printed_by([&] { r.result = read_bitmap(stream, &r.header, &r.palette, &r.pixels, 0); });
    return r;
}

} // namespace kz::test

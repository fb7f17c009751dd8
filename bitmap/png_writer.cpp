// Writing a sheet as an indexed PNG file. The rows are packed as the PNG
// format packs them (the leftmost pixel in the high bits, as in a bitmap)
// and handed to libspng one at a time, so nothing picture-sized is
// allocated here.
#include "bitmap/png.h"

#include "terminal/terminal.h"

#include <spng.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kz {
namespace {

// The files are a few hundred kilobytes at most, so the fastest level that
// still compresses is worth more than the last few per cent: the stronger
// levels take several times as long for a file barely smaller.
constexpr int png_compression_level = 1;

bool is_black_and_white(const std::uint8_t* palette) {
    return palette == nullptr ||
           (palette[0] == 0 && palette[1] == 0 && palette[2] == 0 && palette[4] == 255 &&
            palette[5] == 255 && palette[6] == 255);
}

void pack_row(const std::uint8_t* pixels, std::size_t width, int bit_count, std::uint8_t* row) {
    if (bit_count == 8) {
        std::memcpy(row, pixels, width);
        return;
    }
    const int per_byte = 8 / bit_count;
    const auto mask = static_cast<std::uint8_t>((1u << bit_count) - 1);
    std::fill_n(row, (width + static_cast<std::size_t>(per_byte) - 1) / per_byte, 0);
    for (std::size_t x = 0; x < width; ++x) {
        // A bitmap's 1-bit pixel is set by any non-zero byte, its 4-bit pixel
        // is the low nibble: the PNG gets what the bitmap would.
        const std::uint8_t value = bit_count == 1 ? (pixels[x] != 0 ? 1 : 0) : pixels[x] & mask;
        const int shift = 8 - bit_count * (static_cast<int>(x % per_byte) + 1);
        row[x / per_byte] = static_cast<std::uint8_t>(row[x / per_byte] | value << shift);
    }
}

// A failed write leaves libspng in a state it names for itself; the stream
// tells what happened, in the words the bitmap writer uses.
int failed(std::FILE* stream, int error) {
    if (std::ferror(stream) != 0) {
        print_message("error: write_png() - can't write png data\n");
    } else {
        print_message("error: write_png() - %s\n", spng_strerror(error));
    }
    return -1;
}

} // namespace

void png_context_free::operator()(spng_ctx* context) const {
    spng_ctx_free(context);
}

int write_png(std::FILE* stream, std::uint32_t width, std::uint32_t height, int bit_count,
              const std::uint8_t* palette, const std::uint8_t* pixels) {
    if ((bit_count != 1 && bit_count != 4 && bit_count != 8) || pixels == nullptr || width == 0 ||
        height == 0) {
        return -1;
    }
    std::unique_ptr<spng_ctx, png_context_free> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) {
        print_message("error: memory exhaust!\n");
        return bitmap_memory_exhausted;
    }
    spng_ctx* png = context.get();
    const bool grey = bit_count == 1 && is_black_and_white(palette);
    spng_ihdr header{};
    header.width = width;
    header.height = height;
    header.bit_depth = static_cast<std::uint8_t>(bit_count);
    header.color_type = grey ? SPNG_COLOR_TYPE_GRAYSCALE : SPNG_COLOR_TYPE_INDEXED;
    int error = spng_set_png_file(png, stream);
    if (error == 0) {
        error = spng_set_ihdr(png, &header);
    }
    if (error == 0 && !grey) {
        spng_plte plte{};
        plte.n_entries = 1u << bit_count;
        for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
            const std::uint8_t* entry = palette != nullptr ? palette + i * palette_entry_size : nullptr;
            plte.entries[i].red = entry != nullptr ? entry[2] : 0;
            plte.entries[i].green = entry != nullptr ? entry[1] : 0;
            plte.entries[i].blue = entry != nullptr ? entry[0] : 0;
        }
        error = spng_set_plte(png, &plte);
    }
    // Filters seldom help indexed pictures, and cost time.
    for (const auto& [option, value] :
         {std::pair{SPNG_IMG_COMPRESSION_LEVEL, png_compression_level},
          std::pair{SPNG_FILTER_CHOICE, static_cast<int>(SPNG_DISABLE_FILTERING)},
          std::pair{SPNG_IMG_COMPRESSION_STRATEGY, 0 /* Z_DEFAULT_STRATEGY */}}) {
        if (error == 0) {
            error = spng_set_option(png, option, value);
        }
    }
    if (error == 0) {
        error = spng_encode_image(png, nullptr, 0, SPNG_FMT_PNG,
                                  SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    }
    if (error != 0) {
        return failed(stream, error);
    }
    std::vector<std::uint8_t> row((static_cast<std::size_t>(width) * bit_count + 7) / 8);
    for (std::uint32_t y = 0; y < height; ++y) {
        pack_row(pixels + static_cast<std::size_t>(y) * width, width, bit_count, row.data());
        error = spng_encode_row(png, row.data(), row.size());
        // The last row ends the image and finishes the file.
        if (error != 0 && !(error == SPNG_EOI && y + 1 == height)) {
            return failed(stream, error);
        }
    }
    return 0;
}

} // namespace kz

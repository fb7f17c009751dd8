// PNG pictures beside the bitmaps, through libspng: the sheets written as
// indexed PNG files with the bitmaps' palettes and indices, and PNG files of
// every standard kind read back into the pixel buffers of bitmap.h, so that
// the nearest-colour conversion treats a PNG pixel exactly as a bitmap pixel
// of the same colour.
//
// Messages follow the bitmap library's: "error: <operation>() - <reason>\n".
#pragma once

#include "bitmap/bitmap.h"

#include <cstdint>
#include <cstdio>
#include <memory>

struct spng_ctx;

namespace kz {

// The first byte of every PNG file, which no bitmap file ("BM") begins with.
constexpr int png_first_byte = 0x89;

// Writes a whole PNG file of width x height pixels from a bitmap pixel buffer
// (one byte per pixel, top row first) and a bitmap palette (4 bytes an entry,
// blue, green, red, fourth byte) at 1, 4 or 8 bits: an indexed PNG of the
// same depth, palette and indices; at 1 bit with the palette black and white
// (or none) a 1-bit grey PNG, which paint programs and Pillow open as the
// same two-colour picture the bitmap is. The fourth bytes have no place in
// PNG and are left out. 0, or -1 after a message.
int write_png(std::FILE* stream, std::uint32_t width, std::uint32_t height, int bit_count,
              const std::uint8_t* palette, const std::uint8_t* pixels);

struct png_context_free {
    void operator()(spng_ctx* context) const;
};

// A PNG being read: its header first, then, once the caller has accepted the
// size, its pixels.
struct png_reader {
    std::unique_ptr<spng_ctx, png_context_free> context;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // How read_png_pixels hands the pixels over: 8 (an index per byte and a
    // 256-entry bitmap palette) for an indexed PNG and for grey up to 8 bits
    // (indices into a ramp of greys), 24 (blue, green, red) for every other
    // kind.
    int bit_count = 0;
};

// Reads the signature and the chunks up to the pixel data from the stream,
// which stands at the start of the file. Refuses a damaged file and a size
// whose pixel buffer would not fit an int, before anything is allocated for
// the pixels. 0, or -1 after a message.
int read_png_header(std::FILE* stream, png_reader* reader);

// Decodes the pixels into the slots (see buffer_slot): width x height pixels
// at the reader's bit count, and for 8 bits a palette of 256 entries, the
// file's own followed by black. Transparency and gamma are not applied: a
// pixel is the colour its file stores. An index beyond the file's palette
// is refused. 0, -1 after a message, -2 memory exhausted.
int read_png_pixels(png_reader* reader, buffer_slot* palette, buffer_slot* pixels);

} // namespace kz

// PNG pictures beside the bitmaps: the sheets written as indexed PNG files
// with the bitmaps' palettes and indices, and PNG files of every standard
// kind read back, through libspng, into the pixel buffers of bitmap.h, so
// that the nearest-colour conversion treats a PNG pixel exactly as a bitmap
// pixel of the same colour. Unlike a bitmap, a PNG can say that a pixel is
// transparent, through an alpha channel or a tRNS chunk: the writer can
// write such pixels, and the reader tells which pixels are.
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
// PNG and are left out.
//
// transparent, when not null, holds one byte a pixel in the same order,
// non-zero for a pixel that is fully transparent, whatever its index. A
// picture with such pixels is indexed with one palette entry more, after
// its own, that a tRNS chunk makes fully transparent, at the smallest depth
// that holds them all (2 bits for 1, 8 bits for 4: a sheet keeps its 16
// colours); at 8 bits the transparent entry is the first that no opaque
// pixel uses, and a picture that uses all 256 is refused. 0, -1 (after a
// message where it has one), -2 memory exhausted.
int write_png(std::FILE* stream, std::uint32_t width, std::uint32_t height, int bit_count,
              const std::uint8_t* palette, const std::uint8_t* pixels,
              const std::uint8_t* transparent = nullptr);

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

// Where a read tells which pixels are fully transparent (alpha 0, from an
// alpha channel or a tRNS chunk, of any colour type); a partly transparent
// pixel counts as opaque. The slot (see buffer_slot) is filled only when at
// least one pixel is fully transparent, with width x height bytes in pixel
// order, 1 for such a pixel and 0 for every other; count says how many
// there are, and while it is 0 the slot has not been touched, so a picture
// without transparency costs nothing more.
struct transparent_pixels {
    buffer_slot* slot = nullptr;
    std::size_t count = 0;
};

// Decodes the pixels into the slots (see buffer_slot): width x height pixels
// at the reader's bit count, and for 8 bits a palette of 256 entries, the
// file's own followed by black. Transparency and gamma are not applied: a
// pixel is the colour its file stores. With transparent not null (its slot
// required, -3 without), the fully transparent pixels are told there as
// well. An index beyond the file's palette is refused. 0, -1 after a
// message, -2 memory exhausted.
int read_png_pixels(png_reader* reader, buffer_slot* palette, buffer_slot* pixels,
                    transparent_pixels* transparent = nullptr);

} // namespace kz

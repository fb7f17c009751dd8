// Which pixels of a PNG being read are fully transparent: the PNG reader's
// part for a caller that asks (transparent_pixels in png.h). Private to the
// bitmap library.
#pragma once

#include "bitmap/png.h"

#include <spng.h>

#include <cstdint>
#include <span>

namespace kz {

// The reader's own steps, shared with its transparency: "error: read_png()
// - <libspng's reason>\n" and -1; and a slot filled for size bytes, an
// offered buffer too small giving way to a new one and a caller's own
// refused (-1 after "error: read_png() - pixel buffer too small\n").
int png_read_failed(int error);
int fill_png_slot(buffer_slot* slot, std::size_t size);

// Whether a picture decoded to colours (not to indices) can have
// transparent pixels: it has an alpha channel, or a tRNS chunk gives one
// colour alpha 0. Reads the chunks before the pixel data, as decoding does
// first. 0 with the answer, or -1 after a message.
int png_has_alpha(spng_ctx* png, const spng_ihdr& header, bool* has_alpha);

// Decodes such a picture row by row, each row in the form that keeps its
// alpha exactly (16 bits a sample for a 16-bit picture, where alpha 1-255
// is partly transparent, not fully), into blue, green and red, one byte
// each, as the picture decoded whole to colours gives them, and tells the
// fully transparent pixels. Interlaced pictures arrive pass by pass; only
// the pixels of a pass are taken from its rows. 0, -1 after a message, -2
// memory exhausted.
int decode_colours_and_alpha(spng_ctx* png, const spng_ihdr& header, std::uint8_t* pixels,
                             transparent_pixels* transparent);

// Tells the fully transparent pixels of a picture decoded to indices: those
// whose palette entry a tRNS chunk gives alpha 0, or in grey those of the
// one grey level it names. Nothing for a picture without a tRNS chunk. 0,
// -1 after a message, -2 memory exhausted.
int find_transparent_indices(spng_ctx* png, const spng_ihdr& header,
                             std::span<const std::uint8_t> indices,
                             transparent_pixels* transparent);

} // namespace kz

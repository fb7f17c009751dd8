// The changers' reading of an edited sheet bitmap: a BMP or a PNG (known by
// its signature, whatever the name) of the sheet's width and 512 to 1024
// lines, in any bit count the bitmap reader or any kind the PNG reader
// takes, brought to the sheet's depth by nearest colour.
#pragma once

#include "bitmap/colour_census.h"
#include "bitmap/png.h"
#include "shapes/shapes.h"

#include <cstdint>
#include <cstdio>
#include <span>

namespace kz {

constexpr std::uint32_t min_sheet_height = shape_size * tiles_shape_rows; // TILES.CH rows only

// The eight sheet colours, then eight entries that can never win: the
// nearest-colour search keeps the lowest index on ties, so whatever a
// bitmap's own palette, every pixel becomes an index 0-7. The fourth plane
// comes from the mask alone.
extern const palette16 changer_palette;

// Reads the bitmap from an open stream (path only names it in messages) and
// converts it into target at the given depth by nearest colour in the given
// palette. Stores its number of shape rows (16 to 32). With a census, also
// counts the pixels that are none of the palette's colours. With
// transparent, also tells the fully transparent pixels of a PNG (see
// transparent_pixels in bitmap/png.h). 0, or -1 after a message. The stream
// is the caller's to close.
int load_sheet_stream(std::FILE* stream, const char* path, int* rows_out, int depth,
                      const std::uint8_t* palette, std::span<std::uint8_t> target,
                      colour_census* census = nullptr, transparent_pixels* transparent = nullptr);

// The same from the file at path.
int load_sheet_bitmap(const char* path, int* rows_out, int depth, const std::uint8_t* palette,
                      std::span<std::uint8_t> target, colour_census* census = nullptr,
                      transparent_pixels* transparent = nullptr);

} // namespace kz

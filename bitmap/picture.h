// Pictures in every format the tools read and write, behind one interface:
// BMP (bitmap.h) and PNG (png.h). A picture is read in two steps, as libspng
// reads one: its header, which says how large it is, then, once the caller
// has accepted that, its pixels; the format is known by the file's first
// byte, whatever its name. A picture is written in the format that the
// caller names, which for an output file comes from its name.
//
// Pixels and palettes are those of bitmap.h: a pixel buffer top row first,
// one byte a pixel up to 8 bits, palette entries of blue, green, red and a
// fourth byte. Results and messages are those of the format's own reader or
// writer.
#pragma once

#include "bitmap/bitmap.h"
#include "bitmap/png.h"

#include <cstdint>
#include <cstdio>

namespace kz {

enum class picture_format : std::uint8_t { bmp, png };

// The format that a file name asks for: PNG for a name that ends in ".png",
// in any case; BMP for every other name.
picture_format picture_format_for_name(const char* path);

// The format that a file beginning with this byte is read as (EOF for an
// empty file): PNG for the first byte of its signature, which no bitmap
// begins with; BMP for every other, whose reader refuses what is no bitmap.
picture_format picture_format_for_first_byte(int first_byte);

// A picture in memory, as the writers take it.
struct picture_image {
    std::uint32_t width = 0;
    std::int32_t height = 0;               // rows; a BMP also refuses a negative (top-down) height
    int bit_count = 0;                     // BMP: 1, 4, 8, 16, 24 or 32; PNG: 1, 4 or 8
    const std::uint8_t* palette = nullptr; // 2, 16 or 256 entries; null writes black
    const std::uint8_t* pixels = nullptr;
};

// Writes the whole picture to the stream: an uncompressed BMP with the
// 40-byte header, or an indexed (at 1 bit with a black and white palette, a
// grey) PNG of the same depth, palette and indices. 0, or a negative result
// after the writer's message where it has one.
int write_picture(std::FILE* stream, picture_format format, const picture_image& image);

// A picture being read.
struct picture_reader {
    picture_format format = picture_format::bmp;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // How read_picture_pixels hands the pixels over: a bitmap's own bit
    // count (its palette with it up to 8 bits); for a PNG 8 (indices, and a
    // palette of 256 entries) or 24 (blue, green, red), as png_reader says.
    int bit_count = 0;
    // Whether the picture's size is to be judged before its pixels are read:
    // a PNG's header alone may claim any size, and its pixels must be
    // inflated to be read, so it is judged first; a bitmap's rows are read as
    // they stand, and what its reader finds wrong with them is said first.
    bool size_before_pixels = false;
    std::FILE* stream = nullptr;
    bitmap_header bitmap; // a BMP's headers
    png_reader png;       // a PNG's decoder
};

// Reads the header from the stream, which stands at the start of the file
// and stays the caller's to close after the pixels are read. A header whose
// sizes are out of range is refused here, before anything is allocated for
// the pixels. 0 or the number of warnings printed; -1 after a message, -2
// memory exhausted.
int read_picture_header(std::FILE* stream, picture_reader* reader);

// Reads the pixels into the slots (see buffer_slot): width x height pixels
// at the reader's bit count, and for up to 8 bits their palette. A palette
// slot may be null (the palette is not kept), the pixel slot may not (-3).
// 0, -1 after a message, -2 memory exhausted.
int read_picture_pixels(picture_reader* reader, buffer_slot* palette, buffer_slot* pixels);

} // namespace kz

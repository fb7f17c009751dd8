// The console dialogue and bitmap output shared by the command-line tools.
#pragma once

#include "bitmap/picture.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>

namespace kz {

// Prints "<question> (Y or N): ", then reads single characters: Y or y gives
// 1, N or n gives 0, anything else is passed over. End of input or a read
// error before a deciding character counts as no.
int ask_yes_no(const char* question);
int ask_yes_no_from(std::FILE* input, const char* question);

// A program never writes an output over one of its own inputs, however the
// two names spell the file. 0 when output is none of the inputs (a null
// output or input is passed over); -1 after printing "can't write over input '%s'\n" with
// the output's name.
int refuse_output_over_input(const char* output, std::initializer_list<const char*> inputs);

// A picture never replaces a disk image, whatever the answer to the
// overwrite question would be: a sheet named like an image, with --disk
// forgotten, would cost the user the image. 0 when output is null or names
// no file that the disk code takes for a disk image; -1 after printing
// "can't write over disk image '%s'\n".
int refuse_output_over_disk_image(const char* output);

// Writes a bitmap file of the given size, asking first whether an existing
// file may be overwritten: a PNG file when the name ends in ".png" (in any
// case), else a BMP. 0 when written, -1 otherwise (declined, cannot
// open, cannot write), the reason already printed.
int write_bitmap_file(const char* path, std::uint32_t width, std::int32_t height, int bit_count,
                      const std::uint8_t* palette, const std::uint8_t* pixels);

// The same for a picture that may hold transparent pixels, which only a
// PNG keeps (a BMP of such a picture is refused, nothing written).
int write_picture_file(const char* path, const picture_image& image);

} // namespace kz

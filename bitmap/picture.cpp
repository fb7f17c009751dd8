// Choosing a picture's format, by name for writing and by the first byte
// for reading, and handing the work to that format's reader or writer.
#include "bitmap/picture.h"

#include <array>
#include <cctype>
#include <cstring>

namespace kz {
namespace {

// A format's marks: the ending of a file name that asks for it, the first
// byte of its files, and whether a reader judges its size before its pixels
// (picture_reader). A name or a first byte that no row has is BMP's.
struct picture_marks {
    picture_format format;
    const char* extension;
    int first_byte;
    bool size_before_pixels;
};

constexpr std::array<picture_marks, 2> picture_formats = {{
    {picture_format::bmp, ".bmp", 'B', false},
    {picture_format::png, ".png", png_first_byte, true},
}};

const picture_marks& marks_of(picture_format format) {
    for (const picture_marks& marks : picture_formats) {
        if (marks.format == format) {
            return marks;
        }
    }
    return picture_formats[0];
}

bool ends_with_ignoring_case(const char* text, const char* ending) {
    const std::size_t length = std::strlen(text);
    const std::size_t ending_length = std::strlen(ending);
    if (length < ending_length) {
        return false;
    }
    const char* tail = text + length - ending_length;
    for (std::size_t i = 0; i < ending_length; ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) !=
            std::tolower(static_cast<unsigned char>(ending[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

picture_format picture_format_for_name(const char* path) {
    for (const picture_marks& marks : picture_formats) {
        if (ends_with_ignoring_case(path, marks.extension)) {
            return marks.format;
        }
    }
    return picture_format::bmp;
}

picture_format picture_format_for_first_byte(int first_byte) {
    for (const picture_marks& marks : picture_formats) {
        if (first_byte == marks.first_byte) {
            return marks.format;
        }
    }
    return picture_format::bmp;
}

int write_picture(std::FILE* stream, picture_format format, const picture_image& image) {
    if (format == picture_format::png) {
        // A top-down (negative) height has no meaning here: write_png refuses 0.
        const auto rows = image.height > 0 ? static_cast<std::uint32_t>(image.height) : 0u;
        return write_png(stream, image.width, rows, image.bit_count, image.palette, image.pixels);
    }
    // An unsupported bit count leaves the header incomplete; write_bitmap
    // refuses it, so the result needs no test here.
    bitmap_header header;
    const int bit_count = image.bit_count;
    const auto bits = bit_count >= 0 && bit_count <= 0xFFFF ? static_cast<std::uint16_t>(bit_count)
                                                            : std::uint16_t{0};
    make_bitmap_header(&header, image.width, image.height, bits);
    return write_bitmap(stream, &header, image.palette, image.pixels);
}

int read_picture_header(std::FILE* stream, picture_reader* reader) {
    // The byte is put back for the reader, which checks the whole signature.
    const int first = std::fgetc(stream);
    if (first != EOF) {
        std::ungetc(first, stream);
    }
    reader->format = picture_format_for_first_byte(first);
    reader->size_before_pixels = marks_of(reader->format).size_before_pixels;
    reader->stream = stream;
    if (reader->format == picture_format::png) {
        const int result = read_png_header(stream, &reader->png);
        reader->width = reader->png.width;
        reader->height = reader->png.height;
        reader->bit_count = reader->png.bit_count;
        return result;
    }
    const int result = start_read_bitmap(stream, &reader->bitmap);
    if (result >= 0) {
        // The header check has refused every height but a positive one.
        reader->width = reader->bitmap.width;
        reader->height = static_cast<std::uint32_t>(reader->bitmap.height);
        reader->bit_count = reader->bitmap.bit_count;
    }
    return result;
}

int read_picture_pixels(picture_reader* reader, buffer_slot* palette, buffer_slot* pixels) {
    if (reader->format == picture_format::png) {
        return read_png_pixels(&reader->png, palette, pixels);
    }
    return read_bitmap(reader->stream, &reader->bitmap, palette, pixels, 1);
}

} // namespace kz

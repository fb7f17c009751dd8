#include "tools/chg_shapes/sheet_bitmap.h"

#include "bitmap/bitmap.h"
#include "bitmap/png.h"
#include "io/input_file.h"
#include "terminal/terminal.h"

namespace kz {

constexpr palette16 changer_palette = {
    0,   0,   0,   0, // black
    255, 0,   0,   0, // blue
    0,   0,   255, 0, // red
    255, 0,   255, 0, // magenta
    0,   255, 0,   0, // green
    255, 255, 0,   0, // cyan
    0,   255, 255, 0, // yellow
    255, 255, 255, 0, // white
    0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

namespace {

// Whether the picture has the size of a sheet: the sheet's width and the
// lines of TILES.CH at least, of the whole sheet at most.
bool check_sheet_size(const char* path, std::uint32_t width, std::int32_t height) {
    const auto lines = static_cast<std::uint32_t>(height);
    if (width != sheet_width || lines < min_sheet_height || lines > sheet_height) {
        print_message("bitmap size error '%s' %d x %d\n", path, static_cast<int>(width), height);
        return false;
    }
    return true;
}

int convert_sheet(const char* path, std::int32_t height, int bit_count,
                  const std::uint8_t* file_palette, const buffer_slot& pixels, int depth,
                  const std::uint8_t* palette, std::span<std::uint8_t> target) {
    buffer_slot target_slot = borrowed_slot(target.data(), target.size());
    if (convert_bitmap(sheet_width, height, bit_count, file_palette,
                       std::span<const std::uint8_t>(pixels.data, pixels.size), depth, palette,
                       &target_slot) < 0) {
        print_message("convert bitmap error '%s'\n", path);
        return -1;
    }
    return 0;
}

// A PNG's size is known from its header, so a picture of the wrong size is
// refused before its pixels are decoded.
int load_png_sheet(std::FILE* stream, const char* path, int* rows_out, int depth,
                   const std::uint8_t* palette, std::span<std::uint8_t> target) {
    png_reader reader;
    if (read_png_header(stream, &reader) < 0) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    if (!check_sheet_size(path, reader.width, static_cast<std::int32_t>(reader.height))) {
        return -1;
    }
    const auto height = static_cast<std::int32_t>(reader.height);
    *rows_out = height / shape_size;
    buffer_slot file_palette;
    // Indices go straight into the target and are converted there, as for
    // a bitmap; colours need a buffer of their own.
    buffer_slot pixels = offered_slot(target.data(), target.size());
    if (read_png_pixels(&reader, &file_palette, &pixels) < 0) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    return convert_sheet(path, height, reader.bit_count, file_palette.data, pixels, depth, palette,
                         target);
}

} // namespace

int load_sheet_stream(std::FILE* stream, const char* path, int* rows_out, int depth,
                      const std::uint8_t* palette, std::span<std::uint8_t> target) {
    // A PNG is known by its first byte, which no bitmap begins with; the
    // byte is put back for the reader, which checks the whole signature.
    const int first = std::fgetc(stream);
    if (first != EOF) {
        std::ungetc(first, stream);
    }
    if (first == png_first_byte) {
        return load_png_sheet(stream, path, rows_out, depth, palette, target);
    }

    bitmap_header header;
    buffer_slot file_palette;
    // A sheet-sized bitmap of up to 8 bits is read straight into the target
    // and converted there, pixel by pixel, so that no second picture's worth
    // of memory is touched; a larger one gets a buffer of its own.
    buffer_slot pixels = offered_slot(target.data(), target.size());
    if (read_bitmap(stream, &header, &file_palette, &pixels, 0) < 0) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    if (!check_sheet_size(path, header.width, header.height)) {
        return -1;
    }
    *rows_out = header.height / shape_size;
    return convert_sheet(path, header.height, header.bit_count, file_palette.data, pixels, depth,
                         palette, target);
}

int load_sheet_bitmap(const char* path, int* rows_out, int depth, const std::uint8_t* palette,
                      std::span<std::uint8_t> target) {
    input_file stream = open_input_file(path);
    if (!stream) {
        print_message("open error '%s'\n", path);
        return -1;
    }
    return load_sheet_stream(stream.get(), path, rows_out, depth, palette, target);
}

} // namespace kz

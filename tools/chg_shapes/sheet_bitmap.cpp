#include "tools/chg_shapes/sheet_bitmap.h"

#include "bitmap/bitmap.h"
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

int load_sheet_stream(std::FILE* stream, const char* path, int* rows_out, int depth,
                      const std::uint8_t* palette, std::span<std::uint8_t> target) {
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
    const auto height = static_cast<std::uint32_t>(header.height);
    if (header.width != sheet_width || height < min_sheet_height || height > sheet_height) {
        print_message("bitmap size error '%s' %d x %d\n", path, static_cast<int>(header.width),
                    header.height);
        return -1;
    }
    *rows_out = header.height / shape_size;

    buffer_slot target_slot = borrowed_slot(target.data(), target.size());
    if (convert_bitmap(sheet_width, header.height, header.bit_count, file_palette.data,
                       std::span<const std::uint8_t>(pixels.data, pixels.size), depth, palette,
                       &target_slot) < 0) {
        print_message("convert bitmap error '%s'\n", path);
        return -1;
    }
    return 0;
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

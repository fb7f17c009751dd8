#include "tools/chg_shapes/sheet_bitmap.h"

#include "bitmap/bitmap.h"
#include "bitmap/picture.h"
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

} // namespace

// A picture of the wrong size is refused: a PNG from its header, before its
// pixels are decoded; a bitmap once its rows are read, so that damaged rows
// are reported as such. A sheet-sized picture of indices is read straight
// into the target and converted there, pixel by pixel, so that no second
// picture's worth of memory is touched; colours, or a larger picture, get a
// buffer of their own.
int load_sheet_stream(std::FILE* stream, const char* path, int* rows_out, int depth,
                      const std::uint8_t* palette, std::span<std::uint8_t> target,
                      colour_census* census, transparent_pixels* transparent) {
    picture_reader picture;
    if (read_picture_header(stream, &picture) < 0) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    const auto height = static_cast<std::int32_t>(picture.height);
    if (picture.size_before_pixels && !check_sheet_size(path, picture.width, height)) {
        return -1;
    }
    buffer_slot file_palette;
    buffer_slot pixels = offered_slot(target.data(), target.size());
    if (read_picture_pixels(&picture, &file_palette, &pixels, transparent) < 0) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    if (!picture.size_before_pixels && !check_sheet_size(path, picture.width, height)) {
        return -1;
    }
    *rows_out = height / shape_size;
    const std::span<const std::uint8_t> read(pixels.data, pixels.size);
    // Counted before the conversion, which may take the pixels' place; a
    // fully transparent pixel keeps the disk's, whatever colour it stores.
    std::span<const std::uint8_t> clear;
    if (transparent != nullptr && transparent->count > 0) {
        clear = std::span<const std::uint8_t>(transparent->slot->data, transparent->slot->size);
    }
    if (census != nullptr &&
        take_colour_census(sheet_width, height, picture.bit_count, file_palette.data, read, palette,
                           1 << depth, census, clear) < 0) {
        print_message("convert bitmap error '%s'\n", path);
        return -1;
    }
    buffer_slot target_slot = borrowed_slot(target.data(), target.size());
    if (convert_bitmap(sheet_width, height, picture.bit_count, file_palette.data, read, depth,
                       palette, &target_slot) < 0) {
        print_message("convert bitmap error '%s'\n", path);
        return -1;
    }
    return 0;
}

int load_sheet_bitmap(const char* path, int* rows_out, int depth, const std::uint8_t* palette,
                      std::span<std::uint8_t> target, colour_census* census,
                      transparent_pixels* transparent) {
    input_file stream = open_input_file(path);
    if (!stream) {
        print_message("open error '%s'\n", path);
        return -1;
    }
    return load_sheet_stream(stream.get(), path, rows_out, depth, palette, target, census,
                             transparent);
}

} // namespace kz

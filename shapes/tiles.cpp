// The converter's tile decoder for the decoded EGA and CGA tile files, with
// its own water remake, dungeon grass and mirror-room steps.
#include "shapes/tiles.h"

#include <cstddef>

namespace kz {

// The 16 standard EGA colours (6 is brown, not dark yellow).
const palette16 ega_palette = {
    //  B     G     R   fourth
    0x00, 0x00, 0x00, 0, // 0 black
    0xAA, 0x00, 0x00, 0, // 1 blue
    0x00, 0xAA, 0x00, 0, // 2 green
    0xAA, 0xAA, 0x00, 0, // 3 cyan
    0x00, 0x00, 0xAA, 0, // 4 red
    0xAA, 0x00, 0xAA, 0, // 5 magenta
    0x00, 0x55, 0xAA, 0, // 6 brown
    0xAA, 0xAA, 0xAA, 0, // 7 light grey
    0x55, 0x55, 0x55, 0, // 8 dark grey
    0xFF, 0x55, 0x55, 0, // 9 light blue
    0x55, 0xFF, 0x55, 0, // 10 light green
    0xFF, 0xFF, 0x55, 0, // 11 light cyan
    0x55, 0x55, 0xFF, 0, // 12 light red
    0xFF, 0x55, 0xFF, 0, // 13 light magenta
    0x55, 0xFF, 0xFF, 0, // 14 yellow
    0xFF, 0xFF, 0xFF, 0, // 15 white
};

// CGA palette 1: black, cyan, magenta, light grey; the rest is unused.
// clang-format off
const palette16 cga_palette = {
    //  B     G     R   fourth
    0x00, 0x00, 0x00, 0, // 0 black
    0xAA, 0xAA, 0x00, 0, // 1 cyan
    0xAA, 0x00, 0xAA, 0, // 2 magenta
    0xAA, 0xAA, 0xAA, 0, // 3 light grey
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 4-7
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 8-11
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 12-15
};
// clang-format on

const color_map ega_mirror_room_map = {0, 5, 4, 4, 2, 1, 2, 7, 8, 12, 12, 12, 10, 9, 14, 15};
// CGA pixels are 0-3; cyan and magenta exchange.
const color_map cga_mirror_room_map = {0, 2, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

constexpr int landform_tile_rows = 16; // tiles 0-255, the ones the adjustment table covers

bool supported_width(int pixels_per_byte) {
    return pixels_per_byte == ega_pixels_per_byte || pixels_per_byte == cga_pixels_per_byte;
}

bool on_tile_sheet(int tile_row, int tile_column) {
    return tile_row >= 0 && tile_row < tile_rows && tile_column >= 0 && tile_column < tile_columns;
}

// Draws one tile with a fixed number of pixels per byte, so that the split of
// a byte into pixels unrolls. The tile's rows are read straight from the
// buffer: the tile row and column are on the sheet, so its 16 rows lie
// inside the input that the pixels per byte implies (at most 65536 bytes).
// Only water-remade tiles go through remade_water_byte.
template <int pixels_per_byte>
void draw_tile(std::uint8_t* target, tiles_span tiles, int tile_row, int tile_column,
               int reference) {
    constexpr int bits = 8 / pixels_per_byte;
    constexpr unsigned field = (1u << bits) - 1;
    constexpr int row_bytes = tile_size / pixels_per_byte;
    const std::uint8_t* source =
        tiles.data() + tile_byte_offset(tile_row, tile_column, 0, 0, pixels_per_byte);

    for (int y = 0; y < tile_size; ++y, target += tile_sheet_width, source += row_bytes) {
        std::uint8_t* pixel = target;
        for (int j = 0; j < row_bytes; ++j) {
            const std::uint8_t byte =
                reference != 0
                    ? remade_water_byte(tiles, tile_row, tile_column, y, j * pixels_per_byte,
                                        pixels_per_byte, water_tile, reference)
                    : source[j];
            for (int shift = 8 - bits; shift >= 0; shift -= bits) {
                *pixel++ = static_cast<std::uint8_t>((byte >> shift) & field);
            }
        }
    }
}

} // namespace

int tile_byte_offset(int tile_row, int tile_column, int y, int x, int pixels_per_byte) {
    if (!on_tile_sheet(tile_row, tile_column) || y < 0 || y >= tile_size || x < 0 ||
        x >= tile_size || !supported_width(pixels_per_byte)) {
        return -1;
    }
    return (((tile_row * tile_columns + tile_column) * tile_size + y) * tile_size + x) /
           pixels_per_byte;
}

std::uint8_t tile_byte(tiles_span tiles, int tile_row, int tile_column, int y, int x,
                       int pixels_per_byte) {
    const int offset = tile_byte_offset(tile_row, tile_column, y, x, pixels_per_byte);
    if (offset < 0 || static_cast<std::size_t>(offset) >= tiles.size()) {
        return 0;
    }
    return tiles[static_cast<std::size_t>(offset)];
}

std::uint8_t zero_pixel_mask(std::uint8_t byte, int pixels_per_byte) {
    if (!supported_width(pixels_per_byte)) {
        return 0;
    }
    const int bits = 8 / pixels_per_byte;
    const unsigned field = (1u << bits) - 1;
    unsigned mask = 0;
    for (int shift = 0; shift < 8; shift += bits) {
        if (((field << shift) & byte) == 0) {
            mask |= field << shift;
        }
    }
    return static_cast<std::uint8_t>(mask);
}

std::uint8_t remade_water_byte(tiles_span tiles, int tile_row, int tile_column, int y, int x,
                               int pixels_per_byte, int water, int reference) {
    const std::uint8_t own = tile_byte(tiles, tile_row, tile_column, y, x, pixels_per_byte);
    // References name landform tiles 1-255; a code outside that (0 is "no
    // remake") would come from a broken table entry, and the tile is then
    // left as stored.
    if (reference == 0 || reference < -255 || reference > 255) {
        return own;
    }
    const bool inverted = reference < 0;
    const int tile = inverted ? -reference : reference;
    const std::uint8_t water_byte =
        tile_byte(tiles, water / tile_columns, water % tile_columns, y, x, pixels_per_byte);
    const std::uint8_t zero = zero_pixel_mask(
        tile_byte(tiles, tile / tile_columns, tile % tile_columns, y, x, pixels_per_byte),
        pixels_per_byte);
    const unsigned water_where = inverted ? zero : static_cast<std::uint8_t>(~zero);
    return static_cast<std::uint8_t>((water_byte & water_where) | (own & ~water_where));
}

int decode_tile(tile_sheet_span sheet, tiles_span tiles, int tile_row, int tile_column,
                int pixels_per_byte, int remake_water) {
    if (!on_tile_sheet(tile_row, tile_column) || !supported_width(pixels_per_byte)) {
        return -1;
    }
    const int reference = remake_water != 0 ? water_remake_code(tile_row, tile_column) : 0;
    std::uint8_t* target =
        sheet.data() + tile_row * tile_size * tile_sheet_width + tile_column * tile_size;
    if (pixels_per_byte == ega_pixels_per_byte) {
        draw_tile<ega_pixels_per_byte>(target, tiles, tile_row, tile_column, reference);
    } else {
        draw_tile<cga_pixels_per_byte>(target, tiles, tile_row, tile_column, reference);
    }
    return 0;
}

void recolor_dungeon_grass(tile_sheet_span sheet, std::uint8_t from, std::uint8_t to) {
    for (int tile_row = 0; tile_row < landform_tile_rows; ++tile_row) {
        for (int tile_column = 0; tile_column < tile_columns; ++tile_column) {
            if (is_dungeon_grass(tile_row, tile_column) == 0) {
                continue;
            }
            for (int y = 0; y < tile_size; ++y) {
                std::uint8_t* line = sheet.data() + (tile_row * tile_size + y) * tile_sheet_width +
                                     tile_column * tile_size;
                for (int x = 0; x < tile_size; ++x) {
                    if (line[x] == from) {
                        line[x] = to;
                    }
                }
            }
        }
    }
}

void recolor_tile_sheet(tile_sheet_span sheet, const color_map& map) {
    for (std::uint8_t& pixel : sheet) {
        if (pixel < map.size()) {
            pixel = map[pixel];
        }
    }
}

} // namespace kz

// Decoded tile files of the game's IBM PC versions and the converter's tile
// sheet.
//
// TILES.16 (EGA) and TILES.4 (CGA) hold 512 tiles of 16 x 16 pixels back to
// back, rows top to bottom, the leftmost pixel in the most significant bits:
// EGA 4 bits a pixel (128 bytes a tile), CGA 2 bits (64 bytes a tile). There
// is no header.
//
// The tile sheet is 256 x 512 pixels, one byte per pixel, 16 columns by 32
// rows of tiles; tile t at tile row t / 16, tile column t % 16.
#pragma once

#include "shapes/shapes.h"

#include <array>
#include <cstdint>
#include <span>

namespace kz {

constexpr int tile_size = 16;
constexpr int tile_columns = 16;
constexpr int tile_rows = 32;
constexpr int tile_sheet_width = tile_size * tile_columns; // 256
constexpr int tile_sheet_height = tile_size * tile_rows;   // 512
constexpr int tile_sheet_bytes = tile_sheet_width * tile_sheet_height;
constexpr int tiles_buffer_size = 65536;
constexpr int ega_tiles_size = 65536; // bytes read from TILES.16
constexpr int cga_tiles_size = 32768; // bytes read from TILES.4
constexpr int ega_pixels_per_byte = 2;
constexpr int cga_pixels_per_byte = 4;
constexpr int water_tile = 3;

using tiles_span = std::span<const std::uint8_t, tiles_buffer_size>;
using tile_sheet_span = std::span<std::uint8_t, tile_sheet_bytes>;

extern const palette16 ega_palette;
extern const palette16 cga_palette;
extern const color_map ega_mirror_room_map;
extern const color_map cga_mirror_room_map;

// Offset in the tile file of the byte holding pixel (x, y) of a tile.
int tile_byte_offset(int tile_row, int tile_column, int y, int x, int pixels_per_byte);

// The input byte at that offset (0 for a position outside the buffer).
std::uint8_t tile_byte(tiles_span tiles, int tile_row, int tile_column, int y, int x,
                       int pixels_per_byte);

// All bits of every pixel field that is 0 in the byte.
std::uint8_t zero_pixel_mask(std::uint8_t byte, int pixels_per_byte);

// The byte a water-remade tile uses in place of its own: the water tile's
// pixels where the reference tile is drawn (reference > 0) or blank
// (reference < 0), the tile's own pixels elsewhere.
std::uint8_t remade_water_byte(tiles_span tiles, int tile_row, int tile_column, int y, int x,
                               int pixels_per_byte, int water, int reference);

// Draws one tile into the tile sheet. 0, or -1 for arguments outside the
// sheet or an unsupported pixels-per-byte.
int decode_tile(tile_sheet_span sheet, tiles_span tiles, int tile_row, int tile_column,
                int pixels_per_byte, int remake_water);

// In the dungeon-grass tiles, sets every pixel of the from colour to the to colour.
void recolor_dungeon_grass(tile_sheet_span sheet, std::uint8_t from, std::uint8_t to);

// Replaces every tile-sheet pixel v by map[v] (pixels above 15 keep their value).
void recolor_tile_sheet(tile_sheet_span sheet, const color_map& map);

} // namespace kz

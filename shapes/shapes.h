// The shape sheet and the game's planar shape files TILES.CH and NPC.CH.
//
// The shape sheet is one picture of all 512 shapes: 512 x 1024 pixels, one
// byte per pixel holding a colour index 0-15, line 0 at the top. It is a grid
// of 16 columns by 32 rows of 32 x 32 shapes: TILES.CH shape n at shape row
// n / 16, column n % 16; NPC.CH shape n at shape row 16 + n / 16.
//
// Colour index bits: 1 blue, 2 red, 4 green, 8 the fourth plane, which has no
// colour of its own and is what the mask shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kz {

constexpr int shape_size = 32;
constexpr int sheet_columns = 16;
constexpr int sheet_rows = 32;
constexpr int tiles_shape_rows = 16; // sheet rows 0-15 hold TILES.CH, 16-31 NPC.CH
constexpr int sheet_width = shape_size * sheet_columns; // 512
constexpr int sheet_height = shape_size * sheet_rows;   // 1024
constexpr int sheet_bytes = sheet_width * sheet_height; // 524288

constexpr int shapes_per_file = 256;
constexpr int plane_bytes = 128; // 32 lines of 4 bytes
constexpr int tiles_ch_planes = 3;
constexpr int npc_ch_planes = 4;
constexpr int tiles_ch_size = shapes_per_file * tiles_ch_planes * plane_bytes; // 98304
constexpr int npc_ch_size = shapes_per_file * npc_ch_planes * plane_bytes;     // 131072

constexpr int water_shape = 3; // TILES.CH shape whose pixels remade water takes

// Water codes 208-211 name a half of the shape, cut along a diagonal, rather
// than a reference shape; x is the pixel's column and y its line.
constexpr int water_upper_left = 208;  // x + y <= 31
constexpr int water_upper_right = 209; // x >= y
constexpr int water_lower_right = 210; // x + y >= 31
constexpr int water_lower_left = 211;  // x <= y
// Bit of a water_reference entry that inverts its code: water goes where the
// reference is blank, or into the opposite half.
constexpr std::int32_t water_inverted = 0x8000;

using sheet_span = std::span<std::uint8_t, sheet_bytes>;
using const_sheet_span = std::span<const std::uint8_t, sheet_bytes>;
using palette16 = std::array<std::uint8_t, 16 * 4>; // blue, green, red, fourth byte
using palette2 = std::array<std::uint8_t, 2 * 4>;
using color_map = std::array<std::uint8_t, 16>;

// Palettes, entries stored blue, green, red, fourth byte.
extern const palette16 shape_palette;       // 8 colours twice; 8-15 with fourth byte 255
extern const palette16 mask_source_palette; // 0-7 black, 8-15 white
extern const palette2 mask_palette;         // black, white
// The sheet with its fourth plane in its own colours: 0-7 the eight colours,
// 8-15 each the colour of its low three bits dimmed towards grey, at least
// 96 apart (in RGB) from every other entry.
extern const palette16 mask_in_sheet_palette;

// Per-shape adjustment table over the 256 TILES.CH shapes.
constexpr std::uint8_t flag_dungeon_grass = 0x01;
constexpr std::uint8_t flag_water_remake = 0x02;
extern const std::array<std::uint8_t, shapes_per_file> shape_flags;
extern const std::array<std::int32_t, shapes_per_file> water_reference;

extern const color_map mirror_room_map;

// Byte offset of the first pixel of a line of the shape at a shape row and column.
constexpr int sheet_offset(int shape_row, int shape_column, int line) {
    return ((shape_row * shape_size + line) * sheet_columns + shape_column) * shape_size;
}

// Offset of the record of shape shape_row * 16 + shape_column in planar file
// data of file_size bytes with plane_count planes, or -1 when the shape row or
// column is outside 0-15, shape row sheet_row_base + shape_row is not on the
// sheet, plane_count is outside 1-4 or the record does not fit in the data.
std::int64_t shape_record_offset(int sheet_row_base, int shape_row, int shape_column,
                                 int plane_count, std::size_t file_size);

// 1 for a dungeon-grass shape, else 0 (always 0 for shape rows above 15).
int is_dungeon_grass(int shape_row, int shape_column);

// 0 for a shape the water remake leaves alone; else the water code (a
// reference shape, or 208-211 for a triangle), negated when inverted.
int water_remake_code(int shape_row, int shape_column);

// ORs shape shape_row * 16 + shape_column of a planar file into the sheet at
// shape row sheet_row_base + shape_row. Non-zero dungeon exchanges planes 1
// and 2 of the dungeon-grass shapes. 0, or -1 for arguments outside the
// sheet or the file data.
int decode_shape(sheet_span sheet, int sheet_row_base, int shape_row, int shape_column,
                 std::span<const std::uint8_t> file_data, int plane_count, int dungeon);

// Redraws water in the marked TILES.CH shapes from shape 3.
void remake_water(sheet_span sheet);

// The same for one shape (a shape without a water code is left alone). The
// water and the reference shape are read from the sheet as it stands.
void remake_water_shape(sheet_span sheet, int shape_row, int shape_column);

// Replaces every sheet pixel by its mirror-room colour.
void recolor_mirror_room(sheet_span sheet);

// Sets bit 3 of each sheet byte whose mask byte is non-zero (over the shorter
// of the two).
void merge_mask(std::span<std::uint8_t> sheet, std::span<const std::uint8_t> mask);

// Writes the shape at shape row sheet_row_base + shape_row of the sheet as
// shape shape_row * 16 + shape_column of a planar file. 0, or -1 for
// arguments outside the sheet or the file data.
int encode_shape(int sheet_row_base, int shape_row, int shape_column,
                 std::span<std::uint8_t> file_data, int plane_count, const_sheet_span sheet);

// Whether encode_shape would write the very bytes the file holds for the
// shape: its pixels equal the stored ones in every bit the file has a plane
// for. False for arguments outside the sheet or the file data.
bool shape_matches_record(int sheet_row_base, int shape_row, int shape_column,
                          std::span<const std::uint8_t> file_data, int plane_count,
                          const_sheet_span sheet);

} // namespace kz

// Which shapes of an edited sheet a change must write: the sheet against the
// shapes the disk holds.
//
// The extractor may draw a sheet with its adjustments: the water remake (on
// by default), the dungeon grass exchange and the mirror room's colours.
// A shape the user never touched still shows them, and writing it from the
// sheet would put the adjustment into the game. So each shape is compared
// with what the extractor draws of the disk's own shape, plain and under
// every set of adjustments: a shape equal to one of them keeps the disk's
// bytes, any other is written from the sheet as it shows.
//
// The verdicts are made once; the encoder, the change report and the change
// picture all read them.
#pragma once

#include "shapes/shapes.h"

#include <array>
#include <cstdint>
#include <span>

namespace kz {

// The extractor's adjustments as the bits of a set; the empty set is the
// plain picture.
constexpr std::uint8_t adjust_water_remake = 0x01;
constexpr std::uint8_t adjust_dungeon_grass = 0x02;
constexpr std::uint8_t adjust_mirror_room = 0x04;
constexpr int adjustment_set_count = 8;

// The set in the words of messages: "water remake", "dungeon grass and
// mirror room", ...; "no adjustment" for the empty set.
const char* adjustment_set_name(std::uint8_t set);

enum class shape_verdict : std::uint8_t {
    unchanged, // the sheet shows the shape as it is stored
    kept,      // it shows the shape as a set of adjustments draws it: the disk's bytes stay
    changed,   // edited: written from the sheet
};

// Every shape of the sheet in sheet order: TILES.CH 0-255, then NPC.CH 0-255.
constexpr int sheet_shape_count = sheet_rows * sheet_columns;

// A sheet pixel's planes as the bits of its index: planes 0-2 carry the
// colour, all that TILES.CH has; NPC.CH has the fourth as well.
constexpr std::uint8_t colour_plane_bits = 0x07;
constexpr std::uint8_t fourth_plane_bit = 0x08;
constexpr std::uint8_t all_plane_bits = 0x0F;

// Whether a sheet row (0-31) holds NPC.CH shapes, and the planes its file has.
constexpr bool is_npc_row(int sheet_row) {
    return sheet_row >= tiles_shape_rows;
}
constexpr std::uint8_t file_plane_bits(int sheet_row) {
    return is_npc_row(sheet_row) ? all_plane_bits : colour_plane_bits;
}

struct sheet_verdicts {
    std::array<shape_verdict, sheet_shape_count> verdict{};
    std::array<std::uint8_t, sheet_shape_count> adjustments{}; // kept: the set that draws it
};

// The two shape files, tiles_ch_size and npc_ch_size bytes.
struct shape_file_data {
    std::span<const std::uint8_t> tiles_ch;
    std::span<const std::uint8_t> npc_ch;
};

// Decodes the disk's shape at a sheet row and column into its square of
// scratch, cleared first, with the dungeon exchange when dungeon is 1 (a
// TILES.CH shape only) and no other adjustment.
void draw_disk_shape(const shape_file_data& disk, int sheet_row, int column, int dungeon,
                     sheet_span scratch);

// Compares the changer's sheet (colour indices 0-7 with the mask merged in
// as bit 3) with the disk's files: the shapes of TILES.CH when tiles is set,
// of NPC.CH when npc is; the others are unchanged. A TILES.CH shape is
// compared in its three planes only. A shape's verdict is the first that
// holds: unchanged; kept, by the first set of adjustments (fewest first,
// then water remake before dungeon grass before mirror room) whose drawing
// equals it pixel by pixel; changed. scratch, a sheet's worth of memory, is
// where the disk's shapes are drawn, and its content is left undefined.
void compare_sheet_with_disk(const_sheet_span sheet, const shape_file_data& disk, bool tiles,
                             bool npc, sheet_span scratch, sheet_verdicts* verdicts);

// Encodes the changed shapes of the sheet over the files' buffers, which
// hold the disk's files: every other shape keeps the disk's bytes.
void encode_changed_shapes(const sheet_verdicts& verdicts, const_sheet_span sheet,
                           std::span<std::uint8_t> tiles_ch, std::span<std::uint8_t> npc_ch);

// How many of the changed NPC.CH shapes hold fourth-plane pixels in npc_ch,
// the disk's file: without a mask those pixels are cleared.
int changed_shapes_with_fourth_plane(const sheet_verdicts& verdicts,
                                     std::span<const std::uint8_t> npc_ch);

} // namespace kz

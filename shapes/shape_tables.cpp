// Palettes and the per-shape adjustment table of the landform shapes.
#include "shapes/shapes.h"

namespace kz {
namespace {

// The game's eight colours as blue, green, red; index bits 1 blue, 2 red,
// 4 green.
constexpr std::array<std::array<std::uint8_t, 3>, 8> eight_colours = {{
    {0, 0, 0},       // 0 black
    {255, 0, 0},     // 1 blue
    {0, 0, 255},     // 2 red
    {255, 0, 255},   // 3 magenta
    {0, 255, 0},     // 4 green
    {255, 255, 0},   // 5 cyan
    {0, 255, 255},   // 6 yellow
    {255, 255, 255}, // 7 white
}};

// Entry 8 + c of the sheet that carries its fourth plane: colour c with
// each component at 192 where c has it and 64 where not.
constexpr std::uint8_t dimmed(std::uint8_t component) {
    return component != 0 ? 192 : 64;
}

// The eight colours, then for 8-15 the same colours or their dimmed forms,
// with the fourth byte given for each half.
constexpr palette16 make_palette(bool dim, std::uint8_t fourth_low, std::uint8_t fourth_high) {
    palette16 palette{};
    for (int i = 0; i < 16; ++i) {
        const auto& colour = eight_colours[i % 8];
        for (int k = 0; k < 3; ++k) {
            palette[4 * i + k] = i >= 8 && dim ? dimmed(colour[k]) : colour[k];
        }
        palette[4 * i + 3] = i < 8 ? fourth_low : fourth_high;
    }
    return palette;
}

} // namespace

// Entries 8-15 repeat the colours of 0-7; their fourth byte of 255 is the
// only trace of the fourth plane in the file.
constinit const palette16 shape_palette = make_palette(false, 0, 255);

// A sheet that carries its fourth plane in its colours, so that one picture
// is all there is and an RGB re-save loses nothing: index 8 + c shows colour
// c (0-7) dimmed, a greyer form of it (8 dark grey, 15 light grey), so the
// fourth plane shows at a glance. The two levels are 128 apart, so two
// dimmed colours differ by 128 or more; and a dimmed colour is at least 63
// from its own colour in each component (sqrt(3 x 63^2) = 109 in all) and
// 191 from any other, so each entry stands at 109 or more from every other:
// far enough to survive a re-save, a palette reduction (GIMP's) or a colour
// profile's rounding.
constinit const palette16 mask_in_sheet_palette = make_palette(true, 0, 0);

// Source palette for making the mask: 0-7 black, 8-15 white, so the nearest
// mask colour is white exactly where the fourth plane is set.
const palette16 mask_source_palette = {
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};

const palette2 mask_palette = {
    0,   0,   0,   0,   // 0 black
    255, 255, 255, 255, // 1 white
};

// Blue to cyan, red and magenta to green, green and yellow to red, cyan to
// blue; bit 3 is kept so the mask is the same with or without the remap.
const color_map mirror_room_map = {0, 5, 4, 4, 2, 1, 2, 7, 8, 13, 12, 12, 10, 9, 10, 15};

namespace {

struct shape_range {
    int first;
    int last;
    std::uint8_t flags;
};

// Dungeon grass is drawn with red and green exchanged on dungeon levels;
// water-remake shapes are shores and ponds whose water the game paints from
// shape 3.
constexpr std::array<shape_range, 7> flagged_shapes = {{
    {5, 5, flag_dungeon_grass},
    {30, 38, flag_dungeon_grass},
    {48, 51, flag_dungeon_grass},
    {52, 55, flag_dungeon_grass | flag_water_remake},
    {76, 76, flag_dungeon_grass},
    {96, 111, flag_dungeon_grass | flag_water_remake},
    {228, 231, flag_water_remake},
}};

constexpr std::array<std::uint8_t, shapes_per_file> make_shape_flags() {
    std::array<std::uint8_t, shapes_per_file> flags{};
    for (const shape_range& range : flagged_shapes) {
        for (int n = range.first; n <= range.last; ++n) {
            flags[n] = range.flags;
        }
    }
    return flags;
}

constexpr std::array<std::int32_t, shapes_per_file> make_water_reference() {
    std::array<std::int32_t, shapes_per_file> reference{};
    // Shores: 52 upper-left, 53 upper-right, 54 lower-right, 55 lower-left.
    for (int n = 0; n < 4; ++n) {
        reference[52 + n] = water_upper_left + n;
    }
    // Each of 96-111 takes water where its companion 16 shapes on is drawn.
    for (int n = 96; n <= 111; ++n) {
        reference[n] = n + 16;
    }
    // 228-231 are the shores' counterparts: water in the opposite half.
    for (int n = 0; n < 4; ++n) {
        reference[228 + n] = water_inverted | (water_upper_left + n);
    }
    return reference;
}

bool is_landform_shape(int shape_row, int shape_column) {
    return shape_row >= 0 && shape_row < tiles_shape_rows && shape_column >= 0 &&
           shape_column < sheet_columns;
}

} // namespace

constinit const std::array<std::uint8_t, shapes_per_file> shape_flags = make_shape_flags();
constinit const std::array<std::int32_t, shapes_per_file> water_reference = make_water_reference();

int is_dungeon_grass(int shape_row, int shape_column) {
    if (!is_landform_shape(shape_row, shape_column)) {
        return 0;
    }
    return (shape_flags[shape_row * sheet_columns + shape_column] & flag_dungeon_grass) != 0 ? 1
                                                                                             : 0;
}

int water_remake_code(int shape_row, int shape_column) {
    if (!is_landform_shape(shape_row, shape_column)) {
        return 0;
    }
    const int n = shape_row * sheet_columns + shape_column;
    if ((shape_flags[n] & flag_water_remake) == 0) {
        return 0;
    }
    const int code = water_reference[n] & 0xff;
    return (water_reference[n] & water_inverted) != 0 ? -code : code;
}

} // namespace kz

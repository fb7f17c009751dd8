// Palettes and the per-shape adjustment table of the landform shapes.
#include "shapes/shapes.h"

namespace kz {

// Index bits: 1 blue, 2 red, 4 green. Entries 8-15 repeat the colours of 0-7;
// their fourth byte of 255 is the only trace of the fourth plane in the file.
const palette16 shape_palette = {
    //  B    G    R  fourth
    0,   0,   0,   0,   // 0 black
    255, 0,   0,   0,   // 1 blue
    0,   0,   255, 0,   // 2 red
    255, 0,   255, 0,   // 3 magenta
    0,   255, 0,   0,   // 4 green
    255, 255, 0,   0,   // 5 cyan
    0,   255, 255, 0,   // 6 yellow
    255, 255, 255, 0,   // 7 white
    0,   0,   0,   255, // 8 black
    255, 0,   0,   255, // 9 blue
    0,   0,   255, 255, // 10 red
    255, 0,   255, 255, // 11 magenta
    0,   255, 0,   255, // 12 green
    255, 255, 0,   255, // 13 cyan
    0,   255, 255, 255, // 14 yellow
    255, 255, 255, 255, // 15 white
};

// A sheet that carries its fourth plane in its colours, so that one picture
// is all there is and an RGB re-save loses nothing: index 8 + c shows colour
// c (0-7) with each of its components at 192 where c has it and 64 where
// not, a dimmed, greyer form of the colour, so the fourth plane shows at a
// glance. The two levels are 128 apart, so two dimmed colours differ by 128
// or more; and a dimmed colour is at least 63 from its own colour in each
// component (sqrt(3 x 63^2) = 109 in all) and 191 from any other, so each
// entry stands at 109 or more from every other: far enough to survive a
// re-save, a palette reduction (GIMP's) or a colour profile's rounding.
const palette16 mask_in_sheet_palette = {
    //  B    G    R  fourth
    0,   0,   0,   0, // 0 black
    255, 0,   0,   0, // 1 blue
    0,   0,   255, 0, // 2 red
    255, 0,   255, 0, // 3 magenta
    0,   255, 0,   0, // 4 green
    255, 255, 0,   0, // 5 cyan
    0,   255, 255, 0, // 6 yellow
    255, 255, 255, 0, // 7 white
    64,  64,  64,  0, // 8 dark grey: black with the fourth plane
    192, 64,  64,  0, // 9 dim blue
    64,  64,  192, 0, // 10 dim red
    192, 64,  192, 0, // 11 dim magenta
    64,  192, 64,  0, // 12 dim green
    192, 192, 64,  0, // 13 dim cyan
    64,  192, 192, 0, // 14 dim yellow
    192, 192, 192, 0, // 15 light grey: white with the fourth plane
};

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

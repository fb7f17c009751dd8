// The extractor's edits of the decoded sheet: water remake and mirror room.
#include "shapes/shapes.h"

namespace kz {
namespace {

bool is_triangle(int code) {
    return code >= water_upper_left && code <= water_lower_left;
}

// An inverted triangle is the opposite half: upper-left and lower-right, and
// upper-right and lower-left, exchange.
int opposite_triangle(int code) {
    return water_upper_left + (code - water_upper_left + 2) % 4;
}

bool in_triangle(int code, int x, int y) {
    constexpr int last = shape_size - 1;
    switch (code) {
    case water_upper_left:
        return x + y <= last;
    case water_upper_right:
        return x >= y;
    case water_lower_right:
        return x + y >= last;
    default: // water_lower_left
        return x <= y;
    }
}

} // namespace

void remake_water_shape(sheet_span sheet, int shape_row, int shape_column) {
    const int code = water_remake_code(shape_row, shape_column);
    // Only landform shapes 1-255 can be references (0 means no remake); any
    // other value would be a broken table entry and is left alone rather
    // than read outside the landform rows.
    if (code == 0 || code < -255 || code > 255) {
        return;
    }
    const bool inverted = code < 0;
    const int water_code = inverted ? -code : code;
    for (int y = 0; y < shape_size; ++y) {
        std::uint8_t* line = sheet.data() + sheet_offset(shape_row, shape_column, y);
        const std::uint8_t* water = sheet.data() + sheet_offset(water_shape / sheet_columns,
                                                                water_shape % sheet_columns, y);
        if (is_triangle(water_code)) {
            const int triangle = inverted ? opposite_triangle(water_code) : water_code;
            for (int x = 0; x < shape_size; ++x) {
                if (in_triangle(triangle, x, y)) {
                    line[x] = water[x];
                }
            }
        } else {
            const std::uint8_t* reference =
                sheet.data() +
                sheet_offset(water_code / sheet_columns, water_code % sheet_columns, y);
            for (int x = 0; x < shape_size; ++x) {
                if ((reference[x] != 0) != inverted) {
                    line[x] = water[x];
                }
            }
        }
    }
}

void remake_water(sheet_span sheet) {
    for (int shape_row = 0; shape_row < tiles_shape_rows; ++shape_row) {
        for (int shape_column = 0; shape_column < sheet_columns; ++shape_column) {
            remake_water_shape(sheet, shape_row, shape_column);
        }
    }
}

void recolor_mirror_room(sheet_span sheet) {
    for (std::uint8_t& pixel : sheet) {
        if (pixel < mirror_room_map.size()) {
            pixel = mirror_room_map[pixel];
        }
    }
}

} // namespace kz

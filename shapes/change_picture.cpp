// The change picture: decoded like a sheet, then faded shape by shape.
#include "shapes/change_picture.h"

#include <algorithm>
#include <array>

namespace kz {
namespace {

// The picture's fourth index bit marks a shape the change leaves alone.
constexpr std::uint8_t faded_bit = fourth_plane_bit;

} // namespace

// Entries 0-7 are the eight colours by their index bits (1 blue, 2 red, 4
// green); 8-15 the same faded: a quarter of each channel kept and the rest
// taken from a light grey, so that each of the eight stays recognisable and
// none is taken for a colour of the sheet (0 becomes 144, 255 becomes 207).
constexpr palette16 make_change_picture_palette() {
    constexpr int grey = 192;
    palette16 palette{};
    for (int i = 0; i < 16; ++i) {
        const int index = i & colour_plane_bits;
        const std::array<int, 3> channels = {index & 1 ? 255 : 0, index & 4 ? 255 : 0,
                                             index & 2 ? 255 : 0}; // blue, green, red
        for (int c = 0; c < 3; ++c) {
            const int value = i < 8 ? channels[c] : (channels[c] + 3 * grey) / 4;
            palette[static_cast<std::size_t>(i * 4 + c)] = static_cast<std::uint8_t>(value);
        }
    }
    return palette;
}

constinit const palette16 change_picture_palette = make_change_picture_palette();

void draw_change_picture(const sheet_verdicts& verdicts, const shape_file_data& files,
                         sheet_span picture) {
    std::fill(picture.begin(), picture.end(), std::uint8_t{0});
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            decode_shape(picture, 0, row, column, files.tiles_ch, tiles_ch_planes, 0);
            decode_shape(picture, tiles_shape_rows, row, column, files.npc_ch, npc_ch_planes, 0);
        }
    }
    for (int sheet_row = 0; sheet_row < sheet_rows; ++sheet_row) {
        for (int column = 0; column < sheet_columns; ++column) {
            const bool changed =
                verdicts.verdict[sheet_row * sheet_columns + column] == shape_verdict::changed;
            const std::uint8_t shade = changed ? 0 : faded_bit;
            for (int y = 0; y < shape_size; ++y) {
                std::uint8_t* line = picture.data() + sheet_offset(sheet_row, column, y);
                for (int x = 0; x < shape_size; ++x) {
                    line[x] = static_cast<std::uint8_t>((line[x] & colour_plane_bits) | shade);
                }
            }
        }
    }
}

} // namespace kz

// The change picture: decoded like a sheet, then faded shape by shape.
#include "shapes/change_picture.h"

#include <algorithm>

namespace kz {
namespace {

constexpr std::uint8_t colour_bits = 0x07;
constexpr std::uint8_t faded_bit = 0x08;

} // namespace

// A faded colour keeps a quarter of each channel and takes the rest from a
// light grey (192), so that each of the eight stays recognisable and none is
// taken for a colour of the sheet: 0 becomes 144 and 255 becomes 207.
const palette16 change_picture_palette = {
    //  B    G    R  fourth
    0,   0,   0,   0, // 0 black
    255, 0,   0,   0, // 1 blue
    0,   0,   255, 0, // 2 red
    255, 0,   255, 0, // 3 magenta
    0,   255, 0,   0, // 4 green
    255, 255, 0,   0, // 5 cyan
    0,   255, 255, 0, // 6 yellow
    255, 255, 255, 0, // 7 white
    144, 144, 144, 0, // 8 black, faded
    207, 144, 144, 0, // 9 blue, faded
    144, 144, 207, 0, // 10 red, faded
    207, 144, 207, 0, // 11 magenta, faded
    144, 207, 144, 0, // 12 green, faded
    207, 207, 144, 0, // 13 cyan, faded
    144, 207, 207, 0, // 14 yellow, faded
    207, 207, 207, 0, // 15 white, faded
};

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
                    line[x] = static_cast<std::uint8_t>((line[x] & colour_bits) | shade);
                }
            }
        }
    }
}

} // namespace kz

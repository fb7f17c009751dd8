// The EGA/CGA tile decoder over fuzzer-made tile files, with the water
// remake, the dungeon grass and the mirror-room colours switched by the
// input, and single tiles drawn at positions and pixel widths the input
// chooses, sensible or not.
#include "fuzz/fuzz_input.h"
#include "shapes/tiles.h"

#include <algorithm>
#include <array>

using namespace kz;
using namespace kz::fuzz;

namespace {

std::array<std::uint8_t, tiles_buffer_size> tiles;
std::array<std::uint8_t, tile_sheet_bytes> sheet;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_cursor input{std::span(data, size)};
    const std::uint8_t mode = input.take_byte();
    const bool cga = (mode & 0x01) != 0;
    const bool remake = (mode & 0x02) != 0;
    const bool dungeon = (mode & 0x04) != 0;
    const bool mirror_room = (mode & 0x08) != 0;
    const auto odd_row = static_cast<std::int8_t>(input.take_byte());
    const auto odd_column = static_cast<std::int8_t>(input.take_byte());
    const auto odd_width = static_cast<std::int8_t>(input.take_byte());

    // As the converter does: a CGA file fills only the first half, the rest
    // of the buffer stays zero.
    const std::size_t file_size = cga ? cga_tiles_size : ega_tiles_size;
    tiles.fill(0);
    const auto part = input.take(file_size);
    std::copy(part.begin(), part.end(), tiles.begin());

    const int pixels_per_byte = cga ? cga_pixels_per_byte : ega_pixels_per_byte;
    const int top = cga ? 3 : 15;
    sheet.fill(0);
    for (int row = 0; row < tile_rows; ++row) {
        for (int column = 0; column < tile_columns; ++column) {
            require(decode_tile(sheet, tiles, row, column, pixels_per_byte, remake) == 0,
                    "every tile of the sheet decodes");
        }
    }
    for (const std::uint8_t pixel : sheet) {
        require(pixel <= top, "decoded pixels fit the pixel width");
    }
    if (dungeon) {
        recolor_dungeon_grass(sheet, cga ? 1 : 2, cga ? 2 : 4);
    }
    if (mirror_room) {
        recolor_tile_sheet(sheet, cga ? cga_mirror_room_map : ega_mirror_room_map);
    }
    for (const std::uint8_t pixel : sheet) {
        require(pixel <= 15, "adjusted pixels are palette indices");
    }

    // One more tile anywhere, at any width: refused or drawn inside the sheet.
    const int result = decode_tile(sheet, tiles, odd_row, odd_column, odd_width, remake);
    const bool inside = odd_row >= 0 && odd_row < tile_rows && odd_column >= 0 &&
                        odd_column < tile_columns;
    const bool known_width = odd_width == ega_pixels_per_byte || odd_width == cga_pixels_per_byte;
    require((result == 0) == (inside && known_width), "decode_tile refuses only what is outside");
    (void)tile_byte(tiles, odd_row, odd_column, odd_width, odd_column, pixels_per_byte);
    (void)remade_water_byte(tiles, odd_row, odd_column, odd_width & 15, odd_column & 15,
                            pixels_per_byte, water_tile, odd_row);
    return 0;
}

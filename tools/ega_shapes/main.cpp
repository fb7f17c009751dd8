// kzega_shapes: draws the 512 tiles of a decoded EGA TILES.16 or CGA TILES.4
// file into one 4-bit bitmap, the tile sheet.
#include "bitmap/bitmap.h"
#include "console/command_line.h"
#include "console/console.h"
#include "io/input_file.h"
#include "shapes/tiles.h"
#include "terminal/terminal.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

namespace {

using namespace kz;

struct settings {
    const char* tiles_path = nullptr;
    const char* output_path = nullptr;
    bool cga = false;
    bool dungeon = false;
    bool mirror_room = false;
    bool remake_water = true;
};

// Fixed work areas for the whole run; with CGA input only the first half of
// the tiles buffer is used.
std::array<std::uint8_t, tiles_buffer_size> tiles;
std::array<std::uint8_t, tile_sheet_bytes> tile_sheet;

void print_usage() {
    print_message("usage: kzega_shapes [options] TILES OUTPUT.BMP|PNG\n");
    print_message("option: --cga               read cga version tiles\n");
    print_message("        --dungeon           change color of grass shapes\n");
    print_message("        --mirror-room       use alternate colors for mirror room\n");
    print_message("        --no-remake-water   do not remake water shapes\n");
    print_message("        --help              print usage\n");
    print_message("\n");
    print_message("support decoded TILES.16 and TILES.4 only\n");
}

// Reads the first buffer.size() bytes of a tile file. Anything after them is
// never looked at, so a longer file is accepted as it is.
int read_tiles_file(const char* path, std::span<std::uint8_t> buffer) {
    input_file stream = open_input_file(path);
    if (!stream) {
        print_message("open error '%s'\n", path);
        return -1;
    }
    if (std::fread(buffer.data(), buffer.size(), 1, stream.get()) != 1) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    return 0;
}

int run_converter(const settings& run) {
    if (run.tiles_path == nullptr) {
        print_message("no tiles file\n");
        return 1;
    }
    if (run.output_path == nullptr) {
        print_message("no output bitmap file\n");
        return 1;
    }
    if (refuse_output_over_input(run.output_path, {run.tiles_path}) < 0) {
        return 1;
    }
    const std::size_t input_size = run.cga ? cga_tiles_size : ega_tiles_size;
    if (read_tiles_file(run.tiles_path, std::span(tiles).first(input_size)) < 0) {
        print_message("read tiles file error '%s'\n", run.tiles_path);
        return 1;
    }

    const int pixels_per_byte = run.cga ? cga_pixels_per_byte : ega_pixels_per_byte;
    tile_sheet.fill(0);
    for (int row = 0; row < tile_rows; ++row) {
        for (int column = 0; column < tile_columns; ++column) {
            decode_tile(tile_sheet, tiles, row, column, pixels_per_byte, run.remake_water);
        }
    }
    // The grass colour changes after decoding, so water brought into grass
    // tiles is recoloured too; the mirror room comes last.
    if (run.dungeon) {
        if (run.cga) {
            recolor_dungeon_grass(tile_sheet, 1, 2);
        } else {
            recolor_dungeon_grass(tile_sheet, 2, 4);
        }
    }
    if (run.mirror_room) {
        recolor_tile_sheet(tile_sheet, run.cga ? cga_mirror_room_map : ega_mirror_room_map);
    }

    const palette16& palette = run.cga ? cga_palette : ega_palette;
    if (write_bitmap_file(run.output_path, tile_sheet_width, tile_sheet_height, 4, palette.data(),
                          tile_sheet.data()) < 0) {
        print_message("write bitmap file error '%s'\n", run.output_path);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    settings run;
    const option_row options[] = {
        usage_option("--help", print_usage),
        flag_option("--cga", &run.cga),
        flag_option("--dungeon", &run.dungeon),
        flag_option("--mirror-room", &run.mirror_room),
        flag_option("--no-remake-water", &run.remake_water, false),
    };
    const std::array<const char**, 2> positional = {&run.tiles_path, &run.output_path};
    if (parse_program_arguments({.options = options, .positional = positional}, argc, argv) < 0) {
        return 1;
    }
    return run_converter(run);
}

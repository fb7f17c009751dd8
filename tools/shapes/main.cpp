// kzpc98shapes / kzx68kshapes: takes TILES.CH and NPC.CH out of a disk image
// of the Varnholm disk and writes all 512 shapes as one 4-bit bitmap (the
// shape sheet) and, on request, a 1-bit mask bitmap.
//
// Both programs are built from this file; the build gives the disk data
// offset in an image file that no container claims (4096 for FDI, 0 for
// XDF), the default image name and the formats named in the usage text.
#include "bitmap/bitmap.h"
#include "console/command_line.h"
#include "console/console.h"
#include "console/shape_files.h"
#include "io/path.h"
#include "shapes/shapes.h"
#include "terminal/terminal.h"
#include "work_area/work_area.h"

#include <array>
#include <cstdint>
#include <span>

namespace {

using namespace kz;

struct settings {
    const char* disk_path = KZ_DEFAULT_IMAGE;
    const char* output_path = nullptr;
    const char* mask_path = nullptr;
    bool dungeon = false;
    bool mirror_room = false;
    bool remake_water = true;
};

// The work areas are fixed for the whole run, so the program itself never
// allocates. They lie together in one area that huge pages can back.
struct alignas(work_area_alignment) work_areas {
    std::array<std::uint8_t, tiles_ch_size> tiles_ch_data;
    std::array<std::uint8_t, npc_ch_size> npc_ch_data;
    std::array<std::uint8_t, sheet_bytes> sheet; // the mask sheet too, once the sheet is written
};
work_areas work;
auto& tiles_ch_data = work.tiles_ch_data;
auto& npc_ch_data = work.npc_ch_data;
auto& sheet = work.sheet;

void print_usage() {
    print_message("usage: " KZ_PROGRAM_NAME " [options] OUTPUT.BMP|PNG [MASK.BMP|PNG]\n");
    print_message("option: --disk DISK-IMG     disk image name of Varnholm Disk\n");
    print_message("                            read '" KZ_DEFAULT_IMAGE "' if not specified\n");
    print_message("        --dungeon           change color of grass shapes\n");
    print_message("        --mirror-room       use alternate colors for mirror room\n");
    print_message("        --no-remake-water   do not remake water shapes\n");
    print_message("        --help              print usage\n");
    print_message("\n");
    print_message("supported disk image formats are %s\n", image_format_list(KZ_DEFAULT_IMAGE));
}

void build_sheet(const settings& run) {
    sheet.fill(0);
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            decode_shape(sheet, 0, row, column, tiles_ch_data, tiles_ch_planes, run.dungeon);
        }
    }
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            decode_shape(sheet, tiles_shape_rows, row, column, npc_ch_data, npc_ch_planes, 0);
        }
    }
    if (run.remake_water) {
        remake_water(sheet);
    }
    // After the water remake, so that remade water takes the room's colours too.
    if (run.mirror_room) {
        recolor_mirror_room(sheet);
    }
}

int run_extractor(const settings& run) {
    if (run.output_path == nullptr) {
        print_message("no output bitmap file\n");
        return 1;
    }
    // Before anything is read or asked: a sheet or mask named like the disk
    // image (the default image, when --disk was forgotten) would replace it.
    if (refuse_output_over_input(run.output_path, {run.disk_path}) < 0 ||
        refuse_output_over_input(run.mask_path, {run.disk_path}) < 0) {
        return 1;
    }
    if (run.mask_path != nullptr && same_file(run.mask_path, run.output_path)) {
        print_message("can't write mask over sheet '%s'\n", run.mask_path);
        return 1;
    }
    // The image is released before the sheet is built.
    if (read_shape_files(run.disk_path, KZ_DISK_OFFSET, tiles_ch_data, npc_ch_data) < 0) {
        return 1;
    }
    build_sheet(run);

    if (write_bitmap_file(run.output_path, sheet_width, sheet_height, 4, shape_palette.data(),
                          sheet.data()) < 0) {
        print_message("write bitmap file error '%s'\n", run.output_path);
        return 1;
    }
    if (run.mask_path == nullptr) {
        return 0;
    }

    // Indices 8-15 (the fourth plane) are white in the mask source palette,
    // so the nearest mask colour is 1 exactly where the fourth plane is set.
    // The sheet has been written, so the mask takes its place pixel by pixel
    // and no second sheet of memory is touched.
    std::span<std::uint8_t> mask_sheet = sheet;
    buffer_slot mask_slot = borrowed_slot(mask_sheet.data(), mask_sheet.size());
    if (convert_bitmap(sheet_width, sheet_height, 4, mask_source_palette.data(), sheet, 1,
                       mask_palette.data(), &mask_slot) < 0) {
        print_message("convert error\n");
        return 1;
    }
    if (write_bitmap_file(run.mask_path, sheet_width, sheet_height, 1, mask_palette.data(),
                          mask_sheet.data()) < 0) {
        print_message("write bitmap file error '%s'\n", run.mask_path);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    prefer_huge_pages(&work, sizeof work);
    settings run;
    const option_row options[] = {
        usage_option("--help", print_usage),
        value_option("--disk", "no disk image (varnholm disk)\n", &run.disk_path),
        flag_option("--dungeon", &run.dungeon),
        flag_option("--mirror-room", &run.mirror_room),
        flag_option("--no-remake-water", &run.remake_water, false),
    };
    const std::array<const char**, 2> positional = {&run.output_path, &run.mask_path};
    const command_line line = {
        .options = options, .positional = positional, .blank_line_after_unneeded = true};
    if (parse_program_arguments(line, argc, argv) < 0) {
        return 1;
    }
    return run_extractor(run);
}

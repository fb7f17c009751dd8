// kzpc98chg_shapes / kzx68kchg_shapes: puts an edited shape sheet (and mask)
// back into TILES.CH and NPC.CH of a Varnholm disk image and writes the
// changed image under a new name; the input image is left alone unless the
// user names it as the output and agrees to overwrite it.
//
// Both programs are built from this file; the build gives the disk data
// offset in an image file that no container claims (4096 for FDI, 0 for
// XDF), the default image name and the formats named in the usage text.
#include "bitmap/bitmap.h"
#include "console/command_line.h"
#include "console/console.h"
#include "console/shape_files.h"
#include "disk/disk.h"
#include "io/output_file.h"
#include "io/path.h"
#include "shapes/shapes.h"
#include "terminal/terminal.h"
#include "tools/chg_shapes/sheet_bitmap.h"
#include "work_area/work_area.h"

#include <array>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>

namespace {

using namespace kz;

struct settings {
    const char* shapes_path = nullptr;
    const char* mask_path = nullptr;
    const char* disk_path = KZ_DEFAULT_IMAGE;
    const char* output_path = nullptr;
    bool change_tiles = true;
    bool change_npc = true;
};

// Fixed work areas for the whole run, together in one area that huge pages
// can back.
struct alignas(work_area_alignment) work_areas {
    std::array<std::uint8_t, tiles_ch_size> tiles_ch_data;
    std::array<std::uint8_t, npc_ch_size> npc_ch_data;
    std::array<std::uint8_t, sheet_bytes> sheet;
    std::array<std::uint8_t, sheet_bytes> mask_sheet;
};
work_areas work;
auto& tiles_ch_data = work.tiles_ch_data;
auto& npc_ch_data = work.npc_ch_data;
auto& sheet = work.sheet;
auto& mask_sheet = work.mask_sheet;

void print_usage() {
    print_message("usage: " KZ_PROGRAM_NAME " [options] SHAPES.BMP|PNG [MASK.BMP|PNG]\n");
    print_message("option: --disk DISK-IMG     disk image name of Varnholm Disk\n");
    print_message("                            read '" KZ_DEFAULT_IMAGE "' if not specified\n");
    print_message("        --write DISK-IMG    disk image name of modified Varnholm Disk\n");
    print_message("        --only-tiles        change landform shapes (TILES.CH) only\n");
    print_message("        --only-npc          change npc shapes (NPC.CH) only\n");
    print_message("        --help              print usage\n");
    print_message("\n");
    print_message("remove all mask if mask bitmap is not specified\n");
    print_message("supported disk image formats are %s\n", image_format_list(KZ_DEFAULT_IMAGE));
    print_message("write modified disk image to filename.NEW.ext if not specified\n");
}

// "dir/name.ext" gives "dir/name.NEW.ext"; a name without an extension gets
// ".NEW" appended. Only the file-name part is searched for the dot, so that a
// dot in a directory name cannot send the output into another directory; on
// Windows that part also follows a '\' or a drive ("C:name.ext").
std::optional<std::string> make_new_image_name(const char* path) {
    try {
        std::string name(path);
        const std::size_t file_start = file_name_start(name);
        std::size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot < file_start) {
            dot = name.size();
        }
        name.insert(dot, ".NEW");
        return name;
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!\n");
        return std::nullopt;
    }
}

// Encodes the sheet over the chosen shape files, then, once the user has
// agreed to replace an existing output, puts them into the loaded image and
// writes it. Nothing is written before the last step.
int write_changed_image(const settings& run, const char* output_path, disk_image* disk) {
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            if (run.change_tiles) {
                encode_shape(0, row, column, tiles_ch_data, tiles_ch_planes, sheet);
            }
            if (run.change_npc) {
                encode_shape(tiles_shape_rows, row, column, npc_ch_data, npc_ch_planes, sheet);
            }
        }
    }

    if (path_exists(output_path)) {
        print_message("already exists '%s'\n", output_path);
        if (ask_yes_no("overwrite ?") < 1) {
            return 1;
        }
    }
    if (run.change_tiles && replace_disk_file(disk, tiles_ch_name, tiles_ch_data, 1) < 0) {
        print_message("write disk image error '%s/%s'\n", output_path, tiles_ch_name);
        return 1;
    }
    if (run.change_npc && replace_disk_file(disk, npc_ch_name, npc_ch_data, 1) < 0) {
        print_message("write disk image error '%s/%s'\n", output_path, npc_ch_name);
        return 1;
    }
    if (write_disk_image(disk, output_path) < 0) {
        print_message("write disk image error '%s'\n", output_path);
        return 1;
    }
    return 0;
}

// Both shape files are read whatever is to be changed; the image stays
// loaded for the change and is released however that ends.
int change_disk_image(const settings& run, const char* output_path) {
    disk_image disk;
    if (read_shape_files(run.disk_path, KZ_DISK_OFFSET, tiles_ch_data, npc_ch_data, &disk) < 0) {
        return 1;
    }
    const int status = write_changed_image(run, output_path, &disk);
    release_disk_image(&disk);
    return status;
}

int run_changer(const settings& run) {
    if (run.shapes_path == nullptr) {
        print_message("no shapes bitmap file\n");
        return 1;
    }
    std::string derived_name;
    const char* output_path = run.output_path;
    if (output_path == nullptr) {
        std::optional<std::string> name = make_new_image_name(run.disk_path);
        if (!name) {
            print_message("can't create filename\n");
            return 1;
        }
        derived_name = std::move(*name);
        output_path = derived_name.c_str();
    }
    // The changed image may replace the image it comes from (an edit in
    // place, asked for by naming it), never the bitmaps it is made from.
    if (refuse_output_over_input(output_path, {run.shapes_path, run.mask_path}) < 0) {
        return 1;
    }

    sheet.fill(0);
    mask_sheet.fill(0);
    int shape_rows = 0;
    if (load_sheet_bitmap(run.shapes_path, &shape_rows, 4, changer_palette.data(), sheet) < 0) {
        print_message("read shapes file error '%s'\n", run.shapes_path);
        return 1;
    }
    if (shape_rows < (run.change_npc ? sheet_rows : tiles_shape_rows)) {
        print_message("shapes bitmap size error '%s'\n", run.shapes_path);
        return 1;
    }
    if (run.mask_path != nullptr) {
        int mask_rows = 0;
        if (load_sheet_bitmap(run.mask_path, &mask_rows, 1, mask_palette.data(), mask_sheet) < 0) {
            print_message("read mask file error '%s'\n", run.mask_path);
            return 1;
        }
        if (mask_rows != shape_rows) {
            print_message("shapes and mask size mismatch\n");
            return 1;
        }
    }
    // Without a mask bitmap the mask sheet is all 0, so every fourth-plane bit
    // is written as 0.
    merge_mask(sheet, mask_sheet);

    return change_disk_image(run, output_path);
}

} // namespace

int main(int argc, char** argv) {
    prefer_huge_pages(&work, sizeof work);
    settings run;
    const option_row options[] = {
        usage_option("--help", print_usage),
        value_option("--disk", "no disk image (varnholm disk)\n", &run.disk_path),
        value_option("--write", "no disk image (output)\n", &run.output_path),
        // The last of the two wins: there is no way to turn both off.
        flag_option("--only-tiles", {&run.change_tiles, true}, {&run.change_npc, false}),
        flag_option("--only-npc", {&run.change_tiles, false}, {&run.change_npc, true}),
    };
    const std::array<const char**, 2> positional = {&run.shapes_path, &run.mask_path};
    const command_line line = {
        .options = options, .positional = positional, .blank_line_after_unneeded = true};
    if (parse_program_arguments(line, argc, argv) < 0) {
        return 1;
    }
    return run_changer(run);
}

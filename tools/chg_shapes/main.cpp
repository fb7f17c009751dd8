// kzpc98chg_shapes / kzx68kchg_shapes: puts an edited shape sheet (and mask)
// back into TILES.CH and NPC.CH of a Varnholm disk image and writes the
// changed image under a new name; the input image is left alone unless the
// user names it as the output and agrees to overwrite it.
//
// Both programs are built from this file; the build gives the disk data
// offset in an image file that no container claims (4096 for FDI, 0 for
// XDF), the default image name and the formats named in the usage text.
#include "bitmap/bitmap.h"
#include "console/console.h"
#include "disk/disk.h"
#include "io/output_file.h"
#include "io/path.h"
#include "shapes/shapes.h"
#include "terminal/terminal.h"
#include "tools/chg_shapes/sheet_bitmap.h"
#include "work_area/work_area.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>

namespace {

using namespace kz;

constexpr const char* tiles_ch_name = "TILES.CH";
constexpr const char* npc_ch_name = "NPC.CH";
constexpr std::array<const char*, 2> shape_file_names = {tiles_ch_name, npc_ch_name};

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

// 0 to go on with the work; 1 when the program must end (with status 1).
int parse_arguments(int argc, char** argv, settings* run) {
    int positional_left = 2;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') {
            if (positional_left == 0) {
                print_message("unneeded parameter '%s'\n\n", arg);
                return 1;
            }
            if (positional_left == 2) {
                run->shapes_path = arg;
            } else {
                run->mask_path = arg;
            }
            --positional_left;
        } else if (std::strcmp(arg, "--help") == 0) {
            print_usage();
            return 1;
        } else if (std::strcmp(arg, "--disk") == 0) {
            if (++i >= argc) {
                print_message("no disk image (varnholm disk)\n");
                return 1;
            }
            run->disk_path = argv[i];
        } else if (std::strcmp(arg, "--write") == 0) {
            if (++i >= argc) {
                print_message("no disk image (output)\n");
                return 1;
            }
            run->output_path = argv[i];
        } else if (std::strcmp(arg, "--only-tiles") == 0) {
            run->change_tiles = true;
            run->change_npc = false;
        } else if (std::strcmp(arg, "--only-npc") == 0) {
            run->change_tiles = false;
            run->change_npc = true;
        } else {
            print_message("unknown option '%s'\n", arg);
            return 1;
        }
    }
    return 0;
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

// Loads the image, reads both shape files whatever is to be changed, encodes
// the sheet over the chosen ones, and writes the changed image. Nothing is
// written before the last step.
int change_disk_image(const settings& run, const char* output_path) {
    disk_image disk;
    if (load_disk_image(&disk, run.disk_path, KZ_DISK_OFFSET, shape_file_names) < 0) {
        print_message("read disk image error '%s'\n", run.disk_path);
        return 1;
    }
    if (read_disk_file(&disk, tiles_ch_name, tiles_ch_data, 1) < 0) {
        print_message("read disk image error '%s/%s'\n", run.disk_path, tiles_ch_name);
        return 1;
    }
    if (read_disk_file(&disk, npc_ch_name, npc_ch_data, 1) < 0) {
        print_message("read disk image error '%s/%s'\n", run.disk_path, npc_ch_name);
        return 1;
    }

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
    if (run.change_tiles && replace_disk_file(&disk, tiles_ch_name, tiles_ch_data, 1) < 0) {
        print_message("write disk image error '%s/%s'\n", output_path, tiles_ch_name);
        return 1;
    }
    if (run.change_npc && replace_disk_file(&disk, npc_ch_name, npc_ch_data, 1) < 0) {
        print_message("write disk image error '%s/%s'\n", output_path, npc_ch_name);
        return 1;
    }
    if (write_disk_image(&disk, output_path) < 0) {
        print_message("write disk image error '%s'\n", output_path);
        return 1;
    }
    release_disk_image(&disk);
    return 0;
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
    if (take_utf8_arguments(&argc, &argv) != 0) {
        return 1;
    }
    prefer_huge_pages(&work, sizeof work);
    settings run;
    if (parse_arguments(argc, argv, &run) != 0) {
        return 1;
    }
    return run_changer(run);
}

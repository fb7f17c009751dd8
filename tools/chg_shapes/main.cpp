// kzpc98chg_shapes / kzx68kchg_shapes: puts an edited shape sheet (and mask)
// back into TILES.CH and NPC.CH of a Varnholm disk image and writes the
// changed image under a new name; the input image is left alone unless the
// user names it as the output and agrees to overwrite it. With
// --mask-in-sheet the sheet carries the fourth plane in colours of its own;
// with --write-patch the program writes, instead of an image, a patch: a
// sheet of only the shapes the change would write.
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
#include "shapes/change_picture.h"
#include "shapes/disk_under_transparency.h"
#include "shapes/shapes.h"
#include "shapes/sheet_comparison.h"
#include "shapes/sheet_patch.h"
#include "terminal/terminal.h"
#include "tools/chg_shapes/change_report.h"
#include "tools/chg_shapes/sheet_bitmap.h"
#include "work_area/work_area.h"

#include <array>
#include <cstdint>
#include <cstring>
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
    const char* picture_path = nullptr;
    const char* patch_path = nullptr;
    bool change_tiles = true;
    bool change_npc = true;
    bool check = false;
    bool mask_in_sheet = false;
};

// Fixed work areas for the whole run, together in one area that huge pages
// can back. Once merged into the sheet, the mask sheet is where the disk's
// shapes are drawn for the comparison; once encoded, the sheet is where the
// change picture is drawn.
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
    print_message("        --check             report what would change, write no disk image\n");
    print_message("        --check-picture BMP|PNG\n");
    print_message("                            picture of the sheet as written, changes marked\n");
    print_message("        --mask-in-sheet     read mask from sheet colors 8-15\n");
    print_message("        --write-patch PNG   write changed shapes only, as a patch\n");
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

// What the changer learns before it writes: the sheet's and the mask's
// colours and fully transparent pixels, the verdict on every shape.
struct change_plan {
    colour_census sheet_colours;
    colour_census mask_colours;
    buffer_slot sheet_clear;
    buffer_slot mask_clear;
    transparent_pixels sheet_transparent{&sheet_clear};
    transparent_pixels mask_transparent{&mask_clear};
    shapes_with_transparency transparent_shapes{};
    sheet_verdicts verdicts;
};

// Says what the change will do where the user would otherwise be surprised:
// an output name of another container, shapes kept as the disk holds them,
// fourth-plane pixels cleared for want of a mask.
void warn_about_change(const settings& run, const change_plan& plan, const disk_image& disk) {
    if (run.output_path != nullptr) {
        const char* named = container_name_for_path(run.output_path);
        const char* written = written_container_name(&disk, KZ_DISK_OFFSET);
        if (named != nullptr && std::strcmp(named, written) != 0) {
            print_message("container mismatch '%s' ... written as %s\n", run.output_path, written);
        }
    }
    print_kept_shapes(plan.verdicts);
    if (run.change_npc && run.mask_path == nullptr && !run.mask_in_sheet) {
        const int cleared = changed_shapes_with_fourth_plane(plan.verdicts, npc_ch_data);
        if (cleared > 0) {
            print_message("no mask bitmap '%s' %d shapes with fourth plane ... cleared\n",
                          npc_ch_name, cleared);
        }
    }
}

// The files as the change leaves them, drawn with the shapes it changes
// standing out. The sheet has been encoded, so the picture takes its place.
int write_change_picture(const settings& run, const change_plan& plan) {
    draw_change_picture(plan.verdicts, {tiles_ch_data, npc_ch_data}, sheet);
    if (write_bitmap_file(run.picture_path, sheet_width, sheet_height, 4,
                          change_picture_palette.data(), sheet.data()) < 0) {
        print_message("write bitmap file error '%s'\n", run.picture_path);
        return 1;
    }
    return 0;
}

int replace_shape_files(const settings& run, const char* output_path, disk_image* disk) {
    if (run.change_tiles && replace_disk_file(disk, tiles_ch_name, tiles_ch_data, 1) < 0) {
        print_message("write disk image error '%s/%s'\n", output_path, tiles_ch_name);
        return 1;
    }
    if (run.change_npc && replace_disk_file(disk, npc_ch_name, npc_ch_data, 1) < 0) {
        print_message("write disk image error '%s/%s'\n", output_path, npc_ch_name);
        return 1;
    }
    return 0;
}

// --check: the change made in memory, then reported; the image is not
// written, and nothing is asked about it.
int report_change(const settings& run, const change_plan& plan, const char* output_path,
                  disk_image* disk) {
    if (replace_shape_files(run, output_path, disk) != 0) {
        return 1;
    }
    print_shape_report(plan.verdicts);
    print_colour_report(run.shapes_path, plan.sheet_colours);
    if (run.mask_path != nullptr) {
        print_colour_report(run.mask_path, plan.mask_colours);
    }
    if (plan.sheet_transparent.count > 0) {
        print_transparency_report(run.shapes_path, plan.sheet_transparent.count);
    }
    if (plan.mask_transparent.count > 0) {
        print_transparency_report(run.mask_path, plan.mask_transparent.count);
    }
    print_shapes_left_by_transparency(plan.verdicts, plan.transparent_shapes);
    const char* container = written_container_name(disk, KZ_DISK_OFFSET);
    if (path_exists(output_path)) {
        print_message("would replace '%s' (%s)\n", output_path, container);
    } else {
        print_message("would write '%s' (%s)\n", output_path, container);
    }
    return run.picture_path != nullptr ? write_change_picture(run, plan) : 0;
}

// Where the sheet or the mask is fully transparent the disk's pixels stay:
// the sheet speaks for every plane when it comes alone, for the colour
// planes beside a mask, which speaks for the fourth.
void keep_transparent_pixels(const settings& run, change_plan* plan) {
    if (plan->sheet_transparent.count == 0 && plan->mask_transparent.count == 0) {
        return;
    }
    const auto area = [](const transparent_pixels& clear, std::uint8_t planes) {
        return transparent_area{
            clear.count > 0 ? std::span<const std::uint8_t>(clear.slot->data, clear.slot->size)
                            : std::span<const std::uint8_t>(),
            planes};
    };
    const std::array<transparent_area, 2> areas = {
        area(plan->sheet_transparent,
             run.mask_path != nullptr ? colour_plane_bits : all_plane_bits),
        area(plan->mask_transparent, fourth_plane_bit),
    };
    keep_disk_under_transparency(sheet, {tiles_ch_data, npc_ch_data}, run.change_tiles,
                                 run.change_npc, areas, mask_sheet, &plan->transparent_shapes);
}

// --write-patch: the changed shapes, and nothing else, as a sheet of their
// own whose other pixels are transparent; no image is written.
int write_patch(const settings& run, const change_plan& plan) {
    draw_patch(plan.verdicts, sheet, mask_sheet);
    picture_image image{sheet_width, sheet_height, 4, mask_in_sheet_palette.data(), sheet.data()};
    image.transparent = mask_sheet.data();
    if (write_picture_file(run.patch_path, image) < 0) {
        print_message("write bitmap file error '%s'\n", run.patch_path);
        return 1;
    }
    return 0;
}

// Encodes the shapes the user changed over the disk's files, then, once
// the user has agreed to replace an existing output, puts them into the
// loaded image and writes it. Nothing is written before the last step but
// the change picture.
int write_changed_image(const settings& run, const char* output_path, change_plan* plan,
                        disk_image* disk) {
    keep_transparent_pixels(run, plan);
    compare_sheet_with_disk(sheet, {tiles_ch_data, npc_ch_data}, run.change_tiles, run.change_npc,
                            mask_sheet, &plan->verdicts);
    warn_about_change(run, *plan, *disk);
    // A patch takes the sheet's place, keeping the changed shapes as the
    // encoder reads them; the change picture takes it in turn, last.
    if (run.patch_path != nullptr && write_patch(run, *plan) != 0) {
        return 1;
    }
    encode_changed_shapes(plan->verdicts, sheet, tiles_ch_data, npc_ch_data);
    if (run.check) {
        return report_change(run, *plan, output_path, disk);
    }
    if (run.picture_path != nullptr && write_change_picture(run, *plan) != 0) {
        return 1;
    }
    if (run.patch_path != nullptr) {
        return 0; // the patch is written instead of the image
    }

    if (path_exists(output_path)) {
        print_message("already exists '%s'\n", output_path);
        if (ask_yes_no("overwrite ?") < 1) {
            return 1;
        }
    }
    if (replace_shape_files(run, output_path, disk) != 0) {
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
int change_disk_image(const settings& run, const char* output_path, change_plan* plan) {
    disk_image disk;
    if (read_shape_files(run.disk_path, KZ_DISK_OFFSET, tiles_ch_data, npc_ch_data, &disk) < 0) {
        return 1;
    }
    const int status = write_changed_image(run, output_path, plan, &disk);
    release_disk_image(&disk);
    return status;
}

// The outputs never replace what the run reads: the changed image may
// replace the image it comes from (an edit in place, asked for by naming
// it), never the bitmaps it is made from; the picture replaces no input,
// no disk image, and not the image the run writes.
int refuse_outputs(const settings& run, const char* output_path) {
    if (refuse_output_over_input(output_path, {run.shapes_path, run.mask_path}) < 0 ||
        refuse_output_over_input(run.picture_path,
                                 {run.shapes_path, run.mask_path, run.disk_path}) < 0 ||
        refuse_output_over_disk_image(run.picture_path) < 0) {
        return -1;
    }
    if (!run.check && run.picture_path != nullptr && output_path != nullptr &&
        same_file(run.picture_path, output_path)) {
        print_message("can't write picture over image '%s'\n", run.picture_path);
        return -1;
    }
    if (refuse_output_over_input(run.patch_path, {run.shapes_path, run.mask_path, run.disk_path}) <
            0 ||
        refuse_output_over_disk_image(run.patch_path) < 0) {
        return -1;
    }
    // Only a PNG keeps the transparent pixels that make a patch.
    if (run.patch_path != nullptr &&
        picture_format_for_name(run.patch_path) != picture_format::png) {
        print_message("patch must be a png file '%s'\n", run.patch_path);
        return -1;
    }
    if (run.patch_path != nullptr && run.picture_path != nullptr &&
        same_file(run.picture_path, run.patch_path)) {
        print_message("can't write picture over patch '%s'\n", run.picture_path);
        return -1;
    }
    return 0;
}

// Options that cannot go together, refused before anything is read: a
// sheet that carries its own mask beside a mask bitmap would be a second
// copy to keep in step; a patch is written instead of an image, so it
// takes no image name, and it is no report.
int refuse_option_mix(const settings& run) {
    if (run.mask_in_sheet && run.mask_path != nullptr) {
        print_message("can't use mask bitmap with --mask-in-sheet '%s'\n", run.mask_path);
        return -1;
    }
    if (run.patch_path == nullptr) {
        return 0;
    }
    if (run.output_path != nullptr) {
        print_message("can't use --write with --write-patch\n");
        return -1;
    }
    if (run.check) {
        print_message("can't use --check with --write-patch\n");
        return -1;
    }
    return 0;
}

// Reads the sheet and the mask, counting their colours for the report, and
// merges the mask into the sheet as the fourth plane.
int load_sheets(const settings& run, change_plan* plan) {
    sheet.fill(0);
    mask_sheet.fill(0);
    int shape_rows = 0;
    // The sheet's fourth plane comes from its own colours, or from the mask.
    const palette16& palette = run.mask_in_sheet ? mask_in_sheet_palette : changer_palette;
    if (load_sheet_bitmap(run.shapes_path, &shape_rows, 4, palette.data(), sheet,
                          run.check ? &plan->sheet_colours : nullptr,
                          &plan->sheet_transparent) < 0) {
        print_message("read shapes file error '%s'\n", run.shapes_path);
        return -1;
    }
    if (shape_rows < (run.change_npc ? sheet_rows : tiles_shape_rows)) {
        print_message("shapes bitmap size error '%s'\n", run.shapes_path);
        return -1;
    }
    if (run.mask_path != nullptr) {
        int mask_rows = 0;
        if (load_sheet_bitmap(run.mask_path, &mask_rows, 1, mask_palette.data(), mask_sheet,
                              run.check ? &plan->mask_colours : nullptr,
                              &plan->mask_transparent) < 0) {
            print_message("read mask file error '%s'\n", run.mask_path);
            return -1;
        }
        if (mask_rows != shape_rows) {
            print_message("shapes and mask size mismatch\n");
            return -1;
        }
    }
    // Without a mask bitmap the mask sheet is all 0, so every fourth-plane bit
    // is written as 0, unless the sheet carries it in its colours.
    merge_mask(sheet, mask_sheet);
    return 0;
}

int run_changer(const settings& run) {
    if (run.shapes_path == nullptr) {
        print_message("no shapes bitmap file\n");
        return 1;
    }
    if (refuse_option_mix(run) < 0) {
        return 1;
    }
    std::string derived_name;
    const char* output_path = run.output_path;
    if (output_path == nullptr && run.patch_path == nullptr) {
        std::optional<std::string> name = make_new_image_name(run.disk_path);
        if (!name) {
            print_message("can't create filename\n");
            return 1;
        }
        derived_name = std::move(*name);
        output_path = derived_name.c_str();
    }
    if (refuse_outputs(run, output_path) < 0) {
        return 1;
    }
    change_plan plan;
    if (load_sheets(run, &plan) < 0) {
        return 1;
    }
    return change_disk_image(run, output_path, &plan);
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
        flag_option("--check", &run.check),
        value_option("--check-picture", "no check picture file\n", &run.picture_path),
        flag_option("--mask-in-sheet", &run.mask_in_sheet),
        value_option("--write-patch", "no patch file\n", &run.patch_path),
    };
    const std::array<const char**, 2> positional = {&run.shapes_path, &run.mask_path};
    const command_line line = {
        .options = options, .positional = positional, .blank_line_after_unneeded = true};
    if (parse_program_arguments(line, argc, argv) < 0) {
        return 1;
    }
    return run_changer(run);
}

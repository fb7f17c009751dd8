// Reading both shape files out of a disk image.
#include "console/shape_files.h"

#include "terminal/terminal.h"

#include <array>

namespace kz {
namespace {

constexpr std::array<const char*, 2> shape_file_names = {tiles_ch_name, npc_ch_name};

int read_both(const disk_image& disk, const char* disk_path, std::span<std::uint8_t> tiles_ch,
              std::span<std::uint8_t> npc_ch) {
    if (read_disk_file(&disk, tiles_ch_name, tiles_ch, 1) < 0) {
        print_message("read disk image error '%s/%s'\n", disk_path, tiles_ch_name);
        return -1;
    }
    if (read_disk_file(&disk, npc_ch_name, npc_ch, 1) < 0) {
        print_message("read disk image error '%s/%s'\n", disk_path, npc_ch_name);
        return -1;
    }
    return 0;
}

} // namespace

int read_shape_files(const char* disk_path, std::int32_t disk_offset,
                     std::span<std::uint8_t> tiles_ch, std::span<std::uint8_t> npc_ch,
                     disk_image* kept) {
    disk_image own;
    disk_image* disk = kept != nullptr ? kept : &own;
    // A D88 file of several disks is read on the one that holds both files.
    // A failed load leaves nothing loaded.
    if (load_disk_image(disk, disk_path, disk_offset, shape_file_names) < 0) {
        print_message("read disk image error '%s'\n", disk_path);
        return -1;
    }
    const int result = read_both(*disk, disk_path, tiles_ch, npc_ch);
    if (result < 0 || kept == nullptr) {
        release_disk_image(disk);
    }
    return result;
}

} // namespace kz

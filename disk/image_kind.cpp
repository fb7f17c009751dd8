// What kind of disk image a file is, by what it holds and by its name: the
// programs' guards against writing a picture over a disk image, against an
// image shorter than its disk, and against an output name of another
// container than the one written.
#include "disk/container.h"
#include "disk/disk.h"

#include "io/input_file.h"
#include "io/path.h"
#include "terminal/terminal.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace kz {
namespace {

// The FAT boot record's parameter block, where a boot sector begins.
constexpr std::size_t boot_record_size = 64;
constexpr std::uint32_t max_fat12_clusters = 4084;

bool is_power_of_two(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// A boot sector of a FAT12 volume: a jump over the parameter block, then
// parameters that describe a volume (sectors of 128 to 4096 bytes, a power
// of two of them to a cluster, reserved sectors, one or two FATs, a root
// directory, a media byte) of fewer than 4085 clusters. Many PC-98 disks
// lack the 0x55 0xAA end mark, so it is not asked for.
bool holds_fat12_boot_record(std::span<const std::uint8_t> file, std::int64_t at) {
    if (!file_holds(file, at, boot_record_size)) {
        return false;
    }
    const std::uint8_t* boot = file.data() + at;
    const bool jump = (boot[0] == 0xEB && boot[2] == 0x90) || boot[0] == 0xE9;
    const std::uint32_t sector_size = file_le16(file, at + 0x0B);
    const std::uint32_t cluster_sectors = boot[0x0D];
    const std::uint32_t reserved = file_le16(file, at + 0x0E);
    const std::uint32_t fats = boot[0x10];
    const std::uint32_t root_entries = file_le16(file, at + 0x11);
    const std::uint32_t small_total = file_le16(file, at + 0x13);
    const std::uint32_t fat_sectors = file_le16(file, at + 0x16);
    const std::uint32_t total = small_total != 0 ? small_total : file_le32(file, at + 0x20);
    if (!jump || !is_power_of_two(sector_size) || sector_size < 128 || sector_size > 4096 ||
        !is_power_of_two(cluster_sectors) || reserved == 0 || fats < 1 || fats > 2 ||
        root_entries == 0 || boot[0x15] < 0xF0 || fat_sectors == 0) {
        return false;
    }
    const std::uint64_t root_sectors =
        (std::uint64_t{root_entries} * dir_entry_size + sector_size - 1) / sector_size;
    const std::uint64_t system_sectors =
        reserved + std::uint64_t{fats} * fat_sectors + root_sectors;
    if (total <= system_sectors) {
        return false;
    }
    return (total - system_sectors) / cluster_sectors <= max_fat12_clusters;
}

} // namespace

bool holds_disk_image(const char* path) {
    // Only a regular file can be an image, and only one can be read here
    // without waiting: a pipe would wait for a writer.
    if (path == nullptr || !names_regular_file(path)) {
        return false;
    }
    // The file's bytes as the loader takes them, quietly: a file that
    // cannot be read whole is taken for no image, as the loader would.
    file_content content;
    input_file stream = open_input_file(path);
    if (!stream || take_file_content(stream.get(), nullptr, &content) != 0) {
        return false;
    }
    const std::span<const std::uint8_t> file = content_bytes(content);
    // A null path keeps the container modules' refusals unprinted: a
    // container of another kind of disk is a disk image all the same.
    // The first disk answers the question, so no more are asked for.
    const container_format* format = nullptr;
    auto first_disk_is_enough = [](const disk_layout&) { return false; };
    try {
        if (recognise_container(file, nullptr, &format, receiver_for(&first_disk_is_enough)) !=
            container_result::not_this) {
            return !content_read_failed(content);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    // A disk that no container claims begins at one of the pairs' offsets.
    return (holds_fat12_boot_record(file, 0) || holds_fat12_boot_record(file, fdi_disk_offset)) &&
           !content_read_failed(content);
}

const char* written_container_name(const disk_image* disk, std::int32_t disk_offset) {
    if (disk->format != nullptr) {
        return disk->format->name;
    }
    // A file read at the pair's fixed offset is written back as it was: an
    // FDI header before the disk, or the disk alone.
    const char* layout = disk_offset == fdi_disk_offset ? "FDI" : "raw";
    for (const container_format& row : container_formats) {
        if (std::strcmp(row.name, layout) == 0) {
            return row.name;
        }
    }
    return layout;
}

const char* container_name_for_path(const char* path) {
    for (const container_format& row : container_formats) {
        for (const image_pattern& pattern : row.patterns) {
            if (pattern_matches(pattern, path + file_name_start(path))) {
                return row.name;
            }
        }
    }
    return nullptr;
}

void warn_short_disk(const char* path, std::int64_t length, std::int64_t disk_offset) {
    const std::int64_t whole = disk_offset + raw_disk_length;
    if (length < whole) {
        print_message("disk image shorter than its disk '%s' %d < %d ... read as far as it goes\n",
                      path, static_cast<int>(length), static_cast<int>(whole));
    }
}

} // namespace kz

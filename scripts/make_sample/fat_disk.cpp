// Writing the sample disk's boot sector, FAT, root directory and files.
#include "fat_disk.h"

#include "drawing.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace kz::sample {
namespace {

constexpr int fat_first_unit = 1;
constexpr int fat_units = 2;
constexpr int fat_copies = 2;
constexpr int root_first_unit = fat_first_unit + fat_units * fat_copies; // 5
constexpr int root_entry_count = 192;
constexpr int dir_entry_size = 32;
constexpr int root_units = root_entry_count * dir_entry_size / unit_size; // 6
constexpr int first_data_unit = root_first_unit + root_units;             // 11
constexpr int first_cluster = 2;
constexpr int last_cluster = first_cluster + (unit_count - first_data_unit) - 1; // 1222
constexpr std::uint8_t media_byte = 0xFE;
constexpr int end_of_chain = 0xFFF;

constexpr std::uint8_t attr_volume_label = 0x08;
constexpr std::uint8_t attr_archive = 0x20;
// Every entry carries 1993-04-01 12:00:00 so that runs give the same bytes.
constexpr std::uint16_t fixed_dos_date = ((1993 - 1980) << 9) | (4 << 5) | 1;
constexpr std::uint16_t fixed_dos_time = 12 << 11;

std::span<std::uint8_t> unit(std::vector<std::uint8_t>& disk, int first, int count = 1) {
    return std::span(disk).subspan(static_cast<std::size_t>(first) * unit_size,
                                   static_cast<std::size_t>(count) * unit_size);
}

constexpr std::string_view volume_label = "VARNHOLM   ";

void write_boot_sector(std::vector<std::uint8_t>& disk) {
    auto boot = unit(disk, 0);
    constexpr std::array<std::uint8_t, 3> jump{0xEB, 0x3C, 0x90}; // over the parameter block
    std::copy(jump.begin(), jump.end(), boot.begin());
    std::memcpy(&boot[3], "KZSAMPLE", 8);
    put_le16(boot, 0x0B, unit_size);
    boot[0x0D] = 1;                       // sectors per cluster
    put_le16(boot, 0x0E, fat_first_unit); // reserved sectors
    boot[0x10] = fat_copies;
    put_le16(boot, 0x11, root_entry_count);
    put_le16(boot, 0x13, unit_count);
    boot[0x15] = media_byte;
    put_le16(boot, 0x16, fat_units);
    put_le16(boot, 0x18, sectors_per_track);
    put_le16(boot, 0x1A, head_count);
    put_le32(boot, 0x1C, 0);          // hidden sectors
    put_le32(boot, 0x20, 0);          // the 16-bit total is enough
    boot[0x24] = 0;                   // drive number
    boot[0x26] = 0x29;                // extended parameter block follows
    put_le32(boot, 0x27, 0x19930401); // fixed serial number
    std::memcpy(&boot[0x2B], volume_label.data(), volume_label.size());
    std::memcpy(&boot[0x36], "FAT12   ", 8);
    boot[0x3E] = 0xEB; // boot code: wait for ever, this disk boots nothing
    boot[0x3F] = 0xFE;
    boot[510] = 0x55;
    boot[511] = 0xAA;
}

// Two 12-bit entries share three bytes: the even one takes the first byte
// and the low half of the second, the odd one the rest.
void set_fat_entry(std::span<std::uint8_t> fat, int cluster, int value) {
    const std::size_t at = static_cast<std::size_t>(cluster) * 3 / 2;
    if (cluster % 2 == 0) {
        fat[at] = static_cast<std::uint8_t>(value & 0xFF);
        fat[at + 1] = static_cast<std::uint8_t>((fat[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
    } else {
        fat[at] = static_cast<std::uint8_t>((fat[at] & 0x0F) | ((value & 0x0F) << 4));
        fat[at + 1] = static_cast<std::uint8_t>((value >> 4) & 0xFF);
    }
}

struct disk_file {
    std::string_view dir_name; // 8.3 in directory form, 11 characters
    std::vector<std::uint8_t> data;
    std::vector<int> clusters; // in chain order
};

std::vector<int> cluster_runs(std::initializer_list<std::pair<int, int>> runs) {
    std::vector<int> clusters;
    for (const auto& [first, count] : runs)
        for (int i = 0; i < count; ++i)
            clusters.push_back(first + i);
    return clusters;
}

void write_dir_entry(std::span<std::uint8_t> entry, std::string_view dir_name,
                     std::uint8_t attributes, int first, std::uint32_t size) {
    std::memcpy(entry.data(), dir_name.data(), dir_name.size());
    entry[11] = attributes;
    put_le16(entry, 14, fixed_dos_time); // created
    put_le16(entry, 16, fixed_dos_date);
    put_le16(entry, 18, fixed_dos_date); // last access
    put_le16(entry, 22, fixed_dos_time); // written
    put_le16(entry, 24, fixed_dos_date);
    put_le16(entry, 26, static_cast<std::uint32_t>(first));
    put_le32(entry, 28, size);
}

// Copies each file's data into its clusters, chains them in the FAT and
// writes its directory entry. The layout is fixed, so a mismatch between a
// file and its clusters is a mistake in this program: it is reported, not
// written past.
int store_files(std::vector<std::uint8_t>& disk, std::span<const disk_file> files) {
    auto fat = unit(disk, fat_first_unit, fat_units);
    auto root = unit(disk, root_first_unit, root_units);
    set_fat_entry(fat, 0, 0xF00 | media_byte);
    set_fat_entry(fat, 1, end_of_chain);
    write_dir_entry(root.subspan(0, dir_entry_size), volume_label, attr_volume_label, 0, 0);

    std::vector<bool> used(last_cluster + 1, false);
    int entry = 1;
    for (const disk_file& file : files) {
        const std::size_t needed = (file.data.size() + unit_size - 1) / unit_size;
        if (file.dir_name.size() != 11 || file.clusters.size() != needed ||
            entry >= root_entry_count) {
            std::printf("internal error: bad layout for '%.*s'\n",
                        static_cast<int>(file.dir_name.size()), file.dir_name.data());
            return -1;
        }
        for (std::size_t i = 0; i < file.clusters.size(); ++i) {
            const int cluster = file.clusters[i];
            if (cluster < first_cluster || cluster > last_cluster ||
                used[static_cast<std::size_t>(cluster)]) {
                std::printf("internal error: bad cluster %d\n", cluster);
                return -1;
            }
            used[static_cast<std::size_t>(cluster)] = true;
            const std::size_t offset = i * unit_size;
            const std::size_t length = std::min<std::size_t>(unit_size, file.data.size() - offset);
            auto target = unit(disk, cluster + first_data_unit - first_cluster);
            std::copy_n(file.data.begin() + static_cast<std::ptrdiff_t>(offset), length,
                        target.begin());
            const bool last = i + 1 == file.clusters.size();
            set_fat_entry(fat, cluster, last ? end_of_chain : file.clusters[i + 1]);
        }
        const int first = file.clusters.empty() ? 0 : file.clusters.front();
        write_dir_entry(
            root.subspan(static_cast<std::size_t>(entry) * dir_entry_size, dir_entry_size),
            file.dir_name, attr_archive, first, static_cast<std::uint32_t>(file.data.size()));
        ++entry;
    }
    auto fat_copy = unit(disk, fat_first_unit + fat_units, fat_units);
    std::copy(fat.begin(), fat.end(), fat_copy.begin());
    return 0;
}

std::vector<std::uint8_t> text_bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> repeated_text(std::string_view line, std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(line[i % line.size()]);
    return data;
}

// Cluster layout. NPC.CH is in three pieces: the first jumps over the decoy
// file and two free clusters, the second jumps back over TILES.CH to the
// start of the disk. A reader that does not follow the chain picks up the
// decoy's text or TILES.CH.
//   2        SAMPLE.TXT
//   3-34     NPC.CH, last piece
//   35-130   TILES.CH
//   131-178  NPC.CH, first piece
//   179-180  NPC.OLD (decoy)
//   181-182  free
//   183-230  NPC.CH, middle piece
} // namespace

int build_disk(byte_vector& disk) {
    disk.assign(disk_size, 0);
    write_boot_sector(disk);
    const std::array<disk_file, 4> files{{
        {"SAMPLE  TXT",
         text_bytes("synthetic sample disk, not game data\r\n"
                    "TILES.CH and NPC.CH hold numbered test shapes.\r\n"),
         {2}},
        {"TILES   CH ", make_tiles_ch(), cluster_runs({{35, 96}})},
        {"NPC     CH ", make_npc_ch(), cluster_runs({{131, 48}, {183, 48}, {3, 32}})},
        {"NPC     OLD", repeated_text("decoy: these bytes are not part of NPC.CH\r\n", 1500),
         cluster_runs({{179, 2}})},
    }};
    return store_files(disk, files);
}

} // namespace kz::sample

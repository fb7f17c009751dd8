// Floppy disk images of the Varnholm disk and their FAT12 file system.
//
// A PC-98 FDI image is a 4096-byte header (never interpreted, written back
// unchanged) followed by the disk; an X68000 XDF image is the disk alone. The
// geometry is fixed and the boot sector is never consulted: 1024-byte units,
// unit 0 the boot sector, units 1-4 the FAT, units 5-10 the root directory
// (192 entries of 32 bytes), cluster n (n >= 2) in unit n + 9.
//
// Results are integers: 0 for success, -1 for failure after a message on
// standard output that names the file in single quotes.
#pragma once

#include "io/input_file.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace kz {

constexpr std::int32_t fdi_disk_offset = 4096;
constexpr std::int32_t xdf_disk_offset = 0;

constexpr std::int32_t disk_unit_size = 1024;
constexpr std::int32_t fat_area_offset = 1024; // unit 1
constexpr std::int32_t root_dir_offset = 5120; // unit 5
constexpr std::int32_t root_dir_end = 11264;   // unit 11, where cluster 2 begins
constexpr std::int32_t root_dir_entries = 192;
constexpr std::int32_t dir_entry_size = 32;
constexpr std::int32_t cluster_base_offset = 9216; // cluster n at base + 1024 n
constexpr std::int32_t dir_name_length = 11;       // 8 + 3, no dot

// The loaded image file, header included, and its unpacked FAT: one entry
// (the stored 12-bit value) per 1024-byte unit of the data area. An empty
// record (default, failed load, released) has no bytes and all numbers 0.
// The image is the program's own copy of the file: replacements change it,
// never the file.
struct disk_image {
    std::int32_t disk_offset = 0;
    std::int32_t image_length = 0;
    std::span<std::uint8_t> image; // the whole file, held by storage
    file_content storage;
    std::int32_t fat_entry_count = 0;
    std::vector<std::int32_t> fat;
};

// Loads the whole file at path. The record is cleared and disk_offset stored
// before anything else. An image too short to hold the root directory is
// refused, so that every later look-up stays inside the loaded bytes.
int load_disk_image(disk_image* disk, const char* path, std::int32_t disk_offset);

// The same from an open stream; path only names the file in messages. The
// stream is the caller's to close.
int load_disk_stream(disk_image* disk, std::FILE* stream, const char* path,
                     std::int32_t disk_offset);

// Frees the image and the FAT and clears the record so it can be loaded again.
void release_disk_image(disk_image* disk);

// Unpacks the FAT12 area (two entries in every three bytes) into
// (image_length - disk_offset) / 1024 entries. Stores the entry count first.
// Returns false after printing "memory exhaust!" (no line end).
bool decode_fat12(std::span<const std::uint8_t> image, std::int32_t disk_offset,
                  std::int32_t* entry_count, std::vector<std::int32_t>* fat);

// Directory form of a file name: 8 + 3 characters padded with spaces, no dot,
// then a zero byte. 0 when the whole name was used, -1 when characters were
// left over.
int make_dir_name(char dst[dir_name_length + 1], const char* name);

struct root_entry {
    std::uint16_t first_cluster = 0;
    std::int32_t size = 0;
};

// Looks a directory-form name up in the root directory: 0 and the entry when
// found, -1 when no entry matches. Names compare over all 11 characters,
// without regard to ASCII case when ignore_case is non-zero.
int find_root_entry(const disk_image* disk, const char* dir_name, int ignore_case,
                    root_entry* entry);

// Copies the first buffer.size() bytes of the file into buffer along its
// cluster chain.
int read_disk_file(const disk_image* disk, const char* name, std::span<std::uint8_t> buffer,
                   int ignore_case);

// Overwrites the first data.size() bytes of the file in the loaded image,
// along its existing chain; never touches the directory or the FAT.
int replace_disk_file(disk_image* disk, const char* name, std::span<const std::uint8_t> data,
                      int ignore_case);

// Writes the whole loaded file, header included, to path. An existing regular
// file is replaced only once the new content is completely written.
int write_disk_image(const disk_image* disk, const char* path);

} // namespace kz

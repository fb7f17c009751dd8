// Floppy disk images of the Varnholm disk and their FAT12 file system.
//
// The disk is a 2HD floppy: 77 cylinders x 2 heads x 8 sectors of 1024
// bytes, 1232 units in all, unit u being record u % 8 + 1 of track u / 8
// (track = cylinder x 2 + head). Image files wrap it in one of several
// containers (raw, FDI, D88, NFD, FDD, DIM, DCP); a container module finds
// each unit in the file by its sector ID and records where its bytes lie in
// one table, through which the FAT, directory and file code reads and writes,
// knowing no container. A file that no container claims is read as each
// pair of programs always read it: the disk at a fixed offset (4096 behind
// an FDI header that is never read, or 0).
//
// The file system's geometry is fixed and the boot sector is never
// consulted: units 1-4 the FAT, units 5-10 the root directory (192 entries
// of 32 bytes), cluster n (n >= 2) in unit n + 9.
//
// Results are integers: 0 for success, -1 for failure after a message on
// standard output that names the file in single quotes.
#pragma once

#include "io/input_file.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
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

constexpr int disk_cylinders = 77;
constexpr int disk_heads = 2;
constexpr int track_sectors = 8;
constexpr int disk_tracks = disk_cylinders * disk_heads;     // 154
constexpr std::int32_t disk_units = disk_tracks * track_sectors; // 1232
constexpr std::int64_t raw_disk_length = std::int64_t{disk_units} * disk_unit_size;

// What the container says of one unit.
enum class sector_state : std::uint8_t {
    missing,     // no sector with its ID
    stored,      // its 1024 bytes lie at offset
    filled,      // not stored: every byte is the fill byte
    duplicated,  // more than one sector with its ID
    overlapping, // its bytes share the file with another sector or a header
    crc_error,   // marked as read with a CRC error
    no_data,     // marked as having no data, or holding fewer than 1024 bytes
};

// Why a readable unit cannot be changed in its container.
enum class sector_lock : std::uint8_t {
    none,
    absent_track, // a DIM or DCP track that the file does not hold
    special_read, // an NFD sector that has special-read data as well
};

struct sector_place {
    std::int64_t offset = -1;  // stored: where its bytes lie (past the file's end: appended)
    std::int64_t pointer = -1; // filled: where the file keeps the 32-bit offset of its data,
                               // so that a changed copy can be appended (-1: nowhere)
    sector_state state = sector_state::missing;
    sector_lock lock = sector_lock::none;
    std::uint8_t fill = 0;
};

// A row of the table of containers (see container.h).
struct container_format;

// The loaded image file and its unpacked FAT: one entry (the stored 12-bit
// value) per unit. An empty record (default, failed load, released) has no
// bytes and no units. The content is the program's own copy of the file:
// replacements change it, never the file.
struct disk_image {
    std::string path;               // the image, as messages name it
    const container_format* format = nullptr; // its container; null: read at the fixed offset
    file_content content;           // the whole file
    std::vector<std::uint8_t> appended; // sectors stored past the file's end
    std::vector<sector_place> units;    // where each unit lies
    std::vector<std::int32_t> fat;      // as many entries as units
};

// Loads the file at path and finds its disk. disk_offset is where a file
// that no container claims holds the disk; such an image too short to hold
// the root directory is refused, so that every later look-up stays inside
// the loaded bytes. wanted names the files the caller will use: a D88 file
// that holds several disks is read on the one disk that has all of them.
int load_disk_image(disk_image* disk, const char* path, std::int32_t disk_offset,
                    std::span<const char* const> wanted = {});

// The same from an open stream; path only names the file in messages. The
// stream is the caller's to close.
int load_disk_stream(disk_image* disk, std::FILE* stream, const char* path,
                     std::int32_t disk_offset, std::span<const char* const> wanted = {});

// The image file patterns of the usage lines, separated by spaces: the
// default image's first, then the others of its machine, then the rest.
// The text lives as long as the program.
const char* image_format_list(const char* default_image);

// Frees the image and the FAT and clears the record so it can be loaded again.
void release_disk_image(disk_image* disk);

// Unpacks the FAT12 area (two entries in every three bytes, from unit 1 on)
// into one entry per unit. Returns false after printing "memory exhaust!"
// (no line end) when the table cannot be had, or after a line of its own
// when a unit it needs cannot be read.
bool decode_fat12(const disk_image* disk, std::vector<std::int32_t>* fat);

// Directory form of a file name: 8 + 3 characters padded with spaces, no dot,
// then a zero byte. 0 when the whole name was used, -1 when characters were
// left over.
int make_dir_name(char dst[dir_name_length + 1], const char* name);

struct root_entry {
    std::uint16_t first_cluster = 0;
    std::int32_t size = 0;
    std::int32_t slot = -1; // which of the 192 entries it is
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
// along its existing chain; never touches the directory or the FAT. A unit
// that its container cannot change in place fails the whole replacement
// before anything changes.
int replace_disk_file(disk_image* disk, const char* name, std::span<const std::uint8_t> data,
                      int ignore_case);

// Writes the whole loaded file, header included, in its own container, to
// path. An existing regular file is replaced only once the new content is
// completely written.
int write_disk_image(const disk_image* disk, const char* path);

// --- what kind of image a file is --------------------------------------

// Whether the file at path is a disk image as the loader sees one: a file
// that a container claims (or refuses as another kind of disk), or one whose
// first sector, at byte 0 or behind an FDI header, holds a FAT12 boot
// record. Prints nothing; false for a file that does not exist or cannot be
// read.
bool holds_disk_image(const char* path);

// The name of the container a loaded image is written back in ("D88",
// "raw", ...): its own, or for a file that no container claims, the layout
// the pair reads it in at disk_offset (FDI behind 4096 bytes, raw at 0).
const char* written_container_name(const disk_image* disk, std::int32_t disk_offset);

// The container whose file names end like the last part of path ("raw"
// for "conv.hdm"), or null when none does.
const char* container_name_for_path(const char* path);

// For an image that no container claims: when the file ends before the
// whole disk at disk_offset, prints "disk image shorter than its disk '%s'
// %d < %d ... read as far as it goes\n", and the work goes on.
void warn_short_disk(const char* path, std::int64_t length, std::int64_t disk_offset);

} // namespace kz

// Inside the disk library: what the container modules give the loader, and
// how the FAT and file code reach the bytes of a unit.
#pragma once

#include "disk/disk.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace kz {

// One disk found in a file: where each of its units lies, and the parts of
// the file that hold the container's own records (headers, sector headers,
// track maps), which no sector's data may share.
struct disk_layout {
    std::vector<sector_place> units;
    std::vector<std::pair<std::int64_t, std::int64_t>> records; // [begin, end)
};

// What a container module makes of a file.
enum class container_result {
    not_this,   // the file does not carry this container's mark
    found,      // one or more disks, each handed to the receiver
    other_disk, // this container, holding another kind of disk (2DD, 1.44 MB, other sector sizes)
    broken,     // this container's mark, but its records contradict themselves or the file
};

// Where a module hands the disks it finds, one at a time as it finds them.
// A file holds one disk, or (D88) any number one after another: handed on
// so, no more than one disk's table is held at a time, whatever number the
// file claims. The receiver copies what it keeps, and returns false once it
// needs to hear of no more.
struct disk_receiver {
    bool (*receive)(void* context, const disk_layout& disk);
    void* context;
};

// A receiver that calls take(disk) for each disk.
template <typename Take> disk_receiver receiver_for(Take* take) {
    return {[](void* context, const disk_layout& disk) { return (*static_cast<Take*>(context))(disk); },
            take};
}

// Each module checks every offset it takes against the file, records
// sectors by their ID through add_sector, and hands each disk on only once
// it has found it whole. It prints nothing: recognition says why a file is
// refused.
using container_reader = container_result (*)(std::span<const std::uint8_t> file, disk_receiver receiver);

container_result read_fdi_container(std::span<const std::uint8_t> file, disk_receiver receiver);
container_result read_d88_container(std::span<const std::uint8_t> file, disk_receiver receiver);
container_result read_nfd_container(std::span<const std::uint8_t> file, disk_receiver receiver);
container_result read_fdd_container(std::span<const std::uint8_t> file, disk_receiver receiver);
container_result read_dim_container(std::span<const std::uint8_t> file, disk_receiver receiver);
container_result read_dcp_container(std::span<const std::uint8_t> file, disk_receiver receiver);
container_result read_raw_container(std::span<const std::uint8_t> file, disk_receiver receiver);

// A file name pattern that a container circulates under. The usage lines
// list some of them, in the order of usage_rank (0: not listed), each pair
// its own machine's first.
enum : std::uint8_t { pc98_machine = 1, x68k_machine = 2 };

struct image_pattern {
    const char* glob;            // "*.d88": the extension, in any case
    std::uint8_t machines = 0;   // whose disks go by this name, for the usage lines
    std::uint8_t usage_rank = 0;
};

// One row of the recognition table.
struct container_format {
    const char* name; // as the documents name it: "D88"
    container_reader read;
    std::span<const image_pattern> patterns;
};

// The rows in the order recognition tries them: the containers' own marks,
// then an FDI header that describes this disk, then a file of exactly the
// raw disk's length. A file that none claims is read at the pair's fixed
// offset and has no row.
extern const std::span<const container_format> container_formats;

// The raw disk from offset on, as many whole units as the file holds there
// (all of them for a raw image, more or fewer for a file read at the pair's
// fixed offset).
disk_layout linear_layout(std::int64_t file_length, std::int64_t offset);

// The tracks of a file that follows a header of one present flag per track
// (flags_at on, index cylinder x 2 + head), 8 x 1024 bytes each, in track
// order: a file with room for every track holds each at its own place,
// whatever its flag says; one without holds the present tracks back to back.
// A track the file leaves out reads as empty and cannot be changed, as
// storing it would move every later track. DIM and DCP are laid out so.
disk_layout flagged_track_layout(std::span<const std::uint8_t> file, std::int64_t header_size,
                                 std::int64_t flags_at);

// Whether the name ends in the pattern's extension, in any case.
bool pattern_matches(const image_pattern& pattern, const char* name);

// Finds the file's container by the rows of container_formats, in order.
// A row claims the file when its mark and the fields that follow agree with
// the file; a row whose mark is there but whose records do not agree
// (broken) claims it only if no later row does. *format is the claiming
// row, or null (not_this) when none does. A refusal (other_disk, broken) is
// reported here, with the file's path (unless it is null: then the question
// is only whether the file is a disk image), and hands on no disk.
container_result recognise_container(std::span<const std::uint8_t> file, const char* path,
                                     const container_format** format, disk_receiver receiver);

// The largest file the loader takes as an image, and so recognises as one.
constexpr std::int64_t max_image_length = std::numeric_limits<std::int32_t>::max();

// The whole file's bytes from a stream that stands at its start: mapped
// where the system allows (a mapping costs only the pages that are used),
// read whole otherwise; an empty file, or one larger than max_image_length,
// fails. Each failure is reported with the file's path, unless it is null:
// then the question is only whether the file can be read. 0 or -1.
int take_file_content(std::FILE* stream, const char* path, file_content* content);

// A layout of 1232 missing units, for a module to fill.
disk_layout empty_layout();

struct sector_id {
    int cylinder = 0;
    int head = 0;
    int record = 0;
    int size_code = 0; // N: 128 << N bytes
};

// The unit that a sector of this ID would be on track (cylinder x 2 +
// head), or -1 for a sector that is not this disk's: another record
// number, an ID of another track, a track past the disk.
std::int64_t sector_unit(int track, sector_id id);

// Records a sector that the container holds on track (cylinder x 2 + head).
// Sectors that are not this disk's (another record number, an ID of another
// track) are left out; a second sector with an ID already seen makes the
// unit duplicated. Gives false for a sector of this disk's tracks whose size
// is not 1024 bytes: the container holds some other kind of disk.
bool add_sector(disk_layout* layout, int track, sector_id id, sector_place place);

// Marks every stored unit whose bytes share the file with another's or with
// one of the container's records.
void mark_overlaps(disk_layout* layout);

// Unit u's cylinder, head and record, for messages.
sector_id unit_id(std::int64_t unit);

// The line that names a sector that cannot be read, and why.
void report_unreadable(const char* path, std::int64_t unit, sector_state state);

// Reading: whether unit u can be read (stored or filled); if not, and
// report is set, a line that names the sector and what is wrong with it.
bool unit_readable(const disk_image* disk, std::int64_t unit, bool report);

// Copies count bytes from offset from of a readable unit.
void read_unit(const disk_image* disk, std::int64_t unit, std::size_t from, std::uint8_t* out,
               std::size_t count);

// Writing: whether unit u can be changed in its container; if not, and
// report is set, a line that says why.
bool unit_writable(const disk_image* disk, std::int64_t unit, bool report);

// Copies count bytes into a writable unit at offset from. A filled unit
// that the bytes would change is appended to the file and its container's
// pointer set to it.
void write_unit(disk_image* disk, std::int64_t unit, std::size_t from, const std::uint8_t* in,
                std::size_t count);

// Little-endian fields of a file, read only where the caller has checked
// that they lie inside it.
std::uint32_t file_le16(std::span<const std::uint8_t> file, std::int64_t at);
std::uint32_t file_le32(std::span<const std::uint8_t> file, std::int64_t at);

// Whether [at, at + length) lies inside the file.
bool file_holds(std::span<const std::uint8_t> file, std::int64_t at, std::int64_t length);

// A running offset into the file moved on by length bytes, checked as
// file_holds checks, before the sum is made, in unsigned 64-bit: an offset
// that would pass the file's end stays one past it, where the file holds
// nothing that follows. However many lengths a header names, and however
// large, the sum can then never overflow.
std::int64_t advance_within(std::span<const std::uint8_t> file, std::int64_t at, std::uint64_t length);

} // namespace kz

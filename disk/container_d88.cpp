// D88 images (.d88, .88d, .d98, .98d, .d77, .d68): per disk a header (name,
// write protect, media, disk size, a table of track offsets from the disk's
// start), then tracks, each a run of sectors, each a 16-byte sector header
// (C, H, R, N, sector count, density, deleted mark, status, length of the
// data that follows) and its data. Several disks may follow one another in
// one file, each disk size saying where the next begins.
//
// Real files put sectors in any order within a track and tracks in any
// order in the file, get the sector counts wrong, and carry data lengths
// that disagree with N: a track's extent runs from its offset to the next
// higher one (or the disk's end), its sectors are walked by their own
// lengths, and each is taken by its ID. Walked so, no sector's data can
// share a byte with another's or with a header, and there is nothing to
// check for overlaps. The header is 0x2B0 bytes, or 0x2A0
// in older files with 160 track entries: the first track says which.
//
// Each byte of a disk is walked once, whatever its track table says, and a
// disk holds only the table of the units its sectors set: a file of many
// disks, or of one track table naming one offset 164 times, costs time and
// memory in proportion to the file.
#include "disk/container.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kz {

namespace {

constexpr std::int64_t old_header_size = 0x2A0;
constexpr std::int64_t header_size = 0x2B0;
constexpr std::int64_t media_field = 0x1B;
constexpr std::int64_t size_field = 0x1C;
constexpr std::int64_t track_table = 0x20;
constexpr int old_track_entries = 160;
constexpr int track_entries = 164;
constexpr std::uint8_t media_2hd = 0x20;
constexpr std::int64_t sector_header_size = 16;

struct disk_header {
    std::int64_t start = 0;
    std::int64_t size = 0;        // as the header gives it
    std::int64_t header_end = 0;  // 0x2A0 or 0x2B0
    std::uint8_t media = 0;
};

// Whether a D88 disk header begins at start: a known media byte, a size
// that at least covers the header, and a track table whose smallest entry
// is where the header ends and whose other entries lie beyond it.
bool read_disk_header(std::span<const std::uint8_t> file, std::int64_t start, disk_header* disk) {
    if (!file_holds(file, start, old_header_size)) {
        return false;
    }
    const std::uint8_t media = file[static_cast<std::size_t>(start + media_field)];
    if (media != 0x00 && media != 0x10 && media != 0x20 && media != 0x30 && media != 0x40) {
        return false;
    }
    const std::int64_t size = file_le32(file, start + size_field);
    std::int64_t first = 0;
    for (int t = 0; t < old_track_entries; ++t) {
        const std::int64_t offset = file_le32(file, start + track_table + 4 * t);
        if (offset != 0 && (first == 0 || offset < first)) {
            first = offset;
        }
    }
    std::int64_t end = 0;
    if (first == old_header_size || first == header_size) {
        end = first;
    } else if (first == 0 && (size == old_header_size || size == header_size)) {
        end = size; // a disk without tracks
    } else {
        return false;
    }
    if (size < end || (end == header_size && !file_holds(file, start, header_size))) {
        return false;
    }
    for (int t = old_track_entries; end == header_size && t < track_entries; ++t) {
        const std::int64_t offset = file_le32(file, start + track_table + 4 * t);
        if (offset != 0 && offset < header_size) {
            return false;
        }
    }
    *disk = {start, size, end, media};
    return true;
}

// Status byte of a sector: good, deleted data (good too), or marked as read
// with errors.
sector_state sector_status(std::uint8_t status) {
    switch (status) {
    case 0x00:
    case 0x10:
        return sector_state::stored;
    case 0xE0:
    case 0xF0:
        return sector_state::no_data;
    default:
        return sector_state::crc_error;
    }
}

// One disk's table, kept from disk to disk: each disk clears only the units
// it set, so that a file of many small disks costs no more than its bytes.
struct disk_walk {
    disk_layout layout = empty_layout();
    std::vector<std::int64_t> touched; // units that this disk set, each once

    void clear() {
        for (const std::int64_t unit : touched) {
            layout.units[static_cast<std::size_t>(unit)] = sector_place{};
        }
        touched.clear();
        layout.records.clear();
    }
};

// One disk's tracks and sectors, inside [start, start + size clipped to the
// file). Tracks that share an offset share their run of sectors, which is
// walked once, each sector taken for the track its ID names if that is one
// of them. False for a disk of another kind.
bool read_disk(std::span<const std::uint8_t> file, const disk_header& header, disk_walk* walk) {
    const std::int64_t end =
        std::min<std::int64_t>(header.start + header.size, static_cast<std::int64_t>(file.size()));
    const int entries = header.header_end == header_size ? track_entries : old_track_entries;
    walk->layout.records.emplace_back(header.start, header.start + header.header_end);

    struct track_start {
        std::int64_t offset;
        int track;
    };
    std::array<track_start, track_entries> starts{};
    std::size_t count = 0;
    for (int t = 0; t < entries; ++t) {
        const std::int64_t offset = file_le32(file, header.start + track_table + 4 * t);
        if (offset != 0 && offset < header.size && header.start + offset < end) {
            starts[count++] = {header.start + offset, t};
        }
    }
    std::sort(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(count),
              [](const track_start& a, const track_start& b) { return a.offset < b.offset; });
    std::array<bool, track_entries> in_run{};
    bool same_kind = true;
    for (std::size_t i = 0; i < count;) {
        std::size_t next = i;
        for (; next < count && starts[next].offset == starts[i].offset; ++next) {
            in_run[static_cast<std::size_t>(starts[next].track)] = true;
        }
        const std::int64_t run_end = next < count ? starts[next].offset : end;
        for (std::int64_t at = starts[i].offset; at + sector_header_size <= run_end;) {
            const std::uint8_t* h = file.data() + at;
            const std::int64_t length = file_le16(file, at + 0x0E);
            if (at + sector_header_size + length > run_end) {
                break; // runs past its track: no sector
            }
            const sector_id id{h[0], h[1], h[2], h[3]};
            const int track = id.cylinder * disk_heads + id.head;
            if (id.head < disk_heads && track < track_entries && in_run[static_cast<std::size_t>(track)]) {
                sector_place place;
                place.state = length < disk_unit_size ? sector_state::no_data : sector_status(h[8]);
                if (place.state == sector_state::stored) {
                    place.offset = at + sector_header_size;
                }
                const std::int64_t unit = sector_unit(track, id);
                if (unit >= 0 && id.size_code == 3 &&
                    walk->layout.units[static_cast<std::size_t>(unit)].state == sector_state::missing) {
                    walk->touched.push_back(unit);
                }
                same_kind = add_sector(&walk->layout, track, id, place) && same_kind;
            }
            at += sector_header_size + length;
        }
        for (; i < next; ++i) {
            in_run[static_cast<std::size_t>(starts[i].track)] = false;
        }
    }
    return same_kind;
}

} // namespace

container_result read_d88_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    disk_header header;
    if (!read_disk_header(file, 0, &header)) {
        return container_result::not_this;
    }
    // The disks one after another, as long as another header follows; a
    // disk of another kind has no place among the candidates.
    disk_walk walk;
    bool handed = false;
    for (std::int64_t start = 0;;) {
        if (header.media == media_2hd) {
            const bool same_kind = read_disk(file, header, &walk);
            if (same_kind) {
                handed = true;
                if (!receiver.receive(receiver.context, walk.layout)) {
                    break;
                }
            }
            walk.clear();
        }
        start += header.size;
        if (start >= static_cast<std::int64_t>(file.size()) || !read_disk_header(file, start, &header)) {
            break;
        }
    }
    return handed ? container_result::found : container_result::other_disk;
}

} // namespace kz

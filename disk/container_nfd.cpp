// NFD images (T98-Next). Both revisions begin with a mark, a comment, the
// header size (where sector data begins), a write-protect flag and the
// number of heads.
//
// Revision 0 follows with a table of 163 tracks x 26 sector IDs (C, H, R,
// N, MFM flag, deleted mark, status, ST0, ST1, ST2, PDA; C = 0xFF for an
// unused entry); the sectors' data follows the header in table order.
//
// Revision 1 follows with the file offsets of 164 track maps (0: no
// track). A map counts its sectors and its special-read entries, then lists
// one 16-byte ID per sector and one 16-byte entry per special read (a
// command, the sector's C, H, R, N, the controller's status, a retry count
// and a data length). Track by track, the data holds each sector's bytes
// once, then each special read's (retry count + 1) x length bytes. A sector
// with special-read data has more than one stored form, which a change to
// its plain bytes would leave disagreeing: it is locked.
#include "disk/container.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kz {

namespace {

constexpr std::int64_t header_size_field = 0x110;
constexpr std::int64_t id_table = 0x120;
constexpr int r0_tracks = 163;
constexpr int r0_entries = 26;
constexpr std::int64_t entry_size = 16;
constexpr int r1_tracks = 164;
constexpr std::int64_t r1_header_end = 0x3C0;
constexpr std::int64_t map_summary = 16;
constexpr std::uint8_t unused_entry = 0xFF;
constexpr int largest_size_code = 7;

// The mark fills the first 16 bytes with NULs after it: a D88 disk name,
// free text in the same place, may begin with the same letters.
bool has_mark(std::span<const std::uint8_t> file, const char* mark) {
    constexpr std::size_t mark_field = 16;
    const std::size_t length = std::strlen(mark);
    return file.size() >= mark_field && std::memcmp(file.data(), mark, length) == 0 &&
           std::all_of(file.begin() + static_cast<std::ptrdiff_t>(length), file.begin() + mark_field,
                       [](std::uint8_t b) { return b == 0; });
}

// ST1 and ST2 as the controller left them: a data error (CRC) in bit 5 of
// either, no data or a missing address mark in the low bits.
sector_state controller_status(std::uint8_t st1, std::uint8_t st2) {
    if ((st1 & 0x20) != 0 || (st2 & 0x20) != 0) {
        return sector_state::crc_error;
    }
    if ((st1 & 0x05) != 0 || (st2 & 0x01) != 0) {
        return sector_state::no_data;
    }
    return sector_state::stored;
}

// A sector's data at data, if the file holds it.
sector_place data_place(std::span<const std::uint8_t> file, std::int64_t data, std::uint8_t st1,
                        std::uint8_t st2) {
    sector_place place;
    if (!file_holds(file, data, disk_unit_size)) {
        return place; // missing
    }
    place.state = controller_status(st1, st2);
    if (place.state == sector_state::stored) {
        place.offset = data;
    }
    return place;
}

// The header size field, where the file holds the header's fixed part (up
// to fixed_end) and the header as long as the field says; else -1.
std::int64_t header_size_of(std::span<const std::uint8_t> file, std::int64_t fixed_end) {
    if (!file_holds(file, 0, fixed_end)) {
        return -1;
    }
    const std::int64_t size = file_le32(file, header_size_field);
    return size >= fixed_end && file_holds(file, 0, size) ? size : -1;
}

// A sector ID of either revision (C, H, R, N, ..., ST1 and ST2 at 8 and 9),
// its data at *data, which it moves past the sector's 128 << N bytes; false
// for a size code that no disk has. same_kind turns false for a sector of
// this disk's tracks of another size.
bool take_sector(std::span<const std::uint8_t> file, int track, const std::uint8_t* id,
                 disk_layout* layout, std::int64_t* data, bool* same_kind) {
    if (id[3] > largest_size_code) {
        return false;
    }
    *same_kind = add_sector(layout, track, {id[0], id[1], id[2], id[3]},
                            data_place(file, *data, id[8], id[9])) &&
                 *same_kind;
    *data = advance_within(file, *data, std::uint64_t{128} << id[3]);
    return true;
}

container_result read_revision_0(std::span<const std::uint8_t> file, disk_layout* layout) {
    const std::int64_t table_end = id_table + r0_tracks * r0_entries * entry_size;
    const std::int64_t header_size = header_size_of(file, table_end);
    if (header_size < 0) {
        return container_result::broken;
    }
    layout->records.emplace_back(0, header_size);
    bool same_kind = true;
    std::int64_t data = header_size;
    for (int t = 0; t < r0_tracks; ++t) {
        for (int e = 0; e < r0_entries; ++e) {
            const std::uint8_t* id = file.data() + id_table + (t * r0_entries + e) * entry_size;
            if (id[0] == unused_entry) {
                continue;
            }
            if (!take_sector(file, t, id, layout, &data, &same_kind)) {
                return container_result::broken;
            }
        }
    }
    return same_kind ? container_result::found : container_result::other_disk;
}

container_result read_revision_1(std::span<const std::uint8_t> file, disk_layout* layout) {
    const std::int64_t header_size = header_size_of(file, r1_header_end);
    if (header_size < 0) {
        return container_result::broken;
    }
    layout->records.emplace_back(0, r1_header_end);
    bool same_kind = true;
    std::int64_t data = header_size;
    for (int t = 0; t < r1_tracks; ++t) {
        const std::int64_t map = file_le32(file, id_table + 4 * t);
        if (map == 0) {
            continue;
        }
        // A map outside the file leaves this track's data, and so every
        // later track's, where nothing can say: those tracks are missing.
        // So does a map that shares bytes with an earlier track's: each
        // track's data follows the last's, and two tracks cannot be read
        // from one map (nor one map walked 164 times).
        if (!file_holds(file, map, map_summary)) {
            break;
        }
        const std::int64_t sectors = file_le16(file, map);
        const std::int64_t specials = file_le16(file, map + 2);
        const std::int64_t map_end = map + map_summary + (sectors + specials) * entry_size;
        if (!file_holds(file, map, map_end - map) ||
            std::any_of(layout->records.begin() + 1, layout->records.end(),
                        [&](const auto& other) { return map < other.second && other.first < map_end; })) {
            break;
        }
        layout->records.emplace_back(map, map_end);
        const std::int64_t first_unit = std::int64_t{t} * track_sectors;
        for (std::int64_t s = 0; s < sectors; ++s) {
            const std::uint8_t* id = file.data() + map + map_summary + s * entry_size;
            if (!take_sector(file, t, id, layout, &data, &same_kind)) {
                return container_result::broken;
            }
        }
        for (std::int64_t s = 0; s < specials; ++s) {
            const std::int64_t entry = map + map_summary + (sectors + s) * entry_size;
            const std::uint8_t* special = file.data() + entry;
            const int record = special[3];
            if (special[1] == t / disk_heads && special[2] == t % disk_heads && record >= 1 &&
                record <= track_sectors && first_unit + record - 1 < disk_units) {
                sector_place& place =
                    layout->units[static_cast<std::size_t>(first_unit + record - 1)];
                place.lock = sector_lock::special_read;
            }
            // At most 256 reads of 2^32 - 1 bytes: the product fits in 64 bits.
            data = advance_within(file, data, (std::uint64_t{special[9]} + 1) * file_le32(file, entry + 10));
        }
    }
    return same_kind ? container_result::found : container_result::other_disk;
}

} // namespace

container_result read_nfd_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    const bool revision_0 = has_mark(file, "T98FDDIMAGE.R0");
    if (!revision_0 && !has_mark(file, "T98FDDIMAGE.R1")) {
        return container_result::not_this;
    }
    disk_layout layout = empty_layout();
    const container_result result =
        revision_0 ? read_revision_0(file, &layout) : read_revision_1(file, &layout);
    if (result == container_result::found) {
        mark_overlaps(&layout);
        receiver.receive(receiver.context, layout);
    }
    return result;
}

} // namespace kz

// FDD images (Virtual98): a mark ("VFD1.00" or "VFD1.01"), a comment, a
// write-protect flag, then a table of 160 tracks x 26 entries of 12 bytes:
// C (0xFF: unused), H, R, N, a fill byte, the deleted mark, the MFM and HD
// flags and the 32-bit offset of the sector's data. Data lies anywhere after
// the table, in any order; an offset of 0xFFFFFFFF stores no data, and the
// sector reads as its fill byte. Such a sector that must change is stored
// at the end of the file and its entry pointed there.
#include "disk/container.h"

#include <cstdint>
#include <cstring>

namespace kz {

namespace {

constexpr std::int64_t table = 0xDC;
constexpr int tracks = 160;
constexpr int entries = 26;
constexpr std::int64_t entry_size = 12;
constexpr std::int64_t table_end = table + std::int64_t{tracks} * entries * entry_size;
constexpr std::uint8_t unused_entry = 0xFF;
constexpr std::uint32_t not_stored = 0xFFFFFFFF;

} // namespace

container_result read_fdd_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    // The whole mark, its NUL included: a D88 disk name, free text in the
    // same place, may begin with the same letters.
    if (file.size() < 8 || (std::memcmp(file.data(), "VFD1.00", 8) != 0 &&
                            std::memcmp(file.data(), "VFD1.01", 8) != 0)) {
        return container_result::not_this;
    }
    if (!file_holds(file, 0, table_end)) {
        return container_result::broken;
    }
    disk_layout layout = empty_layout();
    layout.records.emplace_back(0, table_end);
    bool same_kind = true;
    for (int t = 0; t < tracks; ++t) {
        for (int e = 0; e < entries; ++e) {
            const std::int64_t at = table + (std::int64_t{t} * entries + e) * entry_size;
            const std::uint8_t* entry = file.data() + at;
            if (entry[0] == unused_entry) {
                continue;
            }
            const std::uint32_t offset = file_le32(file, at + 8);
            sector_place place;
            if (offset == not_stored) {
                place.state = sector_state::filled;
                place.fill = entry[4];
                place.pointer = at + 8;
            } else if (file_holds(file, offset, disk_unit_size)) {
                place.state = sector_state::stored;
                place.offset = offset;
            }
            same_kind = add_sector(&layout, t, {entry[0], entry[1], entry[2], entry[3]}, place) &&
                        same_kind;
        }
    }
    if (!same_kind) {
        return container_result::other_disk;
    }
    mark_overlaps(&layout);
    receiver.receive(receiver.context, layout);
    return container_result::found;
}

} // namespace kz

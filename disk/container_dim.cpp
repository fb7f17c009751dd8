// DIM images (X68000, DIFC): a 256-byte header (disk type, a present flag
// for each of 170 tracks, the mark "DIFC HEADER  ", date, time, comment,
// overtrack flag), then the tracks' data in track order, 8 x 1024 bytes each
// for type 0, the 2HD disk. A file that leaves out the tracks that are not
// present holds the others back to back; a track that is not present then
// reads as empty, and its sectors cannot be changed in the file, as storing
// them would move every later track. A file with room for every track holds
// each at its own place, whatever its flag says (floptool reads such files
// so too).
#include "disk/container.h"

#include <cstdint>
#include <cstring>

namespace kz {

namespace {

constexpr std::int64_t header_size = 256;
constexpr std::int64_t flags = 1;
constexpr int flag_count = 170;
constexpr std::int64_t mark_at = 0xAB;
constexpr char mark[] = "DIFC HEADER  ";
constexpr std::uint8_t type_2hd = 0;
constexpr std::int64_t track_size = std::int64_t{track_sectors} * disk_unit_size;

} // namespace

container_result read_dim_container(std::span<const std::uint8_t> file, const char* path,
                                    std::vector<disk_layout>* disks) {
    if (!file_holds(file, 0, header_size) ||
        std::memcmp(file.data() + mark_at, mark, sizeof mark - 1) != 0) {
        return container_result::not_this;
    }
    for (int t = 0; t < flag_count; ++t) {
        if (file[static_cast<std::size_t>(flags + t)] > 1) {
            return refuse_broken_header(path);
        }
    }
    if (file[0] != type_2hd) {
        return refuse_other_disk(path);
    }
    disk_layout layout = empty_layout();
    const bool every_track_held =
        file_holds(file, header_size, std::int64_t{disk_tracks} * track_size);
    std::int64_t data = header_size;
    for (int t = 0; t < disk_tracks; ++t) {
        const bool present = every_track_held || file[static_cast<std::size_t>(flags + t)] == 1;
        for (int r = 1; r <= track_sectors; ++r) {
            sector_place place;
            if (!present) {
                place.state = sector_state::filled;
                place.lock = sector_lock::absent_track;
            } else if (file_holds(file, data + (r - 1) * disk_unit_size, disk_unit_size)) {
                place.state = sector_state::stored;
                place.offset = data + (r - 1) * disk_unit_size;
            }
            add_sector(&layout, t, {t / disk_heads, t % disk_heads, r, 3}, place);
        }
        if (present) {
            data += track_size;
        }
    }
    disks->push_back(std::move(layout));
    return container_result::found;
}

} // namespace kz

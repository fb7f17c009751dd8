// DIM images (X68000, DIFC): a 256-byte header (disk type, a present flag
// for each of 170 tracks, the mark "DIFC HEADER  ", date, time, comment,
// overtrack flag), then the tracks' data in track order, 8 x 1024 bytes each
// for type 0, the 2HD disk, laid out by the flags as flagged_track_layout
// says (a file with room for every track holds each at its own place,
// whatever its flag says, as floptool reads such files too).
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

} // namespace

container_result read_dim_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    if (!file_holds(file, 0, header_size) ||
        std::memcmp(file.data() + mark_at, mark, sizeof mark - 1) != 0) {
        return container_result::not_this;
    }
    for (int t = 0; t < flag_count; ++t) {
        if (file[static_cast<std::size_t>(flags + t)] > 1) {
            return container_result::broken;
        }
    }
    if (file[0] != type_2hd) {
        return container_result::other_disk;
    }
    receiver.receive(receiver.context, flagged_track_layout(file, header_size, flags));
    return container_result::found;
}

} // namespace kz

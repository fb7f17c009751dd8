// DCP and DCU images: a 162-byte header (a media byte, 0x01 for the 2HD disk
// of 8 x 1024-byte sectors; a present flag for each of 160 tracks; a flag
// saying that every track is stored), then the tracks' data in track order.
// The format has no mark: only a header of flags that are all 0 or 1, with a
// file exactly as long as the tracks it promises, counts as one. A file that
// stores every track holds each at its own place; one that leaves tracks out
// holds the others back to back, and a left-out track reads as empty and
// cannot be changed in the file.
#include "disk/container.h"

#include <cstdint>

namespace kz {

namespace {

constexpr std::int64_t header_size = 162;
constexpr std::int64_t flags = 1;
constexpr int flag_count = 160;
constexpr std::int64_t all_tracks_flag = 161;
constexpr std::uint8_t media_2hd = 0x01;
constexpr std::int64_t track_size = std::int64_t{track_sectors} * disk_unit_size;

} // namespace

container_result read_dcp_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    if (!file_holds(file, 0, header_size) || file[0] != media_2hd || file[all_tracks_flag] > 1) {
        return container_result::not_this;
    }
    std::int64_t present = 0;
    for (int t = 0; t < flag_count; ++t) {
        const std::uint8_t flag = file[static_cast<std::size_t>(flags + t)];
        if (flag > 1 || (flag == 1 && t >= disk_tracks)) {
            return container_result::not_this;
        }
        present += flag;
    }
    const auto length = static_cast<std::int64_t>(file.size());
    const bool every_track_held = length == header_size + disk_tracks * track_size;
    if (!every_track_held && length != header_size + present * track_size) {
        return container_result::not_this;
    }
    receiver.receive(receiver.context, flagged_track_layout(file, header_size, flags));
    return container_result::found;
}

} // namespace kz

// Raw images (XDF, HDM, .2hd, .dup): the disk's units one after another, in
// track order, with nothing around them. The same layout serves a file that
// no container claims, read at the pair's fixed offset.
#include "disk/container.h"

#include <cstdint>

namespace kz {

container_result read_raw_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    if (static_cast<std::int64_t>(file.size()) != raw_disk_length) {
        return container_result::not_this;
    }
    receiver.receive(receiver.context, linear_layout(raw_disk_length, 0));
    return container_result::found;
}

disk_layout linear_layout(std::int64_t file_length, std::int64_t offset) {
    disk_layout layout;
    const std::int64_t count = file_length > offset ? (file_length - offset) / disk_unit_size : 0;
    layout.units.resize(static_cast<std::size_t>(count));
    for (std::int64_t u = 0; u < count; ++u) {
        sector_place& place = layout.units[static_cast<std::size_t>(u)];
        place.state = sector_state::stored;
        place.offset = offset + u * disk_unit_size;
    }
    return layout;
}

} // namespace kz

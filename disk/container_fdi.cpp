// FDI images: a header of eight 32-bit fields (reserved, media type, header
// size, data size, sector size, sectors per track, heads, cylinders) padded
// to its size, then the raw disk. Only a header whose fields hold together
// counts as one: many FDI files carry other bytes there, and those are read
// at the pair's fixed offset as always.
#include "disk/container.h"

#include <cstdint>

namespace kz {

namespace {

constexpr std::int64_t fields_length = 32;
constexpr std::uint32_t media_2hd = 0x90;

} // namespace

container_result read_fdi_container(std::span<const std::uint8_t> file, disk_receiver receiver) {
    if (!file_holds(file, 0, fields_length) || file_le32(file, 0) != 0) {
        return container_result::not_this;
    }
    const std::uint32_t media = file_le32(file, 4);
    const std::int64_t header_size = file_le32(file, 8);
    const std::int64_t data_size = file_le32(file, 12);
    const std::int64_t sector_size = file_le32(file, 16);
    const std::int64_t sectors = file_le32(file, 20);
    const std::int64_t heads = file_le32(file, 24);
    const std::int64_t cylinders = file_le32(file, 28);
    const bool sector_size_known = sector_size == 128 || sector_size == 256 ||
                                   sector_size == 512 || sector_size == 1024;
    const bool holds_together = header_size >= fields_length && sector_size_known &&
                                sectors >= 1 && sectors <= 64 && heads >= 1 && heads <= 2 &&
                                cylinders >= 1 && cylinders <= 96 &&
                                data_size == sector_size * sectors * heads * cylinders &&
                                header_size + data_size == static_cast<std::int64_t>(file.size());
    if (!holds_together) {
        return container_result::not_this;
    }
    if (media != media_2hd || sector_size != disk_unit_size ||
        sectors != track_sectors || heads != disk_heads || cylinders != disk_cylinders) {
        return container_result::other_disk;
    }
    disk_layout layout = linear_layout(static_cast<std::int64_t>(file.size()), header_size);
    layout.records.emplace_back(0, header_size);
    receiver.receive(receiver.context, layout);
    return container_result::found;
}

} // namespace kz

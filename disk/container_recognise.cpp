// Telling containers apart by what the file holds, and what every container
// module shares: the sector table it fills and the checks on it.
#include "disk/container.h"

#include "byte_order/byte_order.h"
#include "terminal/terminal.h"

#include <algorithm>
#include <cstdint>

namespace kz {

bool file_holds(std::span<const std::uint8_t> file, std::int64_t at, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(file.size());
    return at >= 0 && length >= 0 && at <= size && length <= size - at;
}

std::uint32_t file_le16(std::span<const std::uint8_t> file, std::int64_t at) {
    return get_le16(file.data() + at);
}

std::uint32_t file_le32(std::span<const std::uint8_t> file, std::int64_t at) {
    return get_le32(file.data() + at);
}

container_result refuse_other_disk(const char* path) {
    print_message("not a 2HD disk of 1024-byte sectors '%s'\n", path);
    return container_result::refused;
}

container_result refuse_broken_header(const char* path) {
    print_message("broken disk image header '%s'\n", path);
    return container_result::refused;
}

disk_layout empty_layout() {
    disk_layout layout;
    layout.units.resize(static_cast<std::size_t>(disk_units));
    return layout;
}

disk_layout flagged_track_layout(std::span<const std::uint8_t> file, std::int64_t header_size,
                                 std::int64_t flags_at) {
    constexpr std::int64_t track_size = std::int64_t{track_sectors} * disk_unit_size;
    disk_layout layout = empty_layout();
    const bool every_track_held = file_holds(file, header_size, disk_tracks * track_size);
    std::int64_t data = header_size;
    for (int t = 0; t < disk_tracks; ++t) {
        const bool present = every_track_held || file[static_cast<std::size_t>(flags_at + t)] == 1;
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
    return layout;
}

sector_id unit_id(std::int64_t unit) {
    const std::int64_t track = unit / track_sectors;
    return {static_cast<int>(track / disk_heads), static_cast<int>(track % disk_heads),
            static_cast<int>(unit % track_sectors + 1), 3};
}

bool add_sector(disk_layout* layout, int track, sector_id id, sector_place place) {
    if (track < 0 || track >= disk_tracks || id.cylinder != track / disk_heads ||
        id.head != track % disk_heads || id.record < 1 || id.record > track_sectors) {
        return true;
    }
    if (id.size_code != 3) {
        return false;
    }
    sector_place& unit = layout->units[static_cast<std::size_t>(track * track_sectors + id.record - 1)];
    if (unit.state != sector_state::missing) {
        unit = sector_place{};
        unit.state = sector_state::duplicated;
        return true;
    }
    unit = place;
    return true;
}

// Sorting the stored units and the records by where they begin, each one
// is compared with the furthest end seen so far.
void mark_overlaps(disk_layout* layout) {
    struct extent {
        std::int64_t begin;
        std::int64_t end;
        std::int64_t unit; // -1 for a record
    };
    std::vector<extent> extents;
    extents.reserve(layout->units.size() + layout->records.size());
    for (std::size_t u = 0; u < layout->units.size(); ++u) {
        const sector_place& place = layout->units[u];
        if (place.state == sector_state::stored) {
            extents.push_back({place.offset, place.offset + disk_unit_size, static_cast<std::int64_t>(u)});
        }
    }
    for (const auto& [begin, end] : layout->records) {
        if (end > begin) {
            extents.push_back({begin, end, -1});
        }
    }
    std::sort(extents.begin(), extents.end(),
              [](const extent& a, const extent& b) { return a.begin < b.begin; });
    auto mark = [&](std::int64_t unit) {
        if (unit >= 0) {
            sector_place& place = layout->units[static_cast<std::size_t>(unit)];
            place = sector_place{};
            place.state = sector_state::overlapping;
        }
    };
    std::int64_t furthest_end = -1;
    std::size_t furthest = 0;
    for (std::size_t i = 0; i < extents.size(); ++i) {
        if (i > 0 && extents[i].begin < furthest_end) {
            mark(extents[i].unit);
            mark(extents[furthest].unit);
        }
        if (extents[i].end > furthest_end) {
            furthest_end = extents[i].end;
            furthest = i;
        }
    }
}

container_result recognise_container(std::span<const std::uint8_t> file, const char* path,
                                     disk_container* container, std::vector<disk_layout>* disks) {
    disks->clear();
    const struct {
        disk_container kind;
        container_result (*read)(std::span<const std::uint8_t>, const char*,
                                 std::vector<disk_layout>*);
    } marked[] = {{disk_container::nfd, read_nfd_container},
                  {disk_container::fdd, read_fdd_container},
                  {disk_container::dim, read_dim_container},
                  {disk_container::d88, read_d88_container},
                  {disk_container::dcp, read_dcp_container},
                  {disk_container::fdi, read_fdi_container}};
    for (const auto& candidate : marked) {
        const container_result result = candidate.read(file, path, disks);
        if (result != container_result::not_this) {
            *container = candidate.kind;
            return result;
        }
    }
    if (static_cast<std::int64_t>(file.size()) == raw_disk_length) {
        *container = disk_container::raw;
        disks->push_back(linear_layout(raw_disk_length, 0));
        return container_result::found;
    }
    return container_result::not_this;
}

} // namespace kz

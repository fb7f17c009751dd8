// Telling containers apart by what the file holds, and what every container
// module shares: the sector table it fills and the checks on it.
#include "disk/container.h"

#include "byte_order/byte_order.h"
#include "terminal/terminal.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kz {

bool file_holds(std::span<const std::uint8_t> file, std::int64_t at, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(file.size());
    return at >= 0 && length >= 0 && at <= size && length <= size - at;
}

std::int64_t advance_within(std::span<const std::uint8_t> file, std::int64_t at, std::uint64_t length) {
    const auto size = static_cast<std::uint64_t>(file.size());
    if (at < 0 || static_cast<std::uint64_t>(at) > size || length > size - static_cast<std::uint64_t>(at)) {
        return static_cast<std::int64_t>(size) + 1;
    }
    return at + static_cast<std::int64_t>(length);
}

std::uint32_t file_le16(std::span<const std::uint8_t> file, std::int64_t at) {
    return get_le16(file.data() + at);
}

std::uint32_t file_le32(std::span<const std::uint8_t> file, std::int64_t at) {
    return get_le32(file.data() + at);
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
    layout.records.emplace_back(0, header_size);
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
            data = advance_within(file, data, track_size);
        }
    }
    return layout;
}

sector_id unit_id(std::int64_t unit) {
    const std::int64_t track = unit / track_sectors;
    return {static_cast<int>(track / disk_heads), static_cast<int>(track % disk_heads),
            static_cast<int>(unit % track_sectors + 1), 3};
}

std::int64_t sector_unit(int track, sector_id id) {
    if (track < 0 || track >= disk_tracks || id.cylinder != track / disk_heads ||
        id.head != track % disk_heads || id.record < 1 || id.record > track_sectors) {
        return -1;
    }
    return std::int64_t{track} * track_sectors + id.record - 1;
}

bool add_sector(disk_layout* layout, int track, sector_id id, sector_place place) {
    const std::int64_t at = sector_unit(track, id);
    if (at < 0) {
        return true;
    }
    if (id.size_code != 3) {
        return false;
    }
    sector_place& unit = layout->units[static_cast<std::size_t>(at)];
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

namespace {

// The names each container goes by. Each pair's usage line lists the
// ranked ones: its default image's first, then the rest of its own
// machine's, then the other machine's, each part by rank.
constexpr image_pattern nfd_patterns[] = {{"*.nfd", pc98_machine, 6}};
constexpr image_pattern fdd_patterns[] = {{"*.fdd", pc98_machine, 7}};
constexpr image_pattern dim_patterns[] = {{"*.dim", x68k_machine, 1}};
constexpr image_pattern d88_patterns[] = {{"*.d88", pc98_machine | x68k_machine, 5},
                                          {"*.88d"}, {"*.d98"}, {"*.98d"}, {"*.d77"}, {"*.d68"}};
constexpr image_pattern dcp_patterns[] = {{"*.dcp", pc98_machine, 8}, {"*.dcu"}};
constexpr image_pattern fdi_patterns[] = {{"*.fdi", pc98_machine, 4}};
constexpr image_pattern raw_patterns[] = {{"*.hdm", pc98_machine, 3},
                                          {"*.xdf", x68k_machine, 2}, {"*.2hd"}, {"*.dup"}};

// D88 comes first: its header is taken field by field against the file and
// its disk name is free text, which may begin with another container's mark.
constexpr container_format formats[] = {
    {"D88", read_d88_container, d88_patterns}, {"NFD", read_nfd_container, nfd_patterns},
    {"FDD", read_fdd_container, fdd_patterns}, {"DIM", read_dim_container, dim_patterns},
    {"DCP", read_dcp_container, dcp_patterns}, {"FDI", read_fdi_container, fdi_patterns},
    {"raw", read_raw_container, raw_patterns},
};

} // namespace

const std::span<const container_format> container_formats = formats;

container_result recognise_container(std::span<const std::uint8_t> file, const char* path,
                                     const container_format** format, disk_receiver receiver) {
    *format = nullptr;
    const container_format* broken = nullptr;
    for (const container_format& row : container_formats) {
        const container_result result = row.read(file, receiver);
        if (result == container_result::broken) {
            broken = broken != nullptr ? broken : &row;
            continue;
        }
        if (result != container_result::not_this) {
            *format = &row;
            if (result == container_result::other_disk && path != nullptr) {
                print_message("not a 2HD disk of 1024-byte sectors '%s'\n", path);
            }
            return result;
        }
    }
    if (broken != nullptr) {
        *format = broken;
        if (path != nullptr) {
            print_message("broken disk image header '%s'\n", path);
        }
        return container_result::broken;
    }
    return container_result::not_this;
}

bool pattern_matches(const image_pattern& pattern, const char* name) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    // Every pattern is "*." and an extension.
    const std::size_t suffix = std::strlen(pattern.glob) - 1;
    const std::size_t length = std::strlen(name);
    if (length < suffix) {
        return false;
    }
    for (std::size_t i = 0; i < suffix; ++i) {
        const auto want = static_cast<unsigned char>(pattern.glob[1 + i]);
        const auto have = static_cast<unsigned char>(name[length - suffix + i]);
        if (lower(want) != lower(have)) {
            return false;
        }
    }
    return true;
}

const char* image_format_list(const char* default_image) {
    static std::array<char, 256> list{};
    const image_pattern* own_default = nullptr;
    int highest_rank = 0;
    for (const container_format& row : container_formats) {
        for (const image_pattern& pattern : row.patterns) {
            if (pattern.usage_rank != 0 && own_default == nullptr &&
                pattern_matches(pattern, default_image)) {
                own_default = &pattern;
            }
            highest_rank = std::max<int>(highest_rank, pattern.usage_rank);
        }
    }
    const std::uint8_t own = own_default != nullptr ? own_default->machines : 0;
    // Part 0 is the default's pattern, 1 the rest of the pair's machine, 2 the others.
    auto part_of = [&](const image_pattern& pattern) {
        return &pattern == own_default ? 0 : (pattern.machines & own) != 0 ? 1 : 2;
    };
    std::size_t used = 0;
    list[0] = '\0';
    for (int part = 0; part < 3; ++part) {
        for (int rank = 1; rank <= highest_rank; ++rank) {
            for (const container_format& row : container_formats) {
                for (const image_pattern& pattern : row.patterns) {
                    if (pattern.usage_rank != rank || part_of(pattern) != part) {
                        continue;
                    }
                    const int written = std::snprintf(list.data() + used, list.size() - used,
                                                      "%s%s", used == 0 ? "" : " ", pattern.glob);
                    if (written > 0 && static_cast<std::size_t>(written) < list.size() - used) {
                        used += static_cast<std::size_t>(written);
                    }
                }
            }
        }
    }
    return list.data();
}

} // namespace kz

// Container files written in memory from the formats' published layouts,
// around a test disk whose every unit holds bytes no other unit has, and a
// table runner that hands them to recognition and checks what comes back:
// the row that claims the file, the result, the message and every unit.
#pragma once

#include "disk/container.h"

#include "io/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace kz::test {

constexpr int track_bytes = track_sectors * disk_unit_size;

inline void put_le(bytes& out, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint64_t get_le(const bytes& in, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | in.at(at + static_cast<std::size_t>(i));
    }
    return value;
}

inline void append_le(bytes& out, std::uint64_t value, int width) {
    out.resize(out.size() + static_cast<std::size_t>(width));
    put_le(out, out.size() - static_cast<std::size_t>(width), value, width);
}

inline void append(bytes& out, const bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

// Unit u of the test disk: its number, then bytes of its own.
inline bytes unit_bytes(int unit) {
    bytes data(disk_unit_size);
    std::mt19937 next(static_cast<std::uint32_t>(unit) * 2654435761u + 1);
    std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(next()); });
    put_le(data, 0, static_cast<std::uint32_t>(unit), 2);
    return data;
}

inline bytes make_test_disk() {
    bytes disk;
    for (int u = 0; u < disk_units; ++u) {
        append(disk, unit_bytes(u));
    }
    return disk;
}

// The whole disk, made once.
inline const bytes& test_disk() {
    static const bytes disk = make_test_disk();
    return disk;
}

inline bytes disk_unit(const bytes& disk, int unit) {
    const auto at = disk.begin() + static_cast<std::ptrdiff_t>(unit) * disk_unit_size;
    return bytes(at, at + disk_unit_size);
}

// The file with edit applied.
inline bytes edited(bytes file, const std::function<void(bytes&)>& edit) {
    edit(file);
    return file;
}

inline int disk_track_count(const bytes& disk) {
    return static_cast<int>(disk.size() / track_bytes);
}

// --- D88: per disk a header, then tracks of sectors, each behind its own
// 16-byte sector header.

struct d88_sector {
    int c = 0, h = 0, r = 0, n = 3;
    std::uint8_t status = 0;
    bytes data;
};
using d88_tracks = std::map<int, std::vector<d88_sector>>;

// Every track of the disk, its sectors in the order given (records 1-8 by
// default).
inline d88_tracks d88_tracks_of(const bytes& disk, std::vector<int> order = {1, 2, 3, 4, 5, 6, 7, 8}) {
    d88_tracks tracks;
    for (int t = 0; t < disk_track_count(disk); ++t) {
        for (int r : order) {
            tracks[t].push_back({t / 2, t % 2, r, 3, 0, disk_unit(disk, t * 8 + r - 1)});
        }
    }
    return tracks;
}

struct d88_options {
    bool old_header = false;
    std::uint8_t media = 0x20;
    bool big_endian_counts = false;
    bool tracks_backwards = false;
    std::map<int, std::uint32_t> offsets; // entries of the track table set afterwards
    std::optional<std::uint32_t> size;    // the disk size field, if not the disk's
    std::string name = "VARNHOLM";
};

inline bytes d88(const d88_tracks& tracks, const d88_options& options = {}) {
    const std::size_t header_size = options.old_header ? 0x2A0 : 0x2B0;
    std::vector<int> order;
    for (const auto& [t, sectors] : tracks) {
        order.push_back(t);
    }
    if (options.tracks_backwards) {
        std::reverse(order.begin(), order.end());
    }
    bytes file(header_size, 0);
    std::copy_n(options.name.begin(), std::min<std::size_t>(options.name.size(), 16), file.begin());
    file[0x1B] = options.media;
    for (int t : order) {
        put_le(file, 0x20 + 4 * static_cast<std::size_t>(t), file.size(), 4);
        const auto& sectors = tracks.at(t);
        for (const d88_sector& s : sectors) {
            for (int id : {s.c, s.h, s.r, s.n}) {
                file.push_back(static_cast<std::uint8_t>(id));
            }
            const auto count = static_cast<std::uint16_t>(sectors.size());
            append_le(file, options.big_endian_counts ? (count >> 8 | (count & 0xFF) << 8) : count, 2);
            append(file, {0, 0, s.status, 0, 0, 0, 0, 0});
            append_le(file, s.data.size(), 2);
            append(file, s.data);
        }
    }
    for (const auto& [t, offset] : options.offsets) {
        put_le(file, 0x20 + 4 * static_cast<std::size_t>(t), offset, 4);
    }
    put_le(file, 0x1C, options.size.value_or(static_cast<std::uint32_t>(file.size())), 4);
    return file;
}

// Where the data of unit u lies in a D88 file of tracks in order.
inline std::size_t d88_place(const bytes& file, int unit) {
    std::size_t at = get_le(file, 0x20 + 4 * static_cast<std::size_t>(unit / 8), 4);
    for (;;) {
        const std::size_t length = get_le(file, at + 14, 2);
        if (file[at + 2] == unit % 8 + 1) {
            return at + 16;
        }
        at += 16 + length;
    }
}

// --- NFD revision 0: a fixed table of 163 x 26 sector IDs, then the data in
// table order. Records in order 1-8, so that entry e of track t is record
// e + 1 and its data lies at nfd0_place.

constexpr std::size_t nfd0_table = 0x120;
constexpr std::size_t nfd0_header_size = 0x120 + 163 * 26 * 16;

inline std::size_t nfd0_entry(int unit) {
    return nfd0_table + (static_cast<std::size_t>(unit / 8) * 26 + unit % 8) * 16;
}

inline std::size_t nfd0_place(int unit) {
    return nfd0_header_size + static_cast<std::size_t>(unit) * disk_unit_size;
}

inline bytes nfd0(const bytes& disk) {
    bytes file(nfd0_header_size, 0);
    const std::string mark = "T98FDDIMAGE.R0";
    std::copy(mark.begin(), mark.end(), file.begin());
    put_le(file, 0x110, nfd0_header_size, 4);
    file[0x115] = 2;
    for (int t = 0; t < 163; ++t) {
        for (int e = 0; e < 26; ++e) {
            const std::size_t at = nfd0_table + (static_cast<std::size_t>(t) * 26 + e) * 16;
            if (t >= disk_track_count(disk) || e >= 8) {
                file[at] = 0xFF;
                continue;
            }
            const bytes id = {static_cast<std::uint8_t>(t / 2), static_cast<std::uint8_t>(t % 2),
                              static_cast<std::uint8_t>(e + 1), 3, 1, 0, 0, 0, 0, 0, 0x90};
            std::copy(id.begin(), id.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    append(file, disk);
    return file;
}

// --- NFD revision 1: 164 offsets of track maps, the maps right after the
// header, then per track its sectors' data and its special reads' data.

struct nfd1_special {
    int retries = 0;
    std::uint32_t length = disk_unit_size;
    bytes data; // (retries + 1) x length bytes, or fewer to cut the file
};

inline bytes nfd1(const bytes& disk, const std::map<int, nfd1_special>& specials = {},
                  const std::map<int, std::uint32_t>& map_offsets = {}) {
    const int tracks = disk_track_count(disk);
    bytes maps;
    std::vector<std::uint32_t> offsets(164, 0);
    for (int t = 0; t < tracks; ++t) {
        offsets[static_cast<std::size_t>(t)] = static_cast<std::uint32_t>(0x3C0 + maps.size());
        std::vector<int> extra;
        for (const auto& [u, special] : specials) {
            if (u / 8 == t) {
                extra.push_back(u);
            }
        }
        append_le(maps, 8, 2);
        append_le(maps, extra.size(), 2);
        maps.resize(maps.size() + 12, 0);
        for (int r = 1; r <= 8; ++r) {
            append(maps, {static_cast<std::uint8_t>(t / 2), static_cast<std::uint8_t>(t % 2),
                          static_cast<std::uint8_t>(r), 3, 1, 0, 0, 0, 0, 0, 0, 0x90, 0, 0, 0, 0});
        }
        for (int u : extra) {
            append(maps, {0x46, static_cast<std::uint8_t>(t / 2), static_cast<std::uint8_t>(t % 2),
                          static_cast<std::uint8_t>(u % 8 + 1), 3, 0, 0x40, 0x20, 0x20,
                          static_cast<std::uint8_t>(specials.at(u).retries)});
            append_le(maps, specials.at(u).length, 4);
            append(maps, {0x90, 0});
        }
    }
    for (const auto& [t, offset] : map_offsets) {
        offsets[static_cast<std::size_t>(t)] = offset;
    }
    bytes file(0x110, 0);
    const std::string mark = "T98FDDIMAGE.R1";
    std::copy(mark.begin(), mark.end(), file.begin());
    append_le(file, 0x3C0 + maps.size(), 4);
    append(file, {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (std::uint32_t offset : offsets) {
        append_le(file, offset, 4);
    }
    file.resize(0x3C0, 0);
    append(file, maps);
    for (int t = 0; t < tracks; ++t) {
        file.insert(file.end(), disk.begin() + static_cast<std::ptrdiff_t>(t) * track_bytes,
                    disk.begin() + static_cast<std::ptrdiff_t>(t + 1) * track_bytes);
        for (const auto& [u, special] : specials) {
            if (u / 8 == t) {
                append(file, special.data);
            }
        }
    }
    return file;
}

// --- FDD: a table of 160 x 26 entries, each with its own data offset (or
// none, and a fill byte), the data after it in any order.

constexpr std::size_t fdd_table = 0xDC;
constexpr std::size_t fdd_data = 0xDC + 160 * 26 * 12;

inline std::size_t fdd_entry(int unit) {
    return fdd_table + (static_cast<std::size_t>(unit / 8) * 26 + unit % 8) * 12;
}

// Units stored backwards from the end of the disk, so that the data is in
// no order the table's; those in unstored are kept as a fill byte.
inline bytes fdd(const bytes& disk, const std::map<int, std::uint8_t>& unstored = {}) {
    bytes file(fdd_data, 0xFF);
    const std::string mark = "VFD1.00";
    std::fill(file.begin(), file.begin() + fdd_table, 0);
    std::copy(mark.begin(), mark.end(), file.begin());
    const int units = static_cast<int>(disk.size() / disk_unit_size);
    for (int u = units - 1; u >= 0; --u) {
        const std::size_t at = fdd_entry(u);
        const auto fill = unstored.find(u);
        const bytes entry = {static_cast<std::uint8_t>(u / 16), static_cast<std::uint8_t>(u / 8 % 2),
                             static_cast<std::uint8_t>(u % 8 + 1), 3,
                             fill != unstored.end() ? fill->second : std::uint8_t{0xE5}, 0, 1, 1};
        std::copy(entry.begin(), entry.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        if (fill != unstored.end()) {
            put_le(file, at + 8, 0xFFFFFFFF, 4);
        } else {
            put_le(file, at + 8, file.size(), 4);
            append(file, disk_unit(disk, u));
        }
    }
    return file;
}

// --- DIM and DCP: a header of track flags, then the present tracks.

inline bytes flagged_tracks(const bytes& disk, const std::set<int>& absent, bool absent_stored,
                            bytes header, std::size_t flags_at, int flag_count) {
    for (int t = 0; t < flag_count; ++t) {
        header[flags_at + static_cast<std::size_t>(t)] =
            t < disk_track_count(disk) && absent.count(t) == 0 ? 1 : 0;
    }
    for (int t = 0; t < disk_track_count(disk); ++t) {
        if (absent.count(t) == 0 || absent_stored) {
            header.insert(header.end(), disk.begin() + static_cast<std::ptrdiff_t>(t) * track_bytes,
                          disk.begin() + static_cast<std::ptrdiff_t>(t + 1) * track_bytes);
        }
    }
    return header;
}

inline bytes dim(const bytes& disk, const std::set<int>& absent = {}, bool absent_stored = false,
                 std::uint8_t type = 0) {
    bytes header(256, 0);
    header[0] = type;
    const std::string mark = "DIFC HEADER  ";
    std::copy(mark.begin(), mark.end(), header.begin() + 0xAB);
    return flagged_tracks(disk, absent, absent_stored, header, 1, 170);
}

inline bytes dcp(const bytes& disk, const std::set<int>& absent = {}) {
    bytes header(162, 0);
    header[0] = 0x01;
    header[161] = absent.empty() && disk_track_count(disk) == disk_tracks ? 1 : 0;
    return flagged_tracks(disk, absent, false, header, 1, 160);
}

// --- FDI: eight 32-bit fields, padded to the header size, then the disk.

struct fdi_fields {
    std::uint32_t reserved = 0, media = 0x90, header_size = 4096, data_size = 0,
                  sector_size = 1024, sectors = 8, heads = 2, cylinders = 77;
};

inline bytes fdi(const bytes& disk, fdi_fields fields = {}) {
    if (fields.data_size == 0) {
        fields.data_size = static_cast<std::uint32_t>(disk.size());
    }
    bytes file;
    file.reserve(std::max<std::size_t>(fields.header_size, 32) + disk.size());
    file.resize(std::max<std::size_t>(fields.header_size, 32), 0);
    std::size_t at = 0;
    for (std::uint32_t value : {fields.reserved, fields.media, fields.header_size, fields.data_size,
                                fields.sector_size, fields.sectors, fields.heads, fields.cylinders}) {
        put_le(file, at, value, 4);
        at += 4;
    }
    append(file, disk);
    return file;
}

// --- What recognition makes of a file.

struct recognition {
    std::string format; // the row's name, empty for none
    container_result result = container_result::not_this;
    std::string message;
    std::vector<disk_layout> disks;
};

inline recognition recognise(const bytes& file) {
    recognition seen;
    const container_format* format = nullptr;
    auto keep = [&](const disk_layout& disk) {
        seen.disks.push_back(disk);
        return true;
    };
    seen.message = capture_stdout(
        [&] { seen.result = recognise_container(file, "img", &format, receiver_for(&keep)); });
    seen.format = format != nullptr ? format->name : "";
    return seen;
}

// What a case expects of units first to last: their state and lock, and a
// filled unit's fill byte. Units that no rule names are stored, at bytes
// equal to the disk's own unit.
struct unit_rule {
    int first;
    int last;
    sector_state state;
    sector_lock lock = sector_lock::none;
    std::uint8_t fill = 0;
};

inline const char* state_name(sector_state state) {
    switch (state) {
    case sector_state::missing: return "missing";
    case sector_state::stored: return "stored";
    case sector_state::filled: return "filled";
    case sector_state::duplicated: return "duplicated";
    case sector_state::overlapping: return "overlapping";
    case sector_state::crc_error: return "crc_error";
    case sector_state::no_data: return "no_data";
    }
    return "?";
}

// The units that differ from what the rules expect, for a failure message
// (the first few), or "" when every unit is as expected.
inline std::string unit_differences(const bytes& file, const disk_layout& layout, const bytes& disk,
                                    const std::vector<unit_rule>& rules) {
    if (layout.units.size() != static_cast<std::size_t>(disk_units)) {
        return "the layout has " + std::to_string(layout.units.size()) + " units";
    }
    std::string differences;
    int shown = 0;
    for (int u = 0; u < disk_units && shown < 4; ++u) {
        unit_rule expected{u, u, sector_state::stored};
        for (const unit_rule& rule : rules) {
            if (u >= rule.first && u <= rule.last) {
                expected = rule;
            }
        }
        const sector_place& place = layout.units[static_cast<std::size_t>(u)];
        std::string wrong;
        if (place.state != expected.state || place.lock != expected.lock) {
            wrong = std::string(state_name(place.state)) + " lock " +
                    std::to_string(static_cast<int>(place.lock)) + ", not " + state_name(expected.state) +
                    " lock " + std::to_string(static_cast<int>(expected.lock));
        } else if (place.state == sector_state::stored) {
            const bool inside = place.offset >= 0 &&
                                static_cast<std::size_t>(place.offset) + disk_unit_size <= file.size();
            if (!inside || !std::equal(disk.begin() + static_cast<std::ptrdiff_t>(u) * disk_unit_size,
                                       disk.begin() + static_cast<std::ptrdiff_t>(u + 1) * disk_unit_size,
                                       file.begin() + place.offset)) {
                wrong = "stored at " + std::to_string(place.offset) + ", not its bytes";
            }
        } else if (place.state == sector_state::filled && place.fill != expected.fill) {
            wrong = "fill " + std::to_string(place.fill) + ", not " + std::to_string(expected.fill);
        }
        if (!wrong.empty()) {
            differences += "unit " + std::to_string(u) + ": " + wrong + "\n";
            ++shown;
        }
    }
    return differences;
}

// One row of a module's table: the fault it catches, the file, and what
// recognition must make of it. rules describe disk `disk` of `disk_count`,
// whose units are those of `disk` (the test disk unless the row says).
struct container_case {
    const char* fault;
    std::function<bytes()> image;
    const char* format;
    container_result result;
    std::string message;
    std::vector<unit_rule> rules = {};
    std::size_t disk_count = 1;
    std::size_t disk = 0;
    std::function<bytes()> units_of = test_disk_units;

    static bytes test_disk_units() {
        return test_disk();
    }
};

inline void check_cases(const std::vector<container_case>& cases) {
    for (const container_case& c : cases) {
        SCOPED_TRACE(c.fault);
        const bytes file = c.image();
        const recognition seen = recognise(file);
        EXPECT_EQ(seen.format, c.format);
        EXPECT_EQ(seen.result, c.result);
        EXPECT_EQ(seen.message, c.message);
        if (c.result != container_result::found) {
            EXPECT_TRUE(seen.disks.empty());
            continue;
        }
        ASSERT_EQ(seen.disks.size(), c.disk_count);
        EXPECT_EQ(unit_differences(file, seen.disks[c.disk], c.units_of(), c.rules), "");
    }
}

// The units of a track, for rules.
inline unit_rule track_rule(int track, sector_state state, sector_lock lock = sector_lock::none) {
    return {track * 8, track * 8 + 7, state, lock};
}

} // namespace kz::test

// Container recognition straight from the fuzzer's bytes: every row of the
// table tries them as the loader does, and every disk a row hands on is
// checked against the file. Whatever the headers, track tables and maps
// claim, a stored unit lies inside the file and shares no byte with another
// unit (of its disk or of another disk in the same file) or with one of the
// container's records, a D88 sector's own header included; a unit kept as
// a fill byte points from inside a record; a file is refused or claimed
// with its message, and disks are handed on exactly when it is claimed.
#include "disk/container.h"
#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace kz;
using namespace kz::fuzz;

namespace {

struct extent {
    std::int64_t begin;
    std::int64_t end;
    bool unit;
};

constexpr std::int64_t d88_sector_header = 16;

// Whether any unit's extent shares a byte with another extent; records may
// share bytes with records (an NFD map may lie anywhere).
bool unit_overlaps(std::vector<extent> extents) {
    std::sort(extents.begin(), extents.end(),
              [](const extent& a, const extent& b) { return a.begin < b.begin; });
    std::int64_t unit_end = -1;
    std::int64_t any_end = -1;
    for (const extent& e : extents) {
        if (e.begin < unit_end || (e.unit && e.begin < any_end)) {
            return true;
        }
        any_end = std::max(any_end, e.end);
        if (e.unit) {
            unit_end = std::max(unit_end, e.end);
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    std::size_t disks = 0;
    std::vector<std::int64_t> stored; // every disk's stored units, in order
    std::vector<extent> records;
    auto check = [&](const disk_layout& disk) {
        ++disks;
        require(disk.units.size() == static_cast<std::size_t>(disk_units), "a disk has 1232 units");
        for (const auto& [begin, end] : disk.records) {
            require(begin <= end && file_holds(file, begin, end - begin), "a record lies inside the file");
            records.push_back({begin, end, false});
        }
        for (const sector_place& place : disk.units) {
            if (place.state == sector_state::stored) {
                require(file_holds(file, place.offset, disk_unit_size), "a stored unit lies inside the file");
                stored.push_back(place.offset);
            } else if (place.state == sector_state::filled && place.pointer >= 0) {
                require(std::any_of(disk.records.begin(), disk.records.end(),
                                    [&](const auto& r) {
                                        return place.pointer >= r.first && place.pointer + 4 <= r.second;
                                    }),
                        "a filled unit's pointer lies inside a record");
            }
            if (place.lock == sector_lock::absent_track) {
                require(place.state == sector_state::filled, "an absent track's unit reads as filled");
            }
        }
        return true;
    };
    const container_format* format = nullptr;
    const container_result result = recognise_container(file, "fuzz", &format, receiver_for(&check));
    require((result == container_result::found) == (disks > 0),
            "disks are handed on exactly when the file is claimed");
    require((result == container_result::not_this) == (format == nullptr),
            "a row claims or refuses the file, or none does");

    // A D88 sector's 16-byte header lies right before its data.
    const bool d88 = format != nullptr && std::strcmp(format->name, "D88") == 0;
    std::vector<extent> extents = records;
    for (const std::int64_t offset : stored) {
        extents.push_back({d88 ? offset - d88_sector_header : offset, offset + disk_unit_size, true});
    }
    require(!unit_overlaps(extents), "no unit shares a byte with another unit or a record");
    return 0;
}

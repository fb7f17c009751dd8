// Loading a floppy image, finding its disk in its container, reaching the
// bytes of each unit, and unpacking the FAT12 table.
#include "disk/container.h"
#include "disk/disk.h"

#include "byte_order/byte_order.h"
#include "io/input_file.h"
#include "terminal/terminal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace kz {

namespace {

// The fixed layout puts the root directory in units 5 to 10; an image that
// stops before its end cannot be the disk, and refusing it here keeps every
// later look-up inside the loaded bytes.
constexpr std::int64_t min_disk_length = root_dir_end;

constexpr std::int64_t root_first_unit = root_dir_offset / disk_unit_size;
constexpr std::int64_t root_end_unit = root_dir_end / disk_unit_size;

int fail_load(disk_image* disk) {
    release_disk_image(disk);
    return -1;
}

// A stored unit's bytes: in the file, or among those appended to it.
const std::uint8_t* stored_bytes(const disk_image* disk, const sector_place& place) {
    const std::span<const std::uint8_t> file = content_bytes(disk->content);
    const auto at = static_cast<std::size_t>(place.offset);
    return at < file.size() ? file.data() + at : disk->appended.data() + (at - file.size());
}

std::uint8_t* stored_bytes(disk_image* disk, const sector_place& place) {
    const std::span<std::uint8_t> file = content_bytes(disk->content);
    const auto at = static_cast<std::size_t>(place.offset);
    return at < file.size() ? file.data() + at : disk->appended.data() + (at - file.size());
}

// The units that the FAT and the root directory take: the volume cannot be
// read without them, whatever file is wanted. The first that cannot be
// read, or -1.
std::int64_t first_unreadable_volume_unit(const disk_image* disk) {
    const auto count = static_cast<std::int64_t>(disk->units.size());
    const std::int64_t fat_bytes = (count + 1) / 2 * 3;
    const std::int64_t fat_end_unit = 1 + (fat_bytes + disk_unit_size - 1) / disk_unit_size;
    for (std::int64_t u = 1; u < std::min(fat_end_unit, count); ++u) {
        if (!unit_readable(disk, u, false)) {
            return u;
        }
    }
    for (std::int64_t u = root_first_unit; u < std::min(root_end_unit, count); ++u) {
        if (!unit_readable(disk, u, false)) {
            return u;
        }
    }
    return -1;
}

bool volume_readable(const disk_image* disk) {
    const std::int64_t unit = first_unreadable_volume_unit(disk);
    return unit < 0 || unit_readable(disk, unit, true);
}

std::string joined_names(std::span<const char* const> wanted) {
    std::string text;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        text += i == 0 ? "" : i + 1 == wanted.size() ? " and " : ", ";
        text += wanted[i];
    }
    return text.empty() ? "the files" : text;
}

// What a disk of a file of several holds of the wanted files: all of them
// behind a readable FAT and root directory; none, or not all; or all that
// could be there, behind a sector that cannot be read. The last is a disk
// whose directory lists every wanted file while its FAT or directory has a
// sector that cannot be read, or whose directory lacks one in readable
// sectors but has a damaged one (there, but unusable) where it may be.
enum class disk_holds { all, not_all, behind_damage };

disk_holds probe_disk(const disk_image* disk, std::span<const char* const> wanted,
                      std::int64_t* blocking) {
    std::int64_t damaged_root = -1;
    for (std::int64_t u = root_first_unit; u < root_end_unit && damaged_root < 0; ++u) {
        if (!unit_readable(disk, u, false) &&
            disk->units[static_cast<std::size_t>(u)].state != sector_state::missing) {
            damaged_root = u;
        }
    }
    for (const char* name : wanted) {
        char dir_name[dir_name_length + 1];
        root_entry entry;
        if (make_dir_name(dir_name, name) != 0 || find_root_entry(disk, dir_name, 1, &entry) != 0) {
            *blocking = damaged_root;
            return damaged_root >= 0 ? disk_holds::behind_damage : disk_holds::not_all;
        }
    }
    *blocking = first_unreadable_volume_unit(disk);
    return *blocking >= 0 ? disk_holds::behind_damage : disk_holds::all;
}

// The disks of a file as its container hands them on. A file of one disk
// is read on it; of several, on the one that holds every wanted file, and
// only if it is the only one. No disk's table is kept but the first's and
// the holder's.
struct disk_search {
    disk_image* disk;
    std::span<const char* const> wanted;
    std::size_t seen = 0;
    std::vector<sector_place> first;
    std::vector<sector_place> holder;
    std::size_t holding = 0;
    std::int64_t blocking = -1; // the sector in front of the first disk that holds them behind one
    sector_state blocking_state = sector_state::missing;

    bool operator()(const disk_layout& layout) {
        ++seen;
        if (seen == 1) {
            first = layout.units;
        } else {
            std::vector<sector_place>().swap(first);
        }
        // A disk without one sector of its root directory has nothing to
        // offer, nor anything behind a damaged sector; most disks of a
        // hostile file are so, and cost no copy of their table.
        const auto root = layout.units.begin() + root_first_unit;
        if (std::all_of(root, root + (root_end_unit - root_first_unit), [](const sector_place& place) {
                return place.state == sector_state::missing;
            })) {
            return true;
        }
        disk->units.assign(layout.units.begin(), layout.units.end());
        std::int64_t unit = -1;
        switch (probe_disk(disk, wanted, &unit)) {
        case disk_holds::all:
            if (++holding == 1) {
                holder = layout.units;
            }
            return holding < 2; // a second holder settles it
        case disk_holds::behind_damage:
            if (blocking < 0) {
                blocking = unit;
                blocking_state = layout.units[static_cast<std::size_t>(unit)].state;
            }
            return true;
        case disk_holds::not_all:
            return true;
        }
        return true;
    }

    // The disk to read, or -1 after the message that says why there is none.
    int settle() {
        if (seen == 1) {
            disk->units = std::move(first);
            return volume_readable(disk) ? 0 : -1;
        }
        if (holding == 1) {
            disk->units = std::move(holder);
            return 0;
        }
        const std::string names = joined_names(wanted);
        if (holding > 1) {
            print_message("more than one disk in '%s' holds %s\n", disk->path.c_str(), names.c_str());
        } else if (blocking >= 0) {
            // The reason that counts: the one sector that keeps the files from being read.
            report_unreadable(disk->path.c_str(), blocking, blocking_state);
        } else {
            print_message("no disk in '%s' holds %s\n", disk->path.c_str(), names.c_str());
        }
        return -1;
    }
};

// Brings in the pages of the wanted files' units once, while a failure to
// read them can still be reported as the load's, as it was when the file
// was read whole. Nothing is reported here: the reads that follow give
// their own messages.
void touch_files(const disk_image* disk, std::span<const char* const> wanted) {
    volatile std::uint8_t sink = 0;
    for (const char* name : wanted) {
        char dir_name[dir_name_length + 1];
        root_entry entry;
        if (make_dir_name(dir_name, name) != 0 || find_root_entry(disk, dir_name, 1, &entry) != 0) {
            continue;
        }
        std::int64_t cluster = entry.first_cluster;
        const auto count = static_cast<std::int64_t>(disk->units.size());
        for (std::int64_t done = 0; done < entry.size && done < count * disk_unit_size;
             done += disk_unit_size) {
            const std::int64_t unit = cluster + root_end_unit - 2;
            if (cluster < 2 || unit >= count || !unit_readable(disk, unit, false)) {
                break;
            }
            const sector_place& place = disk->units[static_cast<std::size_t>(unit)];
            if (place.state == sector_state::stored) {
                const std::uint8_t* bytes = stored_bytes(disk, place);
                sink = static_cast<std::uint8_t>(sink + bytes[0] + bytes[disk_unit_size - 1]);
            }
            cluster = disk->fat[static_cast<std::size_t>(cluster)];
        }
    }
}

// The one disk to read: the file's container hands on its disks and the
// search settles on one; a file that no container claims holds what the
// pair has always read, the disk at its fixed offset.
int find_disk(disk_image* disk, std::int32_t disk_offset, std::span<const char* const> wanted) {
    const std::span<const std::uint8_t> file = content_bytes(disk->content);
    const char* path = disk->path.c_str();
    disk_search search{disk, wanted, 0, {}, {}, 0, -1, sector_state::missing};
    const container_result found =
        recognise_container(file, path, &disk->format, receiver_for(&search));
    if (found == container_result::found) {
        return search.settle();
    }
    if (found != container_result::not_this) {
        return -1;
    }
    const auto length = static_cast<std::int64_t>(file.size());
    const std::int64_t needed = static_cast<std::int64_t>(disk_offset) + min_disk_length;
    if (disk_offset < 0 || length < needed) {
        print_message("disk image too short '%s' %d < %d\n", path, static_cast<int>(length),
                      static_cast<int>(needed));
        return -1;
    }
    warn_short_disk(path, length, disk_offset);
    disk->units = linear_layout(length, disk_offset).units;
    return volume_readable(disk) ? 0 : -1;
}

} // namespace

int load_disk_image(disk_image* disk, const char* path, std::int32_t disk_offset,
                    std::span<const char* const> wanted) {
    release_disk_image(disk);

    // Only a regular file can be an image. A folder opens on some systems
    // and not on others, and on none can it be read; a FIFO or a device
    // would keep the program waiting, or reading for ever. Each is said to
    // be unreadable at once.
    input_file stream;
    const int opened = open_regular_file(path, &stream);
    if (opened == -2) {
        print_message("read error '%s'\n", path);
        return fail_load(disk);
    }
    if (opened != 0) {
        print_message("open error '%s'\n", path);
        return fail_load(disk);
    }
    return load_disk_stream(disk, stream.get(), path, disk_offset, wanted);
}

int load_disk_stream(disk_image* disk, std::FILE* stream, const char* path,
                     std::int32_t disk_offset, std::span<const char* const> wanted) {
    release_disk_image(disk);
    try {
        disk->path = path;
        if (take_file_content(stream, path, &disk->content) != 0 ||
            find_disk(disk, disk_offset, wanted) != 0) {
            return fail_load(disk);
        }
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!\n");
        return fail_load(disk);
    }
    if (!decode_fat12(disk, &disk->fat)) {
        print_message("can't get fat '%s' offset=%08X\n", path, static_cast<unsigned>(disk_offset));
        return fail_load(disk);
    }
    touch_files(disk, wanted);
    if (content_read_failed(disk->content)) {
        print_message("read error '%s'\n", path);
        return fail_load(disk);
    }
    return 0;
}

void release_disk_image(disk_image* disk) {
    // Assigning a fresh record would keep the old capacity; swapping with
    // empty ones really gives the memory back (and unmaps a mapped image).
    disk->content.mapping.reset();
    std::vector<std::uint8_t>().swap(disk->content.buffer);
    std::vector<std::uint8_t>().swap(disk->appended);
    std::vector<sector_place>().swap(disk->units);
    std::vector<std::int32_t>().swap(disk->fat);
    std::string().swap(disk->path);
    disk->format = nullptr;
}

void report_unreadable(const char* path, std::int64_t unit, sector_state state) {
    const sector_id id = unit_id(unit);
    switch (state) {
    case sector_state::duplicated:
        print_message("duplicate sector '%s' C=%d H=%d R=%d\n", path, id.cylinder, id.head, id.record);
        break;
    case sector_state::overlapping:
        print_message("overlapping sector '%s' C=%d H=%d R=%d\n", path, id.cylinder, id.head,
                      id.record);
        break;
    case sector_state::crc_error:
        print_message("sector with crc error '%s' C=%d H=%d R=%d\n", path, id.cylinder, id.head,
                      id.record);
        break;
    case sector_state::no_data:
        print_message("sector without data '%s' C=%d H=%d R=%d\n", path, id.cylinder, id.head,
                      id.record);
        break;
    default:
        print_message("missing sector '%s' C=%d H=%d R=%d\n", path, id.cylinder, id.head, id.record);
        break;
    }
}

// The extractor looks at a fifth of the image and the changer changes less,
// so a mapping is tried first. Read whole, the length comes from a seek to
// the end, then one read of one item of that length, so that an empty file
// reads no item and fails.
int take_file_content(std::FILE* stream, const char* path, file_content* content) {
    if (map_file_content(stream, max_image_length, content)) {
        return 0;
    }
    // Messages only for a caller that names the file.
    const bool report = path != nullptr;
    const std::int64_t end = seek_to_end(stream);
    if (end < 0) {
        if (report) {
            print_message("seek error '%s' (SEEK_END)\n", path);
        }
        return -1;
    }
    if (end > max_image_length) {
        if (report) {
            print_message("disk image too large '%s'\n", path);
        }
        return -1;
    }
    if (std::fseek(stream, 0, SEEK_SET) != 0) {
        if (report) {
            print_message("seek error '%s' (SEEK_SET)\n", path);
        }
        return -1;
    }
    try {
        content->buffer.resize(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
        if (report) {
            print_message("memory exhaust!\n");
        }
        return -1;
    }
    if (end == 0 || std::fread(content->buffer.data(), content->buffer.size(), 1, stream) != 1) {
        if (report) {
            print_message("read error '%s'\n", path);
        }
        return -1;
    }
    return 0;
}

bool unit_readable(const disk_image* disk, std::int64_t unit, bool report) {
    if (unit < 0 || unit >= static_cast<std::int64_t>(disk->units.size())) {
        return false;
    }
    const sector_place& place = disk->units[static_cast<std::size_t>(unit)];
    if (place.state == sector_state::stored || place.state == sector_state::filled) {
        return true;
    }
    if (report) {
        report_unreadable(disk->path.c_str(), unit, place.state);
    }
    return false;
}

void read_unit(const disk_image* disk, std::int64_t unit, std::size_t from, std::uint8_t* out,
               std::size_t count) {
    const sector_place& place = disk->units[static_cast<std::size_t>(unit)];
    if (place.state == sector_state::stored) {
        std::memcpy(out, stored_bytes(disk, place) + from, count);
    } else {
        std::memset(out, place.fill, count);
    }
}

bool unit_writable(const disk_image* disk, std::int64_t unit, bool report) {
    if (!unit_readable(disk, unit, report)) {
        return false;
    }
    const sector_place& place = disk->units[static_cast<std::size_t>(unit)];
    const sector_id id = unit_id(unit);
    if (place.lock == sector_lock::absent_track) {
        if (report) {
            print_message("can't change a track the image does not hold '%s' C=%d H=%d\n",
                          disk->path.c_str(), id.cylinder, id.head);
        }
        return false;
    }
    if (place.lock == sector_lock::special_read) {
        if (report) {
            print_message("can't change a sector with special-read data '%s' C=%d H=%d R=%d\n",
                          disk->path.c_str(), id.cylinder, id.head, id.record);
        }
        return false;
    }
    return place.state == sector_state::stored || place.pointer >= 0;
}

// A filled unit stays so while the bytes written are its fill byte; the
// first other byte gives it 1024 bytes of its own at the end of the file
// (an image of at most 2 GiB and 1232 units stays within the 32-bit
// offsets that point there).
void write_unit(disk_image* disk, std::int64_t unit, std::size_t from, const std::uint8_t* in,
                std::size_t count) {
    sector_place& place = disk->units[static_cast<std::size_t>(unit)];
    if (place.state == sector_state::filled) {
        if (std::all_of(in, in + count, [&](std::uint8_t b) { return b == place.fill; })) {
            return;
        }
        const std::span<std::uint8_t> file = content_bytes(disk->content);
        const std::int64_t offset =
            static_cast<std::int64_t>(file.size() + disk->appended.size());
        disk->appended.resize(disk->appended.size() + disk_unit_size, place.fill);
        put_le32(file.data() + place.pointer, static_cast<std::uint32_t>(offset));
        place.state = sector_state::stored;
        place.offset = offset;
        place.pointer = -1;
    }
    std::memcpy(stored_bytes(disk, place) + from, in, count);
}

// FAT12 packs two 12-bit entries into every three bytes, least significant
// first: bytes b0 b1 b2 hold entry 2k = b0 | (b1 & 0x0F) << 8 and entry
// 2k + 1 = b1 >> 4 | b2 << 4. The table has one entry per unit; entries 0
// and 1 (media byte and filler) are kept as stored. Bytes past the last
// unit read as 0.
bool decode_fat12(const disk_image* disk, std::vector<std::int32_t>* fat) {
    const std::size_t count = disk->units.size();
    const std::size_t fat_bytes = (count + 1) / 2 * 3;
    std::vector<std::uint8_t> bytes;
    try {
        fat->assign(count, 0);
        bytes.assign(fat_bytes, 0);
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!");
        return false;
    }
    for (std::size_t done = 0, unit = 1; done < fat_bytes && unit < count;
         done += disk_unit_size, ++unit) {
        if (unit_readable(disk, static_cast<std::int64_t>(unit), false)) {
            read_unit(disk, static_cast<std::int64_t>(unit), 0, bytes.data() + done,
                      std::min<std::size_t>(disk_unit_size, fat_bytes - done));
        }
    }
    for (std::size_t n = 0, pos = 0; n < count; n += 2, pos += 3) {
        const std::uint32_t value = bytes[pos] | bytes[pos + 1] << 8 | bytes[pos + 2] << 16;
        (*fat)[n] = static_cast<std::int32_t>(value & 0xFFF);
        if (n + 1 < count) {
            (*fat)[n + 1] = static_cast<std::int32_t>(value >> 12);
        }
    }
    return true;
}

} // namespace kz

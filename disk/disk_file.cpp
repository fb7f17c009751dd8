// Finding a file in the root directory, reading and overwriting it along its
// cluster chain, and writing the whole image back.
#include "disk/container.h"
#include "disk/disk.h"

#include "byte_order/byte_order.h"
#include "io/output_file.h"
#include "terminal/terminal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace kz {

namespace {

constexpr int dir_base_length = 8;
constexpr int dir_ext_length = 3;
constexpr int dir_first_cluster_field = 26; // unsigned 16-bit, little-endian
constexpr int dir_size_field = 28;          // 32-bit, little-endian, taken as signed

constexpr std::int64_t root_first_unit = root_dir_offset / disk_unit_size;
constexpr std::int64_t root_end_unit = root_dir_end / disk_unit_size;
constexpr std::int64_t first_cluster_unit = root_end_unit - 2; // cluster n in unit n + 9

// A chain may name anything: free and reserved values, end-of-chain marks and
// numbers past the disk all fail this test, and so does a cluster whose unit
// a short image does not hold in full.
bool usable_cluster(const disk_image* disk, std::int64_t cluster) {
    return cluster >= 2 && cluster < static_cast<std::int64_t>(disk->fat.size()) &&
           cluster + first_cluster_unit < static_cast<std::int64_t>(disk->units.size());
}

// Pages of a mapped image that could not be read have been read as zeros;
// whatever was taken from them is not the file's.
bool read_whole(const disk_image* disk) {
    if (content_read_failed(disk->content)) {
        print_message("read error '%s'\n", disk->path.c_str());
        return false;
    }
    return true;
}

unsigned char ascii_upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// The steps that reading and replacing share before the chain: name
// conversion, look-up and size check. Gives the entry and the number of
// bytes to move.
int locate_file(const disk_image* disk, const char* name, std::size_t length, int ignore_case,
                root_entry* found, std::int64_t* requested) {
    char dir_name[dir_name_length + 1];
    if (make_dir_name(dir_name, name) != 0) {
        print_message("illegal filename '%s'\n", name);
        return -1;
    }
    root_entry entry;
    if (find_root_entry(disk, dir_name, ignore_case, &entry) != 0) {
        print_message("can't find '%s'\n", name);
        return -1;
    }

    // No file in an image of at most INT32_MAX bytes can be longer, so a
    // larger request always fails the size check.
    *requested = static_cast<std::int64_t>(
        std::min<std::size_t>(length, std::numeric_limits<std::int32_t>::max()));
    if (entry.size < *requested || length > std::numeric_limits<std::int32_t>::max()) {
        print_message("file size error '%s' %d < %d\n", name, static_cast<int>(entry.size),
                    static_cast<int>(*requested));
        return -1;
    }
    if (entry.size > *requested) {
        print_message("file size mismatch '%s' %d != %d ... ignored\n", name,
                    static_cast<int>(entry.size), static_cast<int>(*requested));
    }
    *found = entry;
    return 0;
}

constexpr int entries_per_unit = disk_unit_size / dir_entry_size;

// Hands every entry of the root directory's readable units, with its slot
// (0-191), to visit, until visit returns true; gives whether it did.
template <typename Visit> bool for_each_root_entry(const disk_image* disk, Visit visit) {
    std::uint8_t unit_bytes[disk_unit_size];
    for (std::int64_t unit = root_first_unit; unit < root_end_unit; ++unit) {
        if (!unit_readable(disk, unit, false)) {
            continue;
        }
        read_unit(disk, unit, 0, unit_bytes, disk_unit_size);
        for (int i = 0; i < entries_per_unit; ++i) {
            const auto slot = static_cast<std::int32_t>((unit - root_first_unit) * entries_per_unit + i);
            if (visit(slot, unit_bytes + i * dir_entry_size)) {
                return true;
            }
        }
    }
    return false;
}

// What the chain walk knows of each cluster: passed by the file's own
// chain, or reached by another directory entry's.
enum : std::uint8_t { cluster_free = 0, cluster_passed = 1, cluster_taken = 2 };

constexpr std::uint8_t entry_unused = 0x00;
constexpr std::uint8_t entry_deleted = 0xE5;
constexpr int dir_attribute_field = 11;
constexpr std::uint8_t attribute_label = 0x08; // volume labels, and long-name entries with it
constexpr std::uint8_t attribute_directory = 0x10;

// Marks every cluster that a directory entry other than the file's own
// reaches: the chains of the root directory's live entries and, through
// every subdirectory, of theirs. A chain is followed until it leaves the
// disk or comes to a cluster already marked, so each cluster is passed
// once and the walk ends whatever the FAT and the directories say.
void mark_other_chains(const disk_image* disk, std::int32_t own_slot, std::vector<std::uint8_t>* clusters) {
    std::vector<std::int64_t> directories;
    auto take_entry = [&](const std::uint8_t* entry) {
        const std::uint8_t attribute = entry[dir_attribute_field];
        if (entry[0] == entry_unused || entry[0] == entry_deleted || entry[0] == '.' ||
            (attribute & attribute_label) != 0) {
            return;
        }
        std::int64_t cluster = get_le16(entry + dir_first_cluster_field);
        while (usable_cluster(disk, cluster) && (*clusters)[static_cast<std::size_t>(cluster)] == cluster_free) {
            (*clusters)[static_cast<std::size_t>(cluster)] = cluster_taken;
            if ((attribute & attribute_directory) != 0) {
                directories.push_back(cluster);
            }
            cluster = disk->fat[static_cast<std::size_t>(cluster)];
        }
    };
    for_each_root_entry(disk, [&](std::int32_t slot, const std::uint8_t* entry) {
        if (slot != own_slot) {
            take_entry(entry);
        }
        return false;
    });
    std::uint8_t unit_bytes[disk_unit_size];
    while (!directories.empty()) {
        const std::int64_t unit = directories.back() + first_cluster_unit;
        directories.pop_back();
        if (!unit_readable(disk, unit, false)) {
            continue;
        }
        read_unit(disk, unit, 0, unit_bytes, disk_unit_size);
        for (int i = 0; i < entries_per_unit; ++i) {
            take_entry(unit_bytes + i * dir_entry_size);
        }
    }
}

// Walks the chain for the first requested bytes; check(unit) says whether
// the cluster's unit may be used (with its message if not), and copy(unit,
// file_offset, count) moves its bytes in whichever direction the caller
// needs. A chain that comes back to a cluster it has already passed, or
// meets one that another directory entry's chain reaches, is damaged:
// following it would hand out the same bytes twice, or another file's as
// this one's, and an overwrite would lose the earlier part of the file, or
// another file's bytes, in them. It fails like any other broken chain, so
// every walk ends and no other file is ever written.
template <typename Check, typename Copy>
int follow_chain(const disk_image* disk, const char* name, const root_entry& entry,
                 std::int64_t requested, Check check, Copy copy) {
    std::vector<std::uint8_t> clusters;
    try {
        clusters.resize(disk->fat.size(), cluster_free);
        mark_other_chains(disk, entry.slot, &clusters);
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!\n");
        return -1;
    }
    std::int64_t cluster = entry.first_cluster;
    for (std::int64_t done = 0; done < requested; done += disk_unit_size) {
        if (!usable_cluster(disk, cluster) || clusters[static_cast<std::size_t>(cluster)] != cluster_free) {
            print_message("fat error '%s'\n", name);
            return -1;
        }
        clusters[static_cast<std::size_t>(cluster)] = cluster_passed;
        const std::int64_t unit = cluster + first_cluster_unit;
        if (!check(unit)) {
            return -1;
        }
        const std::int64_t count = std::min<std::int64_t>(requested - done, disk_unit_size);
        copy(unit, static_cast<std::size_t>(done), static_cast<std::size_t>(count));
        cluster = disk->fat[static_cast<std::size_t>(cluster)];
    }
    return 0;
}

} // namespace

int make_dir_name(char dst[dir_name_length + 1], const char* name) {
    const char* src = name;
    int i = 0;
    for (; i < dir_base_length && *src != '\0' && *src != '.'; ++i) {
        dst[i] = *src++;
    }
    for (; i < dir_base_length; ++i) {
        dst[i] = ' ';
    }
    // A ninth name character that is not a dot means the name is too long;
    // no extension is taken then.
    if (*src == '.') {
        ++src;
        for (; i < dir_base_length + dir_ext_length && *src != '\0'; ++i) {
            dst[i] = *src++;
        }
    }
    for (; i < dir_name_length; ++i) {
        dst[i] = ' ';
    }
    dst[dir_name_length] = '\0';
    return *src == '\0' ? 0 : -1;
}

// Root directory entries are 32 bytes: the name in directory form in bytes
// 0-10, the first cluster at 26 and the size at 28. Every entry is compared,
// deleted and empty ones included (their names simply do not match), and the
// first match wins.
int find_root_entry(const disk_image* disk, const char* dir_name, int ignore_case,
                    root_entry* entry) {
    if (::strnlen(dir_name, dir_name_length) != static_cast<std::size_t>(dir_name_length)) {
        return -1;
    }
    const bool found = for_each_root_entry(disk, [&](std::int32_t slot, const std::uint8_t* bytes) {
        for (int k = 0; k < dir_name_length; ++k) {
            const auto want = static_cast<unsigned char>(dir_name[k]);
            const unsigned char have = bytes[k];
            if (ignore_case ? ascii_upper(want) != ascii_upper(have) : want != have) {
                return false;
            }
        }
        entry->first_cluster = get_le16(bytes + dir_first_cluster_field);
        entry->size = get_le32_signed(bytes + dir_size_field);
        entry->slot = slot;
        return true;
    });
    return found ? 0 : -1;
}

int read_disk_file(const disk_image* disk, const char* name, std::span<std::uint8_t> buffer,
                   int ignore_case) {
    root_entry first;
    std::int64_t requested = 0;
    if (locate_file(disk, name, buffer.size(), ignore_case, &first, &requested) != 0) {
        return -1;
    }
    const int result = follow_chain(
        disk, name, first, requested,
        [&](std::int64_t unit) { return unit_readable(disk, unit, true); },
        [&](std::int64_t unit, std::size_t file_offset, std::size_t count) {
            read_unit(disk, unit, 0, buffer.data() + file_offset, count);
        });
    return result == 0 && read_whole(disk) ? 0 : -1;
}

// The chain is walked once without copying, so that a damaged one, or a
// unit that its container cannot change in place, leaves the image as it
// was rather than half overwritten.
int replace_disk_file(disk_image* disk, const char* name, std::span<const std::uint8_t> data,
                      int ignore_case) {
    root_entry first;
    std::int64_t requested = 0;
    if (locate_file(disk, name, data.size(), ignore_case, &first, &requested) != 0 ||
        follow_chain(
            disk, name, first, requested,
            [&](std::int64_t unit) { return unit_writable(disk, unit, true); },
            [](std::int64_t, std::size_t, std::size_t) {}) != 0) {
        return -1;
    }
    return follow_chain(
        disk, name, first, requested, [](std::int64_t) { return true; },
        [&](std::int64_t unit, std::size_t file_offset, std::size_t count) {
            write_unit(disk, unit, 0, data.data() + file_offset, count);
        });
}

// The file as loaded, with the changes made to it, then whatever sectors
// had to be stored past its end. Pages that could not be read are never
// written out as the file's.
int write_disk_image(const disk_image* disk, const char* path) {
    const std::span<const std::uint8_t> file = content_bytes(disk->content);
    output_file out;
    if (open_output_file(&out, path) != 0) {
        return -1;
    }
    const bool written =
        (file.empty() || std::fwrite(file.data(), file.size(), 1, out.stream) == 1) &&
        (disk->appended.empty() ||
         std::fwrite(disk->appended.data(), disk->appended.size(), 1, out.stream) == 1);
    if (!written) {
        // The system copies a mapped image's pages itself, and a page it
        // cannot read fails the write rather than raising a fault: reading
        // each page here tells that apart from an output that failed.
        volatile std::uint8_t sink = 0;
        for (std::size_t at = 0; at < file.size(); at += 4096) {
            sink = static_cast<std::uint8_t>(sink + file[at]);
        }
        if (content_read_failed(disk->content)) {
            print_message("read error '%s'\n", disk->path.c_str());
        } else {
            print_message("write error '%s'\n", path);
        }
        discard_output_file(&out);
        return -1;
    }
    if (!read_whole(disk)) {
        discard_output_file(&out);
        return -1;
    }
    return commit_output_file(&out);
}

} // namespace kz

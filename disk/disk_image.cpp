// Loading a floppy image whole into memory and unpacking its FAT12 table.
#include "disk/disk.h"

#include "io/input_file.h"
#include "terminal/terminal.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>

namespace kz {

namespace {

// The fixed layout puts the root directory in units 5 to 10; an image that
// stops before its end cannot be the disk, and refusing it here keeps every
// later look-up inside the loaded bytes.
constexpr std::int64_t min_disk_length = root_dir_end;

constexpr std::int64_t max_image_length = std::numeric_limits<std::int32_t>::max();

int fail_load(disk_image* disk) {
    release_disk_image(disk);
    return -1;
}

// Reads the whole stream into the record's own buffer: its length from a
// seek to the end, then one read of one item of that length, so that an
// empty file reads no item and fails.
int read_disk_stream(disk_image* disk, std::FILE* stream, const char* path) {
    const std::int64_t end = seek_to_end(stream);
    if (end < 0) {
        print_message("seek error '%s' (SEEK_END)\n", path);
        return -1;
    }
    if (end > max_image_length) {
        print_message("disk image too large '%s'\n", path);
        return -1;
    }
    const auto length = static_cast<std::int32_t>(end);
    disk->image_length = length;

    if (std::fseek(stream, 0, SEEK_SET) != 0) {
        print_message("seek error '%s' (SEEK_SET)\n", path);
        return -1;
    }

    std::vector<std::uint8_t>& buffer = disk->storage.buffer;
    try {
        buffer.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!\n");
        return -1;
    }
    if (length == 0 || std::fread(buffer.data(), buffer.size(), 1, stream) != 1) {
        print_message("read error '%s'\n", path);
        return -1;
    }
    disk->storage.bytes = buffer;
    disk->image = buffer;
    return 0;
}

} // namespace

int load_disk_image(disk_image* disk, const char* path, std::int32_t disk_offset) {
    release_disk_image(disk);
    disk->disk_offset = disk_offset;

    input_file stream = open_input_file(path);
    if (!stream) {
        print_message("open error '%s'\n", path);
        return fail_load(disk);
    }
    return load_disk_stream(disk, stream.get(), path, disk_offset);
}

int load_disk_stream(disk_image* disk, std::FILE* stream, const char* path,
                     std::int32_t disk_offset) {
    release_disk_image(disk);
    disk->disk_offset = disk_offset;

    // A regular file is mapped rather than read: the extractor looks at a
    // fifth of the image and the changer changes less, and a mapping costs
    // only the pages that are used. Anything else is read whole, with the
    // messages of each step.
    if (map_file_content(stream, max_image_length, &disk->storage)) {
        disk->image = disk->storage.bytes;
        disk->image_length = static_cast<std::int32_t>(disk->image.size());
    } else if (read_disk_stream(disk, stream, path) != 0) {
        return fail_load(disk);
    }
    const std::int32_t length = disk->image_length;

    const std::int64_t needed = static_cast<std::int64_t>(disk_offset) + min_disk_length;
    if (disk_offset < 0 || length < needed) {
        print_message("disk image too short '%s' %d < %d\n", path, static_cast<int>(length),
                    static_cast<int>(needed));
        return fail_load(disk);
    }

    if (!decode_fat12(disk->image, disk_offset, &disk->fat_entry_count, &disk->fat)) {
        print_message("can't get fat '%s' offset=%08X\n", path, static_cast<unsigned>(disk_offset));
        return fail_load(disk);
    }
    return 0;
}

void release_disk_image(disk_image* disk) {
    // Assigning a fresh record would keep the old capacity; swapping with
    // empty vectors really gives the memory back (and unmaps a mapped image).
    disk->image = {};
    disk->storage.bytes = {};
    disk->storage.mapping.reset();
    std::vector<std::uint8_t>().swap(disk->storage.buffer);
    std::vector<std::int32_t>().swap(disk->fat);
    disk->disk_offset = 0;
    disk->image_length = 0;
    disk->fat_entry_count = 0;
}

// FAT12 packs two 12-bit entries into every three bytes, least significant
// first: bytes b0 b1 b2 hold entry 2k = b0 | (b1 & 0x0F) << 8 and entry
// 2k + 1 = b1 >> 4 | b2 << 4. The table has one entry per 1024-byte unit of
// the data area; entries 0 and 1 (media byte and filler) are kept as stored.
bool decode_fat12(std::span<const std::uint8_t> image, std::int32_t disk_offset,
                  std::int32_t* entry_count, std::vector<std::int32_t>* fat) {
    const auto image_length = static_cast<std::int64_t>(image.size());
    const std::int64_t count = (image_length - disk_offset) / disk_unit_size;
    const bool representable = count >= std::numeric_limits<std::int32_t>::min() &&
                               count <= std::numeric_limits<std::int32_t>::max();
    *entry_count = representable ? static_cast<std::int32_t>(count) : 0;
    // A negative count (an image shorter than its data offset) has no table.
    if (!representable || count < 0) {
        print_message("memory exhaust!");
        return false;
    }
    try {
        fat->assign(static_cast<std::size_t>(count), 0);
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!");
        return false;
    }

    // Bytes past the end of the image read as 0.
    auto byte_at = [&](std::int64_t pos) -> std::uint32_t {
        return pos >= 0 && pos < image_length ? image[static_cast<std::size_t>(pos)] : 0u;
    };
    std::int64_t pos = static_cast<std::int64_t>(disk_offset) + fat_area_offset;
    for (std::int64_t n = 0; n < count; n += 2, pos += 3) {
        const std::uint32_t value = byte_at(pos) | byte_at(pos + 1) << 8 | byte_at(pos + 2) << 16;
        (*fat)[static_cast<std::size_t>(n)] = static_cast<std::int32_t>(value & 0xFFF);
        if (n + 1 < count) {
            (*fat)[static_cast<std::size_t>(n + 1)] = static_cast<std::int32_t>(value >> 12);
        }
    }
    return true;
}

} // namespace kz

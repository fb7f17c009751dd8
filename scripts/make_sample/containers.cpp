// Writing the sample disk in each container.
#include "containers.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kz::sample {
namespace {

constexpr std::uint8_t size_code_1024 = 3; // N: 128 << 3 bytes

std::span<const std::uint8_t> sector_of(const byte_vector& disk, int track, int record) {
    return std::span(disk).subspan((static_cast<std::size_t>(track) * sectors_per_track +
                                    static_cast<std::size_t>(record) - 1) *
                                       unit_size,
                                   unit_size);
}

// A real drive reads a track's sectors in the order they pass the head; an
// interleaved track stores them out of order, as many D88 files do.
constexpr std::array<int, sectors_per_track> interleave{1, 4, 7, 2, 5, 8, 3, 6};

// NFD and FDD list every track's sector IDs in a table of fixed size, from
// table_offset, entry_size bytes an entry. Entries beyond the disk's tracks
// and sectors are unused (C 0xFF); fill(at, track, entry) writes each of the
// others, in table order.
template <typename Fill>
void fill_sector_table(byte_vector& image, std::size_t table_offset, int table_tracks,
                       int table_entries, std::size_t entry_size, Fill fill) {
    for (int track = 0; track < table_tracks; ++track) {
        for (int entry = 0; entry < table_entries; ++entry) {
            const std::size_t at = table_offset + (static_cast<std::size_t>(track) * table_entries +
                                                   static_cast<std::size_t>(entry)) *
                                                      entry_size;
            if (track >= track_count || entry >= sectors_per_track) {
                image[at] = 0xFF;
            } else {
                fill(at, track, entry);
            }
        }
    }
}

} // namespace

// FDI: eight 32-bit fields (reserved, media type 0x90 for 1.2 MB 2HD, header
// size, data size, sector size, sectors per track, heads, cylinders), padded
// with zeros to 4096 bytes.
byte_vector make_fdi_header() {
    byte_vector header(fdi_header_size, 0);
    put_le32(header, 0x04, 0x90);
    put_le32(header, 0x08, static_cast<std::uint32_t>(fdi_header_size));
    put_le32(header, 0x0C, static_cast<std::uint32_t>(disk_size));
    put_le32(header, 0x10, unit_size);
    put_le32(header, 0x14, sectors_per_track);
    put_le32(header, 0x18, head_count);
    put_le32(header, 0x1C, cylinder_count);
    return header;
}

// D88: a 0x2B0-byte header (name, write protect, media 0x20 for 2HD, disk
// size, 164 track offsets), then each track's sectors, each a 16-byte
// sector header (C, H, R, N, sector count, density, deleted mark, status,
// data length) and its data.
byte_vector make_d88(const byte_vector& disk) {
    constexpr std::size_t header_size = 0x2B0;
    byte_vector image(header_size, 0);
    std::memcpy(image.data(), "VARNHOLM SAMPLE", 15);
    image[0x1B] = 0x20;
    for (int track = 0; track < track_count; ++track) {
        put_le32(image, 0x20 + 4 * static_cast<std::size_t>(track),
                 static_cast<std::uint32_t>(image.size()));
        for (int record : interleave) {
            std::array<std::uint8_t, 16> sector{};
            sector[0] = static_cast<std::uint8_t>(track / head_count);
            sector[1] = static_cast<std::uint8_t>(track % head_count);
            sector[2] = static_cast<std::uint8_t>(record);
            sector[3] = size_code_1024;
            put_le16(sector, 4, sectors_per_track);
            put_le16(sector, 14, unit_size);
            image.insert(image.end(), sector.begin(), sector.end());
            const auto data = sector_of(disk, track, record);
            image.insert(image.end(), data.begin(), data.end());
        }
    }
    put_le32(image, 0x1C, static_cast<std::uint32_t>(image.size()));
    return image;
}

// NFD revision 0: the mark "T98FDDIMAGE.R0", a comment, the header size,
// the number of heads, and 163 tracks x 26 sector IDs (C, H, R, N, MFM flag,
// deleted mark, status, ST0-ST2, PDA 0x90 for 2HD; C 0xFF: unused), then
// the sectors' data in the table's order.
byte_vector make_nfd(const byte_vector& disk) {
    constexpr int table_tracks = 163;
    constexpr int table_entries = 26;
    constexpr std::size_t header_size = 0x120 + std::size_t{table_tracks} * table_entries * 16;
    byte_vector image(header_size, 0);
    std::memcpy(image.data(), "T98FDDIMAGE.R0", 14);
    std::memcpy(image.data() + 0x10, "Varnholm sample disk", 20);
    put_le32(image, 0x110, static_cast<std::uint32_t>(header_size));
    image[0x115] = head_count;
    const auto fill = [&](std::size_t at, int track, int entry) {
        const int record = interleave[static_cast<std::size_t>(entry)];
        image[at] = static_cast<std::uint8_t>(track / head_count);
        image[at + 1] = static_cast<std::uint8_t>(track % head_count);
        image[at + 2] = static_cast<std::uint8_t>(record);
        image[at + 3] = size_code_1024;
        image[at + 4] = 1;     // MFM
        image[at + 10] = 0x90; // 2HD
        const auto data = sector_of(disk, track, record);
        image.insert(image.end(), data.begin(), data.end());
    };
    fill_sector_table(image, 0x120, table_tracks, table_entries, 16, fill);
    return image;
}

// FDD (Virtual98): the mark "VFD1.00", a comment, and 160 tracks x 26
// entries of 12 bytes (C, H, R, N, fill byte, deleted mark, MFM flag, HD
// flag, data offset; C 0xFF: unused). A sector of one repeated byte is not
// stored: its offset is 0xFFFFFFFF and its fill byte says what it holds.
byte_vector make_fdd(const byte_vector& disk) {
    constexpr int table_tracks = 160;
    constexpr int table_entries = 26;
    constexpr std::size_t header_size = 0xC3FC;
    byte_vector image(header_size, 0);
    std::memcpy(image.data(), "VFD1.00", 7);
    std::memcpy(image.data() + 0x08, "Varnholm sample disk", 20);
    const auto fill = [&](std::size_t at, int track, int entry) {
        const int record = entry + 1;
        const auto data = sector_of(disk, track, record);
        const bool uniform =
            std::all_of(data.begin(), data.end(), [&](std::uint8_t b) { return b == data[0]; });
        image[at] = static_cast<std::uint8_t>(track / head_count);
        image[at + 1] = static_cast<std::uint8_t>(track % head_count);
        image[at + 2] = static_cast<std::uint8_t>(record);
        image[at + 3] = size_code_1024;
        image[at + 4] = data[0];
        image[at + 6] = 1; // MFM
        image[at + 7] = 1; // HD
        if (uniform) {
            put_le32(image, at + 8, 0xFFFFFFFF);
        } else {
            put_le32(image, at + 8, static_cast<std::uint32_t>(image.size()));
            image.insert(image.end(), data.begin(), data.end());
        }
    };
    fill_sector_table(image, 0xDC, table_tracks, table_entries, 12, fill);
    return image;
}

// DIM (X68000): type 0 for 2HD, a present flag per track, the mark
// "DIFC HEADER  ", then every track's 8 sectors in order.
byte_vector make_dim(const byte_vector& disk) {
    byte_vector image(256, 0);
    for (int track = 0; track < track_count; ++track) {
        image[1 + static_cast<std::size_t>(track)] = 1;
    }
    std::memcpy(image.data() + 0xAB, "DIFC HEADER  ", 13);
    image.insert(image.end(), disk.begin(),
                 disk.begin() + static_cast<std::ptrdiff_t>(track_count * track_size));
    return image;
}

} // namespace kz::sample

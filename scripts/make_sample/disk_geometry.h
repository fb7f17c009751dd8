// The sample disk's geometry, shared by the FAT disk and its containers,
// and the little-endian stores that both write their fields with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kz::sample {

using byte_vector = std::vector<std::uint8_t>;

// Disk geometry: 77 cylinders x 2 heads x 8 sectors of 1024 bytes.
constexpr int unit_size = 1024;
constexpr int unit_count = 1232;
constexpr int sectors_per_track = 8;
constexpr int head_count = 2;
constexpr int cylinder_count = unit_count / (sectors_per_track * head_count);
constexpr std::size_t disk_size = std::size_t{unit_size} * unit_count;
constexpr std::size_t fdi_header_size = 4096;

constexpr int track_count = cylinder_count * head_count; // 154
constexpr std::size_t track_size = std::size_t{sectors_per_track} * unit_size;

inline void put_le16(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

inline void put_le32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    put_le16(out, at, value & 0xFFFF);
    put_le16(out, at + 2, value >> 16);
}

} // namespace kz::sample

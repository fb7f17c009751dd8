// The sample's pictures: every TILES.CH shape and EGA/CGA tile shows its
// number or a picture that makes the tools' adjustments visible, every
// NPC.CH shape a numbered figure with its silhouette in the fourth plane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kz::sample {

constexpr int shape_count = 256;
constexpr int shape_size = 32;
constexpr int plane_bytes = shape_size * shape_size / 8; // 128
constexpr int tiles_ch_planes = 3;
constexpr int npc_ch_planes = 4;
constexpr std::size_t tiles_ch_size =
    std::size_t{shape_count} * tiles_ch_planes * plane_bytes; // 98304
constexpr std::size_t npc_ch_size =
    std::size_t{shape_count} * npc_ch_planes * plane_bytes; // 131072

constexpr int tile_count = 512;
constexpr int tile_size = 16;
constexpr std::size_t ega_tiles_size = std::size_t{tile_count} * tile_size * tile_size / 2; // 65536
constexpr std::size_t cga_tiles_size = std::size_t{tile_count} * tile_size * tile_size / 4; // 32768

// TILES.CH and NPC.CH, in the game's planar shape format.
std::vector<std::uint8_t> make_tiles_ch();
std::vector<std::uint8_t> make_npc_ch();

// Decoded EGA TILES.16 (4 bits a pixel) and CGA TILES.4 (2 bits a pixel).
std::vector<std::uint8_t> make_ega_tiles();
std::vector<std::uint8_t> make_cga_tiles();

} // namespace kz::sample

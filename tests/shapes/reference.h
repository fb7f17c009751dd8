// Slow, bit-at-a-time readings of the formats and the game's shape lists,
// written independently of the library so the tests can compare against them.
#pragma once

#include "shapes/shapes.h"
#include "shapes/tiles.h"

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace kz::ref {

using bytes = std::vector<std::uint8_t>;

inline bytes random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    bytes data(size);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random());
    }
    return data;
}

inline sheet_span as_sheet(bytes& data) { return sheet_span(data.data(), sheet_bytes); }
inline tile_sheet_span as_tile_sheet(bytes& data) { return tile_sheet_span(data.data(), tile_sheet_bytes); }
inline tiles_span as_tiles(const bytes& data) { return tiles_span(data.data(), tiles_buffer_size); }

// The landform shapes as the game lists them.
inline bool listed_grass(int n) {
    return n == 5 || (n >= 30 && n <= 38) || (n >= 48 && n <= 55) || n == 76 ||
           (n >= 96 && n <= 111);
}

inline int listed_water_code(int n) {
    if (n >= 52 && n <= 55) return 208 + (n - 52);
    if (n >= 96 && n <= 111) return n + 16;
    if (n >= 228 && n <= 231) return -(208 + (n - 228));
    return 0;
}

// Colour index of pixel (x, y) of shape n, reading one bit of every plane.
inline int planar_pixel(std::span<const std::uint8_t> file, int planes, int n, int x, int y,
                        bool red_green_exchanged = false) {
    int index = 0;
    for (int p = 0; p < planes; ++p) {
        const std::uint8_t byte = file[(n * planes + p) * 128 + y * 4 + x / 8];
        if ((byte & (0x80 >> (x % 8))) != 0) {
            const int bit = red_green_exchanged && (p == 1 || p == 2) ? 3 - p : p;
            index |= 1 << bit;
        }
    }
    return index;
}

inline std::uint8_t& sheet_pixel(bytes& sheet, int x, int y) { return sheet[y * 512 + x]; }

// Pixel (x, y) of shape n of a file on the sheet (NPC.CH below TILES.CH).
inline std::uint8_t& shape_pixel(bytes& sheet, bool npc, int n, int x, int y) {
    return sheet_pixel(sheet, (n % 16) * 32 + x, ((npc ? 16 : 0) + n / 16) * 32 + y);
}

// Pixel (x, y) of tile t in a packed tile file, addressed by its bit position.
inline int tile_pixel(std::span<const std::uint8_t> tiles, int pixels_per_byte, int t, int x, int y) {
    const int bits = 8 / pixels_per_byte;
    const long bit = (long{t} * 256 + y * 16 + x) * bits;
    return (tiles[static_cast<std::size_t>(bit / 8)] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
}

inline std::uint8_t& tile_sheet_pixel(bytes& sheet, int t, int x, int y) {
    return sheet[((t / 16) * 16 + y) * 256 + (t % 16) * 16 + x];
}

} // namespace kz::ref

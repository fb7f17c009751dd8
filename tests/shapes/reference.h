// Slow, bit-at-a-time readings of the formats and the game's shape lists,
// written independently of the library so that the tests can compare with them.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "shapes/shapes.h"
#include "shapes/tiles.h"

namespace kz::ref {

using bytes = std::vector<std::uint8_t>;

// Random bytes; with a modulus, pixel values of which about half are 0.
inline bytes random_bytes(std::size_t size, unsigned seed, int modulus = 0) {
    std::mt19937 random(seed);
    bytes data(size);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random());
        b = modulus == 0 ? b : b < 128 ? 0 : b % modulus;
    }
    return data;
}

inline sheet_span as_sheet(bytes& b) {
    return sheet_span(b.data(), sheet_bytes);
}
inline tile_sheet_span as_tile_sheet(bytes& b) {
    return tile_sheet_span(b.data(), tile_sheet_bytes);
}
inline tiles_span as_tiles(const bytes& b) {
    return tiles_span(b.data(), tiles_buffer_size);
}

// The landform shapes as the game lists them.
inline bool listed_grass(int n) {
    return n == 5 || (n >= 30 && n <= 38) || (n >= 48 && n <= 55) || n == 76 ||
           (n >= 96 && n <= 111);
}

inline int listed_water_code(int n) {
    return n >= 52 && n <= 55     ? 208 + (n - 52)
           : n >= 96 && n <= 111  ? n + 16
           : n >= 228 && n <= 231 ? -(208 + (n - 228))
                                  : 0;
}

// Colour index of pixel (x, y) of shape n, one bit of every plane; with the
// dungeon exchange, planes 1 and 2 trade their colour bits.
inline int planar_pixel(const bytes& file, int planes, int n, int x, int y, bool exchanged) {
    int index = 0;
    for (int p = 0; p < planes; ++p) {
        if (file[(n * planes + p) * 128 + y * 4 + x / 8] & (0x80 >> (x % 8))) {
            index |= 1 << (exchanged && (p == 1 || p == 2) ? 3 - p : p);
        }
    }
    return index;
}

// Pixel (x, y) of shape n of a file on the sheet, NPC.CH below TILES.CH.
inline std::uint8_t& shape_pixel(bytes& sheet, bool npc, int n, int x, int y) {
    return sheet[(((npc ? 16 : 0) + n / 16) * 32 + y) * 512 + (n % 16) * 32 + x];
}

// Pixel (x, y) of tile t in a packed tile file, found by its bit position.
inline int tile_pixel(const bytes& tiles, int pixels_per_byte, int t, int x, int y) {
    const int bits = 8 / pixels_per_byte;
    const long bit = (long{t} * 256 + y * 16 + x) * bits;
    return tiles[bit / 8] >> (8 - bits - bit % 8) & ((1 << bits) - 1);
}

inline std::uint8_t& tile_sheet_pixel(bytes& sheet, int t, int x, int y) {
    return sheet[((t / 16) * 16 + y) * 256 + (t % 16) * 16 + x];
}

} // namespace kz::ref

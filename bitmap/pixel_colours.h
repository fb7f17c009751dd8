// How a pixel buffer's pixels read as colours, for the conversion and for
// the census of what it takes to the nearest colour, which must read them
// alike. Private to the bitmap library.
#pragma once

#include "bitmap/bitmap.h"

#include <array>
#include <cstdint>

namespace kz {

struct colour {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// A 1-bit source or target without a palette reads as black and white.
constexpr std::array<std::uint8_t, 8> black_and_white{0, 0, 0, 0, 255, 255, 255, 0};

// A source byte outside the palette is read the way the writer would store
// it in a file: at 1 bit any non-zero byte is the set pixel, at 4 bits only
// the low nibble counts. So the index never leaves the palette.
inline int source_index(std::uint8_t value, int bit_count) {
    if (bit_count == 1) {
        return value != 0 ? 1 : 0;
    }
    if (bit_count == 4) {
        return value & 0x0F;
    }
    return value;
}

inline colour entry_colour(const std::uint8_t* palette, int index) {
    const std::uint8_t* entry = palette + static_cast<std::size_t>(index) * palette_entry_size;
    return {entry[2], entry[1], entry[0]};
}

// 16-bit pixels are 5 bits each of blue (0-4), green (5-9) and red (10-14);
// bit 15 is not used. Widening repeats the top bits so that 31 gives 255.
inline int widen5(unsigned value) {
    value &= 0x1F;
    return static_cast<int>(value << 3 | value >> 2);
}

// A direct-colour pixel of 2, 3 or 4 bytes.
inline colour read_colour(const std::uint8_t* pixel, int bytes) {
    if (bytes == 2) {
        const unsigned value = get_le16(pixel);
        return {widen5(value >> 10), widen5(value >> 5), widen5(value)};
    }
    return {pixel[2], pixel[1], pixel[0]};
}

// The colour as 0xRRGGBB.
inline std::uint32_t packed_rgb(colour c) {
    return static_cast<std::uint32_t>(c.red) << 16 | static_cast<std::uint32_t>(c.green) << 8 |
           static_cast<std::uint32_t>(c.blue);
}

} // namespace kz

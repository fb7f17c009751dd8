// Packing rows of one-byte pixels into the 1-bit and 4-bit bytes that
// bitmaps and PNG files alike store: the leftmost pixel in the high bits; a
// 1-bit pixel set by any non-zero byte, a 4-bit pixel the byte's low nibble.
// Private to the bitmap library, whose writers share it.
#pragma once

#include <cstdint>

namespace kz {

// Packs count pixels into 1-bit bytes; a last byte with fewer than 8 pixels
// has them in its top bits.
void pack_1bit(const std::uint8_t* pixels, std::uint64_t count, std::uint8_t* out);

// Packs count pixels into 4-bit bytes, the left pixel in the high nibble;
// only a pixel's low nibble is stored. An odd last pixel gets a zero nibble.
void pack_4bit(const std::uint8_t* pixels, std::uint64_t count, std::uint8_t* out);

} // namespace kz

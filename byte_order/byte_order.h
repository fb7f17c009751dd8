// Little-endian fields of the files the tools read and write (bitmap headers,
// directory entries, planar shape lines), composed and taken apart one byte at
// a time so that the host's byte order and alignment never matter. Every byte
// is widened before it is shifted: a byte promoted to int and shifted by 24
// would overflow for values of 0x80 and above. Signed fields are the
// unsigned value converted, which C++ defines as two's complement.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kz {

// Store the low 32 or 16 bits of the value at dst; give dst advanced past them.
inline std::uint8_t* put_le32(std::uint8_t* dst, std::uint32_t value) {
    dst[0] = static_cast<std::uint8_t>(value);
    dst[1] = static_cast<std::uint8_t>(value >> 8);
    dst[2] = static_cast<std::uint8_t>(value >> 16);
    dst[3] = static_cast<std::uint8_t>(value >> 24);
    return dst + 4;
}

inline std::uint8_t* put_le16(std::uint8_t* dst, std::uint16_t value) {
    dst[0] = static_cast<std::uint8_t>(value);
    dst[1] = static_cast<std::uint8_t>(value >> 8);
    return dst + 2;
}

// The value at src; with a cursor, src advanced past it is stored there, so
// that a header is taken field after field.
inline std::uint32_t get_le32(const std::uint8_t* src, const std::uint8_t** cursor = nullptr) {
    const std::uint32_t value =
        static_cast<std::uint32_t>(src[0]) | static_cast<std::uint32_t>(src[1]) << 8 |
        static_cast<std::uint32_t>(src[2]) << 16 | static_cast<std::uint32_t>(src[3]) << 24;
    if (cursor != nullptr) {
        *cursor = src + 4;
    }
    return value;
}

inline std::uint16_t get_le16(const std::uint8_t* src, const std::uint8_t** cursor = nullptr) {
    const auto value = static_cast<std::uint16_t>(static_cast<std::uint32_t>(src[0]) |
                                                  static_cast<std::uint32_t>(src[1]) << 8);
    if (cursor != nullptr) {
        *cursor = src + 2;
    }
    return value;
}

inline std::int32_t get_le32_signed(const std::uint8_t* src,
                                    const std::uint8_t** cursor = nullptr) {
    return static_cast<std::int32_t>(get_le32(src, cursor));
}

// Eight bytes as one word, the first in the lowest bits, for code that works
// on eight one-byte pixels at once. On a little-endian machine that is a
// plain (unaligned) load.
inline std::uint64_t load_8(const std::uint8_t* bytes) {
    std::uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, bytes, sizeof word);
    } else {
        for (int i = 0; i < 8; ++i) {
            word |= std::uint64_t{bytes[i]} << (8 * i);
        }
    }
    return word;
}

} // namespace kz

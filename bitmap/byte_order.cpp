// Little-endian fields of the bitmap headers, composed and taken apart one
// byte at a time so that the host's byte order and alignment never matter.
#include "bitmap/bitmap.h"

namespace kz {

std::uint8_t* put_le32(std::uint8_t* dst, std::uint32_t value) {
    dst[0] = static_cast<std::uint8_t>(value);
    dst[1] = static_cast<std::uint8_t>(value >> 8);
    dst[2] = static_cast<std::uint8_t>(value >> 16);
    dst[3] = static_cast<std::uint8_t>(value >> 24);
    return dst + 4;
}

std::uint8_t* put_le16(std::uint8_t* dst, std::uint16_t value) {
    dst[0] = static_cast<std::uint8_t>(value);
    dst[1] = static_cast<std::uint8_t>(value >> 8);
    return dst + 2;
}

std::uint32_t get_le32(const std::uint8_t* src, const std::uint8_t** cursor) {
    // Widened before shifting: a byte promoted to int and shifted by 24 would
    // overflow for values of 0x80 and above.
    const std::uint32_t value =
        static_cast<std::uint32_t>(src[0]) | static_cast<std::uint32_t>(src[1]) << 8 |
        static_cast<std::uint32_t>(src[2]) << 16 | static_cast<std::uint32_t>(src[3]) << 24;
    if (cursor != nullptr) {
        *cursor = src + 4;
    }
    return value;
}

std::uint16_t get_le16(const std::uint8_t* src, const std::uint8_t** cursor) {
    const auto value = static_cast<std::uint16_t>(static_cast<std::uint32_t>(src[0]) |
                                                  static_cast<std::uint32_t>(src[1]) << 8);
    if (cursor != nullptr) {
        *cursor = src + 2;
    }
    return value;
}

} // namespace kz

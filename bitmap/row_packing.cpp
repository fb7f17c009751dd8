// Rows of one-byte pixels packed into 1-bit and 4-bit bytes (row_packing.h).
#include "bitmap/row_packing.h"

#include "byte_order/byte_order.h"

namespace kz {
namespace {

// 8 pixels to a 1-bit byte at once: the top bit of each byte of the word is
// set where that pixel is non-zero (adding 0x7F to the low seven bits carries
// into bit 7 unless they are all 0, and cannot carry further), and the
// multiplication gathers bit 8i to bit 63 - i without any two partial
// products meeting, so the top byte holds the pixels leftmost first.
std::uint8_t pack_8_pixels(std::uint64_t pixels) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7F;
    constexpr std::uint64_t top = 0x8080808080808080;
    const std::uint64_t set = (((pixels & low7) + low7) | pixels) & top;
    return static_cast<std::uint8_t>(((set >> 7) * 0x8040201008040201) >> 56);
}

} // namespace

void pack_1bit(const std::uint8_t* pixels, std::uint64_t count, std::uint8_t* out) {
    std::uint64_t x = 0;
    for (; count - x >= 8; x += 8) {
        *out++ = pack_8_pixels(load_8(pixels + x));
    }
    if (x < count) {
        std::uint8_t byte = 0;
        for (int i = 0; x + i < count; ++i) {
            if (pixels[x + i] != 0) {
                byte |= static_cast<std::uint8_t>(0x80 >> i);
            }
        }
        *out = byte;
    }
}

void pack_4bit(const std::uint8_t* pixels, std::uint64_t count, std::uint8_t* out) {
    const std::uint64_t pairs = count / 2;
    for (std::uint64_t i = 0; i < pairs; ++i) {
        out[i] = static_cast<std::uint8_t>(pixels[2 * i] << 4 | (pixels[2 * i + 1] & 0x0F));
    }
    if (count % 2 != 0) {
        out[pairs] = static_cast<std::uint8_t>(pixels[count - 1] << 4);
    }
}

} // namespace kz

// The little-endian field helpers.
#include "byte_order/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace kz::test {
namespace {

using bytes = std::vector<std::uint8_t>;

// Fields with the top bit of a byte set come back neither cut nor
// sign-extended (and negative only when read as signed), the first byte is
// always the lowest, and every cursor and store moves past its field.
TEST(byte_order, fields_read_and_write_little_endian_whatever_their_high_bits) {
    const bytes field = {0x01, 0x7F, 0xFF, 0x80, 0x00, 0xFE, 0x10, 0x92};
    const struct {
        std::size_t at;
        std::uint32_t le32;
        std::int32_t signed32;
        std::uint16_t le16;
    } cases[] = {{0, 0x80FF7F01, -0x7F0080FF, 0x7F01},
                 {1, 0x0080FF7F, 0x0080FF7F, 0xFF7F},
                 {2, 0xFE0080FF, -0x01FF7F01, 0x80FF},
                 {4, 0x9210FE00, -0x6DEF0200, 0xFE00}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at);
        const std::uint8_t* src = field.data() + c.at;
        const std::uint8_t* cursor32 = nullptr;
        const std::uint8_t* cursor_signed = nullptr;
        const std::uint8_t* cursor16 = nullptr;
        EXPECT_EQ(get_le32(src, &cursor32), c.le32);
        EXPECT_EQ(get_le32_signed(src, &cursor_signed), c.signed32);
        EXPECT_EQ(get_le16(src, &cursor16), c.le16);
        EXPECT_EQ(std::tuple(cursor32 - src, cursor_signed - src, cursor16 - src),
                  std::tuple(4, 4, 2));

        bytes stored(6, 0xAA);
        EXPECT_EQ(put_le32(stored.data(), c.le32), stored.data() + 4);
        EXPECT_EQ(put_le16(stored.data() + 4, c.le16), stored.data() + 6);
        const bytes expected = {src[0], src[1], src[2], src[3], src[0], src[1]};
        EXPECT_EQ(stored, expected);
    }
    EXPECT_EQ(load_8(field.data()), 0x9210FE0080FF7F01u);
}

} // namespace
} // namespace kz::test

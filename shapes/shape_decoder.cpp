// Planar shape files TILES.CH (3 planes) and NPC.CH (4 planes).
//
// A file is 256 shape records back to back. A record is one 128-byte block per
// plane, plane 0 first; a block is 32 lines of 4 bytes, top line first; in a
// byte bit 7 is the leftmost of its eight pixels. Plane p carries bit p of the
// colour index.
#include "shapes/shapes.h"

#include "byte_order/byte_order.h"

#include <bit>
#include <cstring>
#include <utility>

namespace kz {
namespace {

constexpr int line_bytes = shape_size / 8;

// For each colour bit value (1, 2, 4, 8) and plane byte: the byte's eight
// pixels, leftmost first, each 0 or that value, in memory order in a 64-bit
// word. ORing such words combines each pixel byte alone (no value exceeds
// 15, so nothing carries), and the result is ORed straight into eight sheet
// bytes whatever the machine's byte order.
using pixel_runs = std::array<std::uint64_t, 256>;

constexpr std::array<pixel_runs, 4> make_plane_runs() {
    std::array<pixel_runs, 4> runs{};
    for (int bit = 0; bit < 4; ++bit) {
        for (int value = 0; value < 256; ++value) {
            std::array<std::uint8_t, 8> pixels{};
            for (int i = 0; i < 8; ++i) {
                pixels[i] = static_cast<std::uint8_t>(((value >> (7 - i)) & 1) << bit);
            }
            runs[bit][value] = std::bit_cast<std::uint64_t>(pixels);
        }
    }
    return runs;
}

constexpr std::array<pixel_runs, 4> plane_runs = make_plane_runs();

// ORs one shape record into its square of the sheet, eight pixels at a time.
// The plane count is a template argument so that the plane loop unrolls.
template <int planes>
void or_planes(std::uint8_t* square, const std::uint8_t* record,
               const std::array<int, 4>& plane_bit) {
    std::array<const std::uint64_t*, 4> runs{};
    for (int p = 0; p < planes; ++p) {
        runs[p] = plane_runs[plane_bit[p]].data();
    }
    for (int y = 0; y < shape_size; ++y) {
        // A plane's four bytes of the line, first byte in the low bits.
        std::array<std::uint32_t, planes> line{};
        for (int p = 0; p < planes; ++p) {
            line[p] = get_le32(record + p * plane_bytes + y * line_bytes);
        }
        std::uint8_t* target = square + y * sheet_width;
        for (int k = 0; k < line_bytes; ++k) {
            std::uint64_t pixels = 0;
            for (int p = 0; p < planes; ++p) {
                pixels |= runs[p][(line[p] >> (8 * k)) & 0xff];
            }
            std::uint64_t held;
            std::memcpy(&held, target + 8 * k, sizeof held);
            held |= pixels;
            std::memcpy(target + 8 * k, &held, sizeof held);
        }
    }
}

} // namespace

std::int64_t shape_record_offset(int sheet_row_base, int shape_row, int shape_column,
                                 int plane_count, std::size_t file_size) {
    if (shape_row < 0 || shape_row >= tiles_shape_rows || shape_column < 0 ||
        shape_column >= sheet_columns || plane_count < 1 || plane_count > npc_ch_planes) {
        return -1;
    }
    const std::int64_t sheet_row = std::int64_t{sheet_row_base} + shape_row;
    if (sheet_row < 0 || sheet_row >= sheet_rows) {
        return -1;
    }
    const std::uint64_t record_size = std::uint64_t(plane_count) * plane_bytes;
    const std::uint64_t offset =
        std::uint64_t(shape_row * sheet_columns + shape_column) * record_size;
    if (offset > file_size || record_size > file_size - offset) {
        return -1;
    }
    return static_cast<std::int64_t>(offset);
}

int decode_shape(sheet_span sheet, int sheet_row_base, int shape_row, int shape_column,
                 std::span<const std::uint8_t> file_data, int plane_count, int dungeon) {
    const std::int64_t offset =
        shape_record_offset(sheet_row_base, shape_row, shape_column, plane_count, file_data.size());
    if (offset < 0) {
        return -1;
    }
    const std::uint8_t* record = file_data.data() + offset;
    std::uint8_t* square = sheet.data() + sheet_offset(sheet_row_base + shape_row, shape_column, 0);

    // Each plane's colour bit; on dungeon levels the grass shapes are drawn
    // with planes 1 and 2 (red and green) exchanged.
    std::array<int, 4> plane_bit = {0, 1, 2, 3};
    if (dungeon != 0 && is_dungeon_grass(shape_row, shape_column) != 0) {
        std::swap(plane_bit[1], plane_bit[2]);
    }

    switch (plane_count) {
    case 1:
        or_planes<1>(square, record, plane_bit);
        break;
    case 2:
        or_planes<2>(square, record, plane_bit);
        break;
    case 3:
        or_planes<3>(square, record, plane_bit);
        break;
    default:
        or_planes<4>(square, record, plane_bit);
        break;
    }
    return 0;
}

} // namespace kz

// From the shape sheet back to planar shape records, and the mask as the
// fourth colour bit.
#include "shapes/shapes.h"

#include <algorithm>

namespace kz {
namespace {

constexpr int line_bytes = shape_size / 8;
constexpr std::uint8_t mask_bit = 0x08;

// Bit p of a colour index moved to bit 8p, one byte per plane. Bits 4-7 have
// no plane in either file and are dropped here.
constexpr std::array<std::uint32_t, 256> make_plane_spread() {
    std::array<std::uint32_t, 256> spread{};
    for (int value = 0; value < 256; ++value) {
        for (int p = 0; p < npc_ch_planes; ++p) {
            if (((value >> p) & 1) != 0) {
                spread[value] |= std::uint32_t{1} << (8 * p);
            }
        }
    }
    return spread;
}

constexpr std::array<std::uint32_t, 256> plane_spread = make_plane_spread();

} // namespace

void merge_mask(std::span<std::uint8_t> sheet, std::span<const std::uint8_t> mask) {
    const std::size_t count = std::min(sheet.size(), mask.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (mask[i] != 0) {
            sheet[i] |= mask_bit;
        }
    }
}

int encode_shape(int sheet_row_base, int shape_row, int shape_column,
                 std::span<std::uint8_t> file_data, int plane_count, const_sheet_span sheet) {
    const std::int64_t offset =
        shape_record_offset(sheet_row_base, shape_row, shape_column, plane_count, file_data.size());
    if (offset < 0) {
        return -1;
    }
    const std::span<std::uint8_t> record =
        file_data.subspan(static_cast<std::size_t>(offset), std::size_t(plane_count) * plane_bytes);

    const int sheet_row = sheet_row_base + shape_row;
    for (int y = 0; y < shape_size; ++y) {
        const std::uint8_t* line = sheet.data() + sheet_offset(sheet_row, shape_column, y);
        for (int k = 0; k < line_bytes; ++k) {
            // Shift in eight pixels, leftmost first, so it ends in bit 7 of
            // each plane's byte; seven shifts never carry into the next plane.
            std::uint32_t planes = 0;
            for (int i = 0; i < 8; ++i) {
                planes = (planes << 1) | plane_spread[line[8 * k + i]];
            }
            for (int p = 0; p < plane_count; ++p) {
                record[p * plane_bytes + y * line_bytes + k] =
                    static_cast<std::uint8_t>(planes >> (8 * p));
            }
        }
    }
    return 0;
}

} // namespace kz

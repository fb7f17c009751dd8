// From the shape sheet back to planar shape records, and the mask as the
// fourth colour bit.
#include "shapes/shapes.h"

#include "byte_order/byte_order.h"

#include <algorithm>

namespace kz {
namespace {

constexpr int line_bytes = shape_size / 8;
constexpr std::uint8_t mask_bit = 0x08;

// Bit p of eight pixels as one plane byte, leftmost pixel in bit 7. After the
// mask, pixel i's bit sits at bit 8i; the multiplication moves it to bit
// 63 - i, and no two partial products share a bit, so the top byte is the
// plane byte. Bits 4-7 of a colour index have no plane and are never taken.
std::uint8_t plane_byte(std::uint64_t pixels, int plane) {
    constexpr std::uint64_t low_bits = 0x0101010101010101;
    return static_cast<std::uint8_t>((((pixels >> plane) & low_bits) * 0x8040201008040201) >> 56);
}

// Writes one shape's planes from its square of the sheet. The plane count
// is a template argument so that the plane loop unrolls.
template <int planes> void write_planes(std::uint8_t* record, const std::uint8_t* square) {
    for (int y = 0; y < shape_size; ++y) {
        const std::uint8_t* line = square + y * sheet_width;
        for (int k = 0; k < line_bytes; ++k) {
            const std::uint64_t pixels = load_8(line + 8 * k);
            for (int p = 0; p < planes; ++p) {
                record[p * plane_bytes + y * line_bytes + k] = plane_byte(pixels, p);
            }
        }
    }
}

// Whether the record holds exactly the planes write_planes would write.
template <int planes> bool planes_match(const std::uint8_t* record, const std::uint8_t* square) {
    for (int y = 0; y < shape_size; ++y) {
        const std::uint8_t* line = square + y * sheet_width;
        for (int k = 0; k < line_bytes; ++k) {
            const std::uint64_t pixels = load_8(line + 8 * k);
            for (int p = 0; p < planes; ++p) {
                if (record[p * plane_bytes + y * line_bytes + k] != plane_byte(pixels, p)) {
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace

void merge_mask(std::span<std::uint8_t> sheet, std::span<const std::uint8_t> mask) {
    const std::size_t count = std::min(sheet.size(), mask.size());
    // Without a branch, so that the loop works on many bytes at once.
    for (std::size_t i = 0; i < count; ++i) {
        sheet[i] |= static_cast<std::uint8_t>(mask[i] != 0 ? mask_bit : 0);
    }
}

int encode_shape(int sheet_row_base, int shape_row, int shape_column,
                 std::span<std::uint8_t> file_data, int plane_count, const_sheet_span sheet) {
    const std::int64_t offset =
        shape_record_offset(sheet_row_base, shape_row, shape_column, plane_count, file_data.size());
    if (offset < 0) {
        return -1;
    }
    std::uint8_t* record = file_data.data() + offset;
    const std::uint8_t* square =
        sheet.data() + sheet_offset(sheet_row_base + shape_row, shape_column, 0);
    switch (plane_count) {
    case 1:
        write_planes<1>(record, square);
        break;
    case 2:
        write_planes<2>(record, square);
        break;
    case 3:
        write_planes<3>(record, square);
        break;
    default:
        write_planes<4>(record, square);
        break;
    }
    return 0;
}

bool shape_matches_record(int sheet_row_base, int shape_row, int shape_column,
                          std::span<const std::uint8_t> file_data, int plane_count,
                          const_sheet_span sheet) {
    const std::int64_t offset =
        shape_record_offset(sheet_row_base, shape_row, shape_column, plane_count, file_data.size());
    if (offset < 0) {
        return false;
    }
    const std::uint8_t* record = file_data.data() + offset;
    const std::uint8_t* square =
        sheet.data() + sheet_offset(sheet_row_base + shape_row, shape_column, 0);
    switch (plane_count) {
    case 1:
        return planes_match<1>(record, square);
    case 2:
        return planes_match<2>(record, square);
    case 3:
        return planes_match<3>(record, square);
    default:
        return planes_match<4>(record, square);
    }
}

} // namespace kz

// The disk's pixels put back where a picture is transparent, shape by
// shape: only a shape that holds such a pixel is decoded from the disk.
#include "shapes/disk_under_transparency.h"


namespace kz {
namespace {

// The area's byte for a pixel of the sheet, 0 beyond the picture's lines.
std::uint8_t area_at(const transparent_area& area, std::size_t at) {
    return at < area.pixels.size() ? area.pixels[at] : 0;
}

bool square_has_transparency(std::span<const transparent_area> areas, int sheet_row, int column) {
    for (const transparent_area& area : areas) {
        for (int y = 0; y < shape_size; ++y) {
            const auto at = static_cast<std::size_t>(sheet_offset(sheet_row, column, y));
            if (at >= area.pixels.size()) {
                break;
            }
            const auto line = area.pixels.subspan(at, shape_size);
            for (const std::uint8_t clear : line) {
                if (clear != 0) {
                    return true;
                }
            }
        }
    }
    return false;
}

} // namespace

void keep_disk_under_transparency(sheet_span sheet, const shape_file_data& disk, bool tiles,
                                  bool npc, std::span<const transparent_area> areas,
                                  sheet_span scratch, shapes_with_transparency* marked) {
    marked->fill(false);
    for (int sheet_row = 0; sheet_row < sheet_rows; ++sheet_row) {
        if (!(is_npc_row(sheet_row) ? npc : tiles)) {
            continue;
        }
        for (int column = 0; column < sheet_columns; ++column) {
            if (!square_has_transparency(areas, sheet_row, column)) {
                continue;
            }
            (*marked)[static_cast<std::size_t>(sheet_row * sheet_columns + column)] = true;
            draw_disk_shape(disk, sheet_row, column, 0, scratch);
            for (int y = 0; y < shape_size; ++y) {
                const auto line = static_cast<std::size_t>(sheet_offset(sheet_row, column, y));
                for (std::size_t at = line; at < line + shape_size; ++at) {
                    std::uint8_t planes = 0;
                    for (const transparent_area& area : areas) {
                        planes |= area_at(area, at) != 0 ? area.planes : 0;
                    }
                    sheet[at] =
                        static_cast<std::uint8_t>((sheet[at] & ~planes) | (scratch[at] & planes));
                }
            }
        }
    }
}

} // namespace kz

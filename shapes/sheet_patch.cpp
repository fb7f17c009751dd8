#include "shapes/sheet_patch.h"

#include <cstring>

namespace kz {

void draw_patch(const sheet_verdicts& verdicts, sheet_span sheet, sheet_span transparent) {
    for (int sheet_row = 0; sheet_row < sheet_rows; ++sheet_row) {
        const std::uint8_t planes = file_plane_bits(sheet_row);
        for (int column = 0; column < sheet_columns; ++column) {
            const bool changed =
                verdicts.verdict[static_cast<std::size_t>(sheet_row * sheet_columns + column)] ==
                shape_verdict::changed;
            for (int y = 0; y < shape_size; ++y) {
                const auto line = static_cast<std::size_t>(sheet_offset(sheet_row, column, y));
                std::memset(transparent.data() + line, changed ? 0 : 1, shape_size);
                for (std::size_t at = line; at < line + shape_size; ++at) {
                    sheet[at] = changed ? static_cast<std::uint8_t>(sheet[at] & planes) : 0;
                }
            }
        }
    }
}

} // namespace kz

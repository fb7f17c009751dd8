// The sheet against the disk's shapes, shape by shape.
//
// Most shapes of a sheet put back are as stored, and telling that costs no
// more than encoding them: the sheet's planes are compared with the record's
// bytes. Only a shape that differs is drawn from the disk, under each set of
// adjustments that can change it, into its own square of the scratch sheet;
// a set that holds an adjustment that cannot change the shape draws what a
// smaller set already drew, and is passed over.
#include "shapes/sheet_comparison.h"

#include <algorithm>
#include <cstring>

namespace kz {
namespace {

constexpr std::array<const char*, adjustment_set_count> set_names = {
    "no adjustment",
    "water remake",
    "dungeon grass",
    "water remake and dungeon grass",
    "mirror room",
    "water remake and mirror room",
    "dungeon grass and mirror room",
    "water remake, dungeon grass and mirror room",
};

// The sets tried after the plain picture: fewest adjustments first.
constexpr std::array<std::uint8_t, 7> candidate_sets = {
    adjust_water_remake,
    adjust_dungeon_grass,
    adjust_mirror_room,
    adjust_water_remake | adjust_dungeon_grass,
    adjust_water_remake | adjust_mirror_room,
    adjust_dungeon_grass | adjust_mirror_room,
    adjust_water_remake | adjust_dungeon_grass | adjust_mirror_room,
};

constexpr int fourth_plane = 3;

// The water code's reference shape, or -1 for a triangle or no remake.
int reference_shape(int code) {
    const int water_code = code < 0 ? -code : code;
    if (code == 0 || water_code > 255 ||
        (water_code >= water_upper_left && water_code <= water_lower_left)) {
        return -1;
    }
    return water_code;
}

bool is_grass(int shape) {
    return is_dungeon_grass(shape / sheet_columns, shape % sheet_columns) != 0;
}

// The adjustments that can change a shape as the extractor draws it: the
// mirror room always; for a landform shape, the water remake where it has a
// water code, and the dungeon exchange where it, or the shapes its water is
// drawn from, are grass.
std::uint8_t adjustments_that_matter(int sheet_row, int column) {
    if (is_npc_row(sheet_row)) {
        return adjust_mirror_room;
    }
    std::uint8_t matter = adjust_mirror_room;
    const int shape = sheet_row * sheet_columns + column;
    const int code = water_remake_code(sheet_row, column);
    const int reference = reference_shape(code);
    if (code != 0) {
        matter |= adjust_water_remake;
    }
    if (is_grass(shape) ||
        (code != 0 && (is_grass(water_shape) || (reference >= 0 && is_grass(reference))))) {
        matter |= adjust_dungeon_grass;
    }
    return matter;
}

// The shape as the extractor draws it under the set, in its square of the
// scratch sheet, all but the mirror room's colours: the decoder's dungeon
// exchange, then the water remake from the water and reference shapes,
// which are drawn into their squares first with the same exchange.
void draw_adjusted(const shape_file_data& disk, int sheet_row, int column, std::uint8_t set,
                   sheet_span scratch) {
    const int dungeon = (set & adjust_dungeon_grass) != 0 ? 1 : 0;
    const bool water = (set & adjust_water_remake) != 0 && !is_npc_row(sheet_row) &&
                       water_remake_code(sheet_row, column) != 0;
    if (water) {
        draw_disk_shape(disk, water_shape / sheet_columns, water_shape % sheet_columns, dungeon,
                        scratch);
        const int reference = reference_shape(water_remake_code(sheet_row, column));
        if (reference >= 0) {
            draw_disk_shape(disk, reference / sheet_columns, reference % sheet_columns, dungeon,
                            scratch);
        }
    }
    draw_disk_shape(disk, sheet_row, column, dungeon, scratch);
    if (water) {
        remake_water_shape(scratch, sheet_row, column);
    }
}

// Whether the sheet's shape equals the drawn one in the file's planes, the
// drawn one in the mirror room's colours when asked.
bool square_equals(const_sheet_span sheet, const_sheet_span drawn, int sheet_row, int column,
                   bool mirror) {
    const std::uint8_t planes = file_plane_bits(sheet_row);
    for (int y = 0; y < shape_size; ++y) {
        const std::size_t at = static_cast<std::size_t>(sheet_offset(sheet_row, column, y));
        for (int x = 0; x < shape_size; ++x) {
            std::uint8_t expected = drawn[at + x] & all_plane_bits;
            if (mirror) {
                expected = mirror_room_map[expected];
            }
            if (((sheet[at + x] ^ expected) & planes) != 0) {
                return false;
            }
        }
    }
    return true;
}

bool matches_stored(const_sheet_span sheet, const shape_file_data& disk, int sheet_row,
                    int column) {
    if (is_npc_row(sheet_row)) {
        return shape_matches_record(tiles_shape_rows, sheet_row - tiles_shape_rows, column,
                                    disk.npc_ch, npc_ch_planes, sheet);
    }
    return shape_matches_record(0, sheet_row, column, disk.tiles_ch, tiles_ch_planes, sheet);
}

} // namespace

void draw_disk_shape(const shape_file_data& disk, int sheet_row, int column, int dungeon,
                     sheet_span scratch) {
    for (int y = 0; y < shape_size; ++y) {
        std::memset(scratch.data() + sheet_offset(sheet_row, column, y), 0, shape_size);
    }
    if (is_npc_row(sheet_row)) {
        decode_shape(scratch, tiles_shape_rows, sheet_row - tiles_shape_rows, column, disk.npc_ch,
                     npc_ch_planes, 0);
    } else {
        decode_shape(scratch, 0, sheet_row, column, disk.tiles_ch, tiles_ch_planes, dungeon);
    }
}

const char* adjustment_set_name(std::uint8_t set) {
    return set_names[set % adjustment_set_count];
}

void compare_sheet_with_disk(const_sheet_span sheet, const shape_file_data& disk, bool tiles,
                             bool npc, sheet_span scratch, sheet_verdicts* verdicts) {
    *verdicts = sheet_verdicts{};
    for (int sheet_row = 0; sheet_row < sheet_rows; ++sheet_row) {
        if (!(is_npc_row(sheet_row) ? npc : tiles)) {
            continue;
        }
        for (int column = 0; column < sheet_columns; ++column) {
            const int shape = sheet_row * sheet_columns + column;
            if (matches_stored(sheet, disk, sheet_row, column)) {
                continue;
            }
            verdicts->verdict[shape] = shape_verdict::changed;
            const std::uint8_t matter = adjustments_that_matter(sheet_row, column);
            for (const std::uint8_t set : candidate_sets) {
                if ((set & ~matter) != 0) {
                    continue;
                }
                draw_adjusted(disk, sheet_row, column, set, scratch);
                if (square_equals(sheet, scratch, sheet_row, column,
                                  (set & adjust_mirror_room) != 0)) {
                    verdicts->verdict[shape] = shape_verdict::kept;
                    verdicts->adjustments[shape] = set;
                    break;
                }
            }
        }
    }
}

void encode_changed_shapes(const sheet_verdicts& verdicts, const_sheet_span sheet,
                           std::span<std::uint8_t> tiles_ch, std::span<std::uint8_t> npc_ch) {
    for (int sheet_row = 0; sheet_row < sheet_rows; ++sheet_row) {
        for (int column = 0; column < sheet_columns; ++column) {
            if (verdicts.verdict[sheet_row * sheet_columns + column] != shape_verdict::changed) {
                continue;
            }
            if (is_npc_row(sheet_row)) {
                encode_shape(tiles_shape_rows, sheet_row - tiles_shape_rows, column, npc_ch,
                             npc_ch_planes, sheet);
            } else {
                encode_shape(0, sheet_row, column, tiles_ch, tiles_ch_planes, sheet);
            }
        }
    }
}

int changed_shapes_with_fourth_plane(const sheet_verdicts& verdicts,
                                     std::span<const std::uint8_t> npc_ch) {
    constexpr std::size_t record_size = std::size_t{npc_ch_planes} * plane_bytes;
    int count = 0;
    for (int n = 0; n < shapes_per_file; ++n) {
        const std::size_t plane = n * record_size + std::size_t{fourth_plane} * plane_bytes;
        if (verdicts.verdict[shapes_per_file + n] != shape_verdict::changed ||
            plane + plane_bytes > npc_ch.size()) {
            continue;
        }
        const auto bytes = npc_ch.subspan(plane, plane_bytes);
        if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; })) {
            ++count;
        }
    }
    return count;
}

} // namespace kz

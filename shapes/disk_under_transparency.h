// Pixels a picture leaves to the disk. A PNG sheet or mask can say that a
// pixel is fully transparent (alpha 0); such a pixel is no edit, so the
// changed sheet takes the disk's own pixel there, in the planes the picture
// speaks for: the sheet for all four planes when it comes alone (with or
// without its fourth plane in colours of its own), for the colour planes
// when a mask comes with it, the mask for the fourth plane. A shape whose
// every pixel is left to the disk then equals the disk's shape and is not
// written at all. A partly transparent pixel is an edit like any other.
#pragma once

#include "shapes/sheet_comparison.h"

#include <array>
#include <cstdint>
#include <span>

namespace kz {

// Where a picture is fully transparent: one byte a pixel over its lines
// (a whole number of lines of the sheet's width, from the top; empty when
// no pixel is), non-zero for such a pixel, and the planes it speaks for.
struct transparent_area {
    std::span<const std::uint8_t> pixels;
    std::uint8_t planes = 0;
};

// The shapes that hold at least one pixel left to the disk, in sheet order.
using shapes_with_transparency = std::array<bool, sheet_shape_count>;

// Gives each transparent pixel of the sheet (indices 0-15, the mask merged
// in) the disk's bits in the planes of its area: the disk's shapes are
// decoded plainly, without adjustments, into their squares of scratch, a
// sheet's worth of memory whose content is left undefined. Only the shapes
// of TILES.CH when tiles is set, of NPC.CH when npc is, are touched. Marks
// the shapes that hold such pixels.
void keep_disk_under_transparency(sheet_span sheet, const shape_file_data& disk, bool tiles,
                                  bool npc, std::span<const transparent_area> areas,
                                  sheet_span scratch, shapes_with_transparency* marked);

} // namespace kz

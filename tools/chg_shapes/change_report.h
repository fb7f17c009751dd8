// What the changers say about a change: the warnings of every change, and
// the report that --check prints instead of writing the image.
#pragma once

#include "bitmap/colour_census.h"
#include "shapes/disk_under_transparency.h"
#include "shapes/sheet_comparison.h"

#include <cstddef>

namespace kz {

// One warning line a file and set of adjustments, for the shapes that are
// kept as the disk holds them because the sheet shows them as that set
// draws them.
void print_kept_shapes(const sheet_verdicts& verdicts);

// For each shape file, the numbers of the shapes the change writes (or that
// it writes none), then those it keeps, with the adjustments that drew them.
void print_shape_report(const sheet_verdicts& verdicts);

// How many pixels of a picture took the nearest colour, and the colours
// most of them had.
void print_colour_report(const char* path, const colour_census& census);

// How many pixels of a picture are fully transparent, and so keep the
// disk's; then, once for both pictures, the shapes that hold such pixels
// and that the change leaves as the disk holds them.
void print_transparency_report(const char* path, std::size_t pixels);
void print_shapes_left_by_transparency(const sheet_verdicts& verdicts,
                                       const shapes_with_transparency& marked);

} // namespace kz

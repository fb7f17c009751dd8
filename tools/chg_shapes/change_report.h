// What the changers say about a change: the warnings of every change, and
// the report that --check prints instead of writing the image.
#pragma once

#include "bitmap/colour_census.h"
#include "shapes/sheet_comparison.h"

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

} // namespace kz

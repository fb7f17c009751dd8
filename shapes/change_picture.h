// The picture of a change: the sheet as the change leaves the shape files,
// the shapes it writes in their colours and the rest faded, so that what a
// change does shows at a glance.
#pragma once

#include "shapes/sheet_comparison.h"

namespace kz {

// Indices 0-7 the eight colours of the sheet, 8-15 the same colours faded
// towards a light grey.
extern const palette16 change_picture_palette;

// Draws both files into the picture, a sheet's worth of pixels, as the
// extractor draws them without adjustments, the fourth plane left out: the
// changed shapes in indices 0-7, every other shape in the faded 8-15.
// files are the files as the change writes them.
void draw_change_picture(const sheet_verdicts& verdicts, const shape_file_data& files,
                         sheet_span picture);

} // namespace kz

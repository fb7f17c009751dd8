// A patch: a sheet that carries only the shapes a change writes, so that a
// mod can be shared without the game's other shapes. Its pixels are indices
// 0-15 with the fourth plane in its own colours (mask_in_sheet_palette),
// and every pixel outside those shapes is fully transparent, so that
// changing any copy of the disk with it, the fourth plane read from the
// colours, writes those shapes and leaves every other as that disk holds
// it. Both pairs' sheets share one layout, so a patch fits either.
#pragma once

#include "shapes/sheet_comparison.h"

namespace kz {

// Turns the sheet the change writes (indices 0-15, the mask merged in)
// into the patch's pixels, in place: a TILES.CH shape has three planes, so
// its fourth-plane bits, which the change would drop, are dropped here too.
// Fills transparent (a sheet's worth) with 1 for each pixel outside the
// changed shapes and 0 inside them.
void draw_patch(const sheet_verdicts& verdicts, sheet_span sheet, sheet_span transparent);

} // namespace kz

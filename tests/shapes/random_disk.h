// Random shape files, and the sheet the extractor makes of them under a set
// of adjustments, which is the changer's sheet of an untouched extraction:
// colours 0-7, and the mask (bit 3 of the NPC.CH pixels) merged in.
#pragma once

#include "reference.h"

#include "shapes/sheet_comparison.h"

namespace kz {

struct random_disk {
    ref::bytes tiles = ref::random_bytes(tiles_ch_size, 31);
    ref::bytes npc = ref::random_bytes(npc_ch_size, 32);

    shape_file_data data() const { return {tiles, npc}; }

    ref::bytes extracted(std::uint8_t set = 0) const {
        ref::bytes sheet(sheet_bytes);
        const int dungeon = (set & adjust_dungeon_grass) != 0 ? 1 : 0;
        for (int n = 0; n < 256; ++n) {
            decode_shape(ref::as_sheet(sheet), 0, n / 16, n % 16, tiles, 3, dungeon);
            decode_shape(ref::as_sheet(sheet), 16, n / 16, n % 16, npc, 4, 0);
        }
        if ((set & adjust_water_remake) != 0) {
            remake_water(ref::as_sheet(sheet));
        }
        if ((set & adjust_mirror_room) != 0) {
            recolor_mirror_room(ref::as_sheet(sheet));
        }
        return sheet;
    }
};

} // namespace kz

// The sample disk itself: a FAT12 file system of 1232 units of 1024 bytes
// holding a label, SAMPLE.TXT, TILES.CH, NPC.CH (deliberately fragmented)
// and a decoy file.
#pragma once

#include "disk_geometry.h"

namespace kz::sample {

// Fills disk with the whole disk: 0, or -1 after a message for a layout
// that does not fit (a mistake in this program).
int build_disk(byte_vector& disk);

} // namespace kz::sample

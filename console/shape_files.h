// TILES.CH and NPC.CH, the Varnholm disk's two shape files, read out of its
// disk image for the extractors and the changers alike.
#pragma once

#include "disk/disk.h"

#include <cstdint>
#include <span>

namespace kz {

constexpr const char* tiles_ch_name = "TILES.CH";
constexpr const char* npc_ch_name = "NPC.CH";

// Loads the image at disk_path (a file that no container claims holds the
// disk at disk_offset) and reads the first tiles_ch.size() bytes of TILES.CH
// and the first npc_ch.size() bytes of NPC.CH into the buffers, names
// matched without regard to case. Both files must be there, whatever the
// caller means to do with them.
//
// 0, or -1 after the disk library's message and "read disk image error
// '%s'\n" with the image path, or "read disk image error '%s/%s'\n" with the
// file's name too. Without kept, the image is released once both files are
// read; with it, a successful read leaves the loaded image in *kept, for the
// caller to change, write back and release. A failure releases the image
// either way, leaving *kept empty.
int read_shape_files(const char* disk_path, std::int32_t disk_offset,
                     std::span<std::uint8_t> tiles_ch, std::span<std::uint8_t> npc_ch,
                     disk_image* kept = nullptr);

} // namespace kz

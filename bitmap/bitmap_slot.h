// Handing a new buffer out through a slot: the one allocation that the
// readers and the conversion share. Private to the bitmap library.
#pragma once

#include "bitmap/bitmap.h"

#include <cstddef>

namespace kz {

// Gives the slot a new buffer of size bytes, which it then owns: 0, or
// bitmap_memory_exhausted after printing "error: memory exhaust!\n".
int allocate_slot(buffer_slot* slot, std::size_t size);

} // namespace kz

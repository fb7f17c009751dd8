// Handing a buffer out through a slot: the one allocation, and the one rule
// for a caller's buffer, that the readers and the conversion share. Private
// to the bitmap library.
#pragma once

#include "bitmap/bitmap.h"

#include <cstddef>

namespace kz {

// Gives the slot a new buffer of size bytes, which it then owns: 0, or
// bitmap_memory_exhausted after printing "error: memory exhaust!\n".
int allocate_slot(buffer_slot* slot, std::size_t size);

// Whether filling the slot for size bytes takes a new buffer: the slot is
// empty, or offers a buffer that is too small.
bool slot_needs_buffer(const buffer_slot& slot, std::size_t size);

// Makes the slot hold at least size bytes: the caller's buffer when it is
// large enough, else, for an empty slot or an offered buffer, a new one (the
// offered buffer set aside untouched). 0; -1, with nothing printed, for a
// caller's own buffer that is too small; bitmap_memory_exhausted after its
// message.
int fill_slot(buffer_slot* slot, std::size_t size);

} // namespace kz

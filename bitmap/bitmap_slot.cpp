#include "bitmap/bitmap_slot.h"

#include "terminal/terminal.h"

#include <memory>
#include <new>

namespace kz {

int allocate_slot(buffer_slot* slot, std::size_t size) {
    try {
        slot->owned = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
        print_message("error: memory exhaust!\n");
        return bitmap_memory_exhausted;
    }
    slot->data = slot->owned.get();
    slot->size = size;
    return 0;
}

bool slot_needs_buffer(const buffer_slot& slot, std::size_t size) {
    return slot.data == nullptr || (slot.offered && slot.size < size);
}

int fill_slot(buffer_slot* slot, std::size_t size) {
    if (slot->data != nullptr && slot->size >= size) {
        return 0;
    }
    if (!slot_needs_buffer(*slot, size)) {
        return -1;
    }
    *slot = buffer_slot{};
    return allocate_slot(slot, size);
}

} // namespace kz

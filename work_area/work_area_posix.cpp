#include "work_area/work_area.h"

#include <cstdint>

#include <sys/mman.h>

namespace kz {

std::size_t prefer_huge_pages(void* area, std::size_t length) {
    const auto start = reinterpret_cast<std::uintptr_t>(area);
    const std::uintptr_t first = (start + (work_area_alignment - 1)) & ~(work_area_alignment - 1);
    const std::uintptr_t end = (start + length) & ~(work_area_alignment - 1);
    if (first < start || end <= first) {
        return 0;
    }
#ifdef MADV_HUGEPAGE
    static_cast<void>(::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE));
#endif
    return end - first;
}

} // namespace kz

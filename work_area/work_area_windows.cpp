#include "work_area/work_area.h"

namespace kz {

std::size_t prefer_huge_pages(void*, std::size_t) {
    return 0;
}

} // namespace kz

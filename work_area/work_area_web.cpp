// In a browser the programs' memory is one WebAssembly memory, which has no
// pages the system could back differently: there is nothing to ask for.
#include "work_area/work_area.h"

namespace kz {

std::size_t prefer_huge_pages(void*, std::size_t) {
    return 0;
}

} // namespace kz

// The programs' large work areas: fixed for the whole run, laid out so that
// the system can back them with huge pages.
#pragma once

#include <cstddef>

namespace kz {

// The usual huge page of x86-64 (and of arm64 with 4 KiB pages), 2 MiB: a
// work area declared alignas(work_area_alignment) starts on one. Windows
// gives huge pages to no ordinary program, and a browser's WebAssembly
// memory has no pages to ask for, so there the areas need no special
// alignment (in the web page, where the five programs share one memory, a
// 2 MiB alignment would only leave holes between their areas).
#if defined(_WIN32) || defined(__EMSCRIPTEN__)
constexpr std::size_t work_area_alignment = 64;
#else
constexpr std::size_t work_area_alignment = std::size_t{2} << 20;
#endif

// Asks the system to back the whole huge pages that lie inside the area with
// huge pages where it can, so that the area costs one page fault and one
// clearing instead of one for every 4 KiB. Only the part that starts and
// ends on the boundary is named: an area that the toolchain did not align
// as asked loses its edges, and nothing outside it is ever touched. Where
// the system has none, or declines, nothing changes. Gives the number of
// bytes that were named.
std::size_t prefer_huge_pages(void* area, std::size_t length);

} // namespace kz

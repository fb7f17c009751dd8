// The programs' work areas lie on the boundary that huge pages need, and
// only the whole huge pages inside an area are ever named to the system.
#include "work_area/work_area.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace kz::test {
namespace {

constexpr std::size_t boundary = work_area_alignment;

// Static, as the programs' own areas are: a toolchain that gave less
// alignment than asked would fail here rather than lose the huge pages
// without a word.
alignas(work_area_alignment) std::array<std::uint8_t, 2 * boundary> area;

TEST(work_area, static_area_is_aligned_and_only_whole_huge_pages_inside_are_named) {
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(area.data()) % boundary, 0u);
#ifdef _WIN32
    EXPECT_EQ(prefer_huge_pages(area.data(), area.size()), 0u);
#else
    const struct {
        std::size_t offset;
        std::size_t length;
        std::size_t named;
    } cases[] = {
        {0, 2 * boundary, 2 * boundary},
        {0, boundary + 4096, boundary},
        {4096, 2 * boundary - 4096, boundary}, // the first page's start lies outside
        {4096, boundary, 0},
        {0, boundary - 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(prefer_huge_pages(area.data() + c.offset, c.length), c.named)
            << c.offset << " + " << c.length;
    }
#endif
}

} // namespace
} // namespace kz::test

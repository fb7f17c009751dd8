// The table of containers: the names its patterns match and the lists of
// formats the usage lines give.
#include "container_images.h"

#include <cstring>

namespace kz::test {
namespace {

const container_format* row_named(const char* name) {
    for (const container_format& row : container_formats) {
        if (std::strcmp(row.name, name) == 0) {
            return &row;
        }
    }
    return nullptr;
}

TEST(container_table, patterns_match_the_extension_in_any_case_and_nothing_else) {
    const struct {
        const char* container;
        const char* name;
        bool matches;
    } cases[] = {{"D88", "game.d88", true},   {"D88", "GAME.D88", true},  {"D88", "game.88D", true},
                 {"D88", "d88", false},       {"D88", "game.d88x", false}, {"D88", "game.d8", false},
                 {"raw", "disk.XDF", true},   {"raw", "disk.dup", true},  {"raw", "disk.fdi", false},
                 {"DCP", "disk.dcu", true},   {"FDI", ".fdi", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.container) + " " + c.name);
        const container_format* row = row_named(c.container);
        ASSERT_NE(row, nullptr);
        bool matched = false;
        for (const image_pattern& pattern : row->patterns) {
            matched = matched || pattern_matches(pattern, c.name);
        }
        EXPECT_EQ(matched, c.matches);
    }
}

// Each pair lists its default image's format first, then its own machine's,
// then the other's.
TEST(container_table, usage_lists_give_the_pairs_own_formats_first) {
    EXPECT_STREQ(image_format_list("KZ_Varnholm.fdi"), "*.fdi *.hdm *.d88 *.nfd *.fdd *.dcp *.dim *.xdf");
    EXPECT_STREQ(image_format_list("kz-varnholm.xdf"), "*.xdf *.dim *.d88 *.hdm *.fdi *.nfd *.fdd *.dcp");
}

} // namespace
} // namespace kz::test

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

// A header's lengths are summed only while the file holds them: however
// many and however large, the running offset stays one past the file's end.
TEST(advance_within, sums_stay_inside_the_file_or_one_past_it) {
    const bytes file(1000);
    const struct {
        const char* fault;
        std::int64_t at;
        std::uint64_t length;
        std::int64_t result;
    } cases[] = {{"length_that_fits_is_added", 10, 990, 1000},
                 {"length_one_past_the_end_stops_one_past_it", 10, 991, 1001},
                 {"length_that_would_wrap_64_bits_stops_one_past_it", 10, ~std::uint64_t{0} - 5, 1001},
                 {"length_past_2_63_stops_one_past_it", 0, std::uint64_t{1} << 63, 1001},
                 {"offset_already_past_the_end_stays_there", 1001, 0, 1001},
                 {"negative_offset_is_past_the_end", -1, 1, 1001}};
    for (const auto& c : cases) {
        EXPECT_EQ(advance_within(file, c.at, c.length), c.result) << c.fault;
    }
}

} // namespace
} // namespace kz::test

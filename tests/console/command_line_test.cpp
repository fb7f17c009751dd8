// The command-line parser over argument lists: what it prints, whether the
// program goes on, and the settings it leaves.
#include "console/command_line.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

namespace kz::test {
namespace {

// The settings of a program that has each kind of row: a value option that
// starts set and one that does not, a flag that sets two settings, one that
// turns a setting off, and two positional slots.
struct settings {
    const char* disk = "default.img";
    const char* output = nullptr;
    const char* first = nullptr;
    const char* second = nullptr;
    bool tiles = true;
    bool npc = true;
    bool water = true;
    bool dungeon = false;
};

void print_test_usage() {
    std::printf("usage text\n");
}

struct parsed {
    int result = 0;
    std::string printed;
    std::string disk, output, first, second;
    bool tiles, npc, water, dungeon;
};

std::string text_of(const char* setting) {
    return setting == nullptr ? "(none)" : setting;
}

parsed parse(std::vector<std::string> args, bool blank_line) {
    settings run;
    const option_row options[] = {
        usage_option("--help", print_test_usage),
        value_option("--disk", "no disk\n", &run.disk),
        value_option("--write", "no output\n", &run.output),
        flag_option("--only-tiles", {&run.tiles, true}, {&run.npc, false}),
        flag_option("--only-npc", {&run.tiles, false}, {&run.npc, true}),
        flag_option("--no-remake-water", &run.water, false),
        flag_option("--dungeon", &run.dungeon),
    };
    const std::array<const char**, 2> positional = {&run.first, &run.second};
    args.insert(args.begin(), "program");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    parsed p;
    p.printed = capture_stdout([&] {
        p.result = parse_command_line({.options = options,
                                       .positional = positional,
                                       .blank_line_after_unneeded = blank_line},
                                      static_cast<int>(args.size()), argv.data());
    });
    p.disk = text_of(run.disk);
    p.output = text_of(run.output);
    p.first = text_of(run.first);
    p.second = text_of(run.second);
    p.tiles = run.tiles;
    p.npc = run.npc;
    p.water = run.water;
    p.dungeon = run.dungeon;
    return p;
}

TEST(parse_command_line, each_argument_list_gives_its_message_result_and_settings) {
    const std::string none = "(none)";
    const struct {
        const char* fault;
        std::vector<std::string> args;
        bool blank_line;
        int result;
        std::string printed;
        std::string disk, output, first, second;
        bool tiles, npc, water, dungeon;
    } cases[] = {
        {"defaults_lost_without_arguments", {}, true, 0, "", "default.img", none, none, none,
         true, true, true, false},
        {"slots_filled_out_of_order", {"a.bmp", "--dungeon", "b.bmp"}, true, 0, "", "default.img",
         none, "a.bmp", "b.bmp", true, true, true, true},
        {"empty_argument_taken_for_an_option", {""}, true, 0, "", "default.img", none, "", none,
         true, true, true, false},
        {"third_positional_accepted", {"a", "b", "c", "--help"}, true, -1,
         "unneeded parameter 'c'\n\n", "default.img", none, "a", "b", true, true, true, false},
        {"blank_line_printed_where_the_table_has_none", {"a", "b", "c"}, false, -1,
         "unneeded parameter 'c'\n", "default.img", none, "a", "b", true, true, true, false},
        {"value_that_looks_like_an_option_refused", {"--disk", "--dungeon", "a"}, true, 0, "",
         "--dungeon", none, "a", none, true, true, true, false},
        {"value_that_looks_like_a_lone_dash_refused", {"--write", "-"}, true, 0, "",
         "default.img", "-", none, none, true, true, true, false},
        {"later_value_does_not_replace", {"--disk", "x.img", "--disk", "y.img"}, true, 0, "",
         "y.img", none, none, none, true, true, true, false},
        {"value_taken_as_a_positional_too", {"--disk", "x.img", "a"}, true, 0, "", "x.img", none,
         "a", none, true, true, true, false},
        {"missing_value_not_reported", {"a", "--disk"}, true, -1, "no disk\n", "default.img", none,
         "a", none, true, true, true, false},
        {"missing_value_gives_another_options_message", {"--write"}, true, -1, "no output\n",
         "default.img", none, none, none, true, true, true, false},
        {"two_setting_flag_sets_one", {"--only-tiles"}, true, 0, "", "default.img", none, none,
         none, true, false, true, false},
        {"first_of_two_flags_wins", {"--only-tiles", "--only-npc"}, true, 0, "", "default.img",
         none, none, none, false, true, true, false},
        {"off_flag_turns_on", {"--no-remake-water", "--no-remake-water"}, true, 0, "",
         "default.img", none, none, none, true, true, false, false},
        {"usage_not_printed_after_valid_arguments", {"a", "--dungeon", "--help", "b"}, true, -1,
         "usage text\n", "default.img", none, "a", none, true, true, true, true},
        {"parsing_goes_on_after_an_error", {"--bogus", "--help"}, true, -1,
         "unknown option '--bogus'\n", "default.img", none, none, none, true, true, true, false},
        {"lone_dash_taken_as_a_file", {"-"}, true, -1, "unknown option '-'\n", "default.img",
         none, none, none, true, true, true, false},
        {"options_compared_without_case", {"--HELP"}, true, -1, "unknown option '--HELP'\n",
         "default.img", none, none, none, true, true, true, false},
        {"option_matched_by_its_prefix", {"--dis", "x"}, true, -1, "unknown option '--dis'\n",
         "default.img", none, none, none, true, true, true, false},
        {"value_glued_to_its_option_accepted", {"--disk=x.img"}, true, -1,
         "unknown option '--disk=x.img'\n", "default.img", none, none, none, true, true, true,
         false},
        {"option_after_the_slots_counted_as_unneeded", {"a", "b", "--dungeon", "-q"}, false, -1,
         "unknown option '-q'\n", "default.img", none, "a", "b", true, true, true, true},
    };
    for (const auto& c : cases) {
        const parsed p = parse(c.args, c.blank_line);
        EXPECT_EQ(std::tuple(p.result, p.printed), std::tuple(c.result, c.printed)) << c.fault;
        EXPECT_EQ(std::tuple(p.disk, p.output, p.first, p.second),
                  std::tuple(c.disk, c.output, c.first, c.second))
            << c.fault;
        EXPECT_EQ(std::tuple(p.tiles, p.npc, p.water, p.dungeon),
                  std::tuple(c.tiles, c.npc, c.water, c.dungeon))
            << c.fault;
    }
}

} // namespace
} // namespace kz::test

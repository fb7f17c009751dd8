// The command-line parser over argument lists: what it prints, whether the
// program goes on, and the settings it leaves.
#include "console/command_line.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kz::test {
namespace {

// The settings of a program that has each kind of row.
struct settings {
    // set by value options, one of them set from the start
    const char* disk = "default.img";
    const char* output = nullptr;
    // set by two flags that each set both
    bool tiles = true;
    bool npc = true;
    // filled by positional arguments
    const char* first = nullptr;
    const char* second = nullptr;
    // set by flags of one setting each, one turning it off
    bool water = true;
    bool dungeon = false;
};

void print_test_usage() {
    std::printf("usage text\n");
}

// The settings in words: each text that is set, then each flag that is on.
std::string summary(const settings& run) {
    std::string words;
    for (const auto& [name, text] :
         {std::pair{"disk", run.disk}, std::pair{"output", run.output},
          std::pair{"first", run.first}, std::pair{"second", run.second}}) {
        if (text != nullptr) {
            words += std::string(words.empty() ? "" : " ") + name + "=" + text;
        }
    }
    for (const auto& [name, on] :
         {std::pair{"tiles", run.tiles}, std::pair{"npc", run.npc}, std::pair{"water", run.water},
          std::pair{"dungeon", run.dungeon}}) {
        if (on) {
            words += std::string(" ") + name;
        }
    }
    return words;
}

// Parses args after a program name; gives the result, what was printed and
// the settings in words.
std::tuple<int, std::string, std::string> parse(std::vector<std::string> args, bool blank_line) {
    settings run;
    const option_row options[] = {
        // Rows stand in any order: each name matches one row alone.
        flag_option("--dungeon", &run.dungeon),
        flag_option("--no-remake-water", &run.water, false),
        flag_option("--only-tiles", {&run.tiles, true}, {&run.npc, false}),
        flag_option("--only-npc", {&run.tiles, false}, {&run.npc, true}),
        value_option("--disk", "no disk\n", &run.disk),
        value_option("--write", "no output\n", &run.output),
        usage_option("--help", print_test_usage),
    };
    const std::array<const char**, 2> positional = {&run.first, &run.second};
    args.insert(args.begin(), "program");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const command_line line{
        .options = options, .positional = positional, .blank_line_after_unneeded = blank_line};
    int result = 1;
    const std::string printed = capture_stdout(
        [&] { result = parse_command_line(line, static_cast<int>(args.size()), argv.data()); });
    return {result, printed, summary(run)};
}

const std::string defaults = "disk=default.img";
const std::string on = " tiles npc water";

// clang-format off
const struct {
    const char* fault;
    std::vector<std::string> args;
    bool blank_line; // after "unneeded parameter"
    int result;
    std::string printed;
    std::string settings;
} argument_lists[] = {
    {"defaults_lost_without_arguments", {}, true, 0, "", defaults + on},
    {"slots_filled_out_of_order", {"a.bmp", "--dungeon", "b.bmp"}, true, 0, "",
     defaults + " first=a.bmp second=b.bmp" + on + " dungeon"},
    {"empty_argument_taken_for_an_option", {""}, true, 0, "", defaults + " first=" + on},
    {"third_positional_accepted", {"a", "b", "c", "--help"}, true, -1,
     "unneeded parameter 'c'\n\n", defaults + " first=a second=b" + on},
    {"blank_line_printed_where_the_table_has_none", {"a", "b", "c"}, false, -1,
     "unneeded parameter 'c'\n", defaults + " first=a second=b" + on},
    {"value_that_looks_like_an_option_refused", {"--disk", "--dungeon", "a"}, true, 0, "",
     "disk=--dungeon first=a" + on},
    {"value_that_is_a_lone_dash_refused", {"--write", "-"}, true, 0, "",
     defaults + " output=-" + on},
    {"later_value_does_not_replace", {"--disk", "x.img", "--disk", "y.img"}, true, 0, "",
     "disk=y.img" + on},
    {"value_taken_as_a_positional_too", {"--disk", "x.img", "a"}, true, 0, "",
     "disk=x.img first=a" + on},
    {"missing_value_not_reported", {"a", "--disk"}, true, -1, "no disk\n",
     defaults + " first=a" + on},
    {"missing_value_gives_another_options_message", {"--write"}, true, -1, "no output\n",
     defaults + on},
    {"two_setting_flag_sets_one", {"--only-tiles"}, true, 0, "", defaults + " tiles water"},
    {"first_of_two_flags_wins", {"--only-tiles", "--only-npc"}, true, 0, "",
     defaults + " npc water"},
    {"off_flag_turns_on", {"--no-remake-water", "--no-remake-water"}, true, 0, "",
     defaults + " tiles npc"},
    {"usage_not_printed_after_valid_arguments", {"a", "--dungeon", "--help", "b"}, true, -1,
     "usage text\n", defaults + " first=a" + on + " dungeon"},
    {"parsing_goes_on_after_an_error", {"--bogus", "--help"}, true, -1,
     "unknown option '--bogus'\n", defaults + on},
    {"lone_dash_taken_as_a_file", {"-"}, true, -1, "unknown option '-'\n", defaults + on},
    {"options_compared_without_case", {"--HELP"}, true, -1, "unknown option '--HELP'\n",
     defaults + on},
    {"option_matched_by_its_prefix", {"--dis", "x"}, true, -1, "unknown option '--dis'\n",
     defaults + on},
    {"value_glued_to_its_option_accepted", {"--disk=x.img"}, true, -1,
     "unknown option '--disk=x.img'\n", defaults + on},
    {"option_after_the_slots_counted_as_unneeded", {"a", "b", "--dungeon", "-q"}, false, -1,
     "unknown option '-q'\n", defaults + " first=a second=b" + on + " dungeon"},
};
// clang-format on

TEST(parse_command_line, each_argument_list_gives_its_message_result_and_settings) {
    for (const auto& c : argument_lists) {
        EXPECT_EQ(parse(c.args, c.blank_line), std::tuple(c.result, c.printed, c.settings))
            << c.fault;
    }
}

} // namespace
} // namespace kz::test

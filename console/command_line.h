// The programs' command lines, each declared as a table: one row an option,
// then the positional slots. One parser reads every table, so the rules are
// the same everywhere: an option is a whole argument, compared with its
// row's name case-sensitively; any argument that begins with "-" is an
// option, also "-" alone; a value option takes the next argument, whatever
// it looks like; the positional arguments fill the slots in order; the first
// error ends the parsing, and later arguments are not looked at.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kz {

enum class option_kind : std::uint8_t {
    flag,  // sets up to two settings to fixed values
    value, // takes the next argument as a setting
    usage, // prints the usage text, and the program ends
};

// One setting a flag sets, and the value it gets.
struct flag_setting {
    bool* target = nullptr;
    bool value = true;
};

struct option_row {
    const char* name = nullptr;
    option_kind kind = option_kind::flag;
    std::array<flag_setting, 2> sets{}; // flag: each target given its value (null: unused)
    const char** value = nullptr;       // value: where the next argument goes
    const char* missing = nullptr;      // value: printed when it is the last argument
    void (*print_usage)() = nullptr;    // usage
};

// A flag that gives one setting its value ("--dungeon", "--no-remake-water").
constexpr option_row flag_option(const char* name, bool* target, bool value = true) {
    return {.name = name, .kind = option_kind::flag, .sets = {{{target, value}, {}}}};
}

// A flag that sets two settings at once ("--only-tiles").
constexpr option_row flag_option(const char* name, flag_setting first, flag_setting second) {
    return {.name = name, .kind = option_kind::flag, .sets = {{first, second}}};
}

// An option that takes the next argument; missing is the whole message, line
// end included, for an option that ends the command line. A later one
// replaces an earlier one.
constexpr option_row value_option(const char* name, const char* missing, const char** target) {
    return {.name = name, .kind = option_kind::value, .value = target, .missing = missing};
}

constexpr option_row usage_option(const char* name, void (*print_usage)()) {
    return {.name = name, .kind = option_kind::usage, .print_usage = print_usage};
}

struct command_line {
    std::span<const option_row> options;
    std::span<const char** const> positional; // filled in order, one argument each
    // Whether "unneeded parameter '%s'\n", for an argument beyond the slots,
    // is followed by an empty line.
    bool blank_line_after_unneeded = false;
};

// Walks argv[1] to argv[argc - 1] through the table, storing what the rows
// and slots say. 0 to go on with the work; -1 when the program must end with
// status 1: after the usage text, or after one of the messages
// "unneeded parameter '%s'\n", "unknown option '%s'\n" or a value option's
// own.
int parse_command_line(const command_line& line, int argc, char** argv);

// The same over the program's own arguments, as main() receives them: on
// Windows they are first taken again, in UTF-8, from the wide command line
// (-1 after "memory exhaust!\n" if that cannot be done).
int parse_program_arguments(const command_line& line, int argc, char** argv);

} // namespace kz

// The one parser of the programs' command-line tables.
#include "console/command_line.h"

#include "terminal/terminal.h"

#include <cstring>

namespace kz {
namespace {

const option_row* find_option(std::span<const option_row> options, const char* arg) {
    for (const option_row& row : options) {
        if (std::strcmp(row.name, arg) == 0) {
            return &row;
        }
    }
    return nullptr;
}

// Carries out one option's row; *next is the index of the argument after
// it, moved on past a value. 0 to go on, -1 to end.
int take_option(const option_row& row, int argc, char** argv, int* next) {
    switch (row.kind) {
    case option_kind::flag:
        for (const flag_setting& set : row.sets) {
            if (set.target != nullptr) {
                *set.target = set.value;
            }
        }
        return 0;
    case option_kind::value:
        if (*next >= argc) {
            print_message("%s", row.missing);
            return -1;
        }
        *row.value = argv[(*next)++];
        return 0;
    case option_kind::usage:
        row.print_usage();
        return -1;
    }
    return -1;
}

} // namespace

int parse_command_line(const command_line& line, int argc, char** argv) {
    std::size_t filled = 0;
    for (int i = 1; i < argc;) {
        const char* arg = argv[i++];
        if (arg[0] != '-') {
            if (filled == line.positional.size()) {
                print_message("unneeded parameter '%s'\n", arg);
                if (line.blank_line_after_unneeded) {
                    print_message("\n");
                }
                return -1;
            }
            *line.positional[filled++] = arg;
            continue;
        }
        const option_row* row = find_option(line.options, arg);
        if (row == nullptr) {
            print_message("unknown option '%s'\n", arg);
            return -1;
        }
        if (take_option(*row, argc, argv, &i) < 0) {
            return -1;
        }
    }
    return 0;
}

int parse_program_arguments(const command_line& line, int argc, char** argv) {
    if (take_utf8_arguments(&argc, &argv) != 0) {
        return -1;
    }
    return parse_command_line(line, argc, argv);
}

} // namespace kz

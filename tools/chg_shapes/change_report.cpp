// Lines of the change report. Shape numbers are those of their file, 0-255,
// in runs ("17 40-42"); a long list goes on over several lines that begin
// alike, so that each line can be found by its beginning and stays short.
#include "tools/chg_shapes/change_report.h"

#include "console/shape_files.h"
#include "terminal/terminal.h"

#include <array>
#include <string>
#include <vector>

namespace kz {
namespace {

constexpr std::array<const char*, 2> file_names = {tiles_ch_name, npc_ch_name};
constexpr std::size_t runs_per_line = 16;

struct shape_run {
    int first = 0;
    int last = 0;
};

// The runs of shape numbers of a file whose verdict the test takes.
template <typename Test> std::vector<shape_run> runs_of(int file, Test&& test) {
    std::vector<shape_run> runs;
    for (int n = 0; n < shapes_per_file; ++n) {
        if (!test(file * shapes_per_file + n)) {
            continue;
        }
        if (!runs.empty() && runs.back().last == n - 1) {
            runs.back().last = n;
        } else {
            runs.push_back({n, n});
        }
    }
    return runs;
}

// The runs split into lines of the list's text.
std::vector<std::string> run_lines(const std::vector<shape_run>& runs) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i % runs_per_line == 0) {
            lines.emplace_back();
        } else {
            lines.back() += ' ';
        }
        lines.back() += std::to_string(runs[i].first);
        if (runs[i].last != runs[i].first) {
            lines.back() += '-' + std::to_string(runs[i].last);
        }
    }
    return lines;
}

bool kept_with(const sheet_verdicts& verdicts, int shape, int set) {
    return verdicts.verdict[shape] == shape_verdict::kept && verdicts.adjustments[shape] == set;
}

} // namespace

void print_kept_shapes(const sheet_verdicts& verdicts) {
    for (int file = 0; file < 2; ++file) {
        for (int set = 1; set < adjustment_set_count; ++set) {
            int count = 0;
            for (int n = 0; n < shapes_per_file; ++n) {
                count += kept_with(verdicts, file * shapes_per_file + n, set) ? 1 : 0;
            }
            if (count > 0) {
                print_message("unedited shapes '%s' %d drawn with %s ... kept as on disk\n",
                              file_names[file], count,
                              adjustment_set_name(static_cast<std::uint8_t>(set)));
            }
        }
    }
}

void print_shape_report(const sheet_verdicts& verdicts) {
    for (int file = 0; file < 2; ++file) {
        const std::vector<std::string> changed = run_lines(runs_of(
            file, [&](int shape) { return verdicts.verdict[shape] == shape_verdict::changed; }));
        if (changed.empty()) {
            print_message("shapes to change '%s' none\n", file_names[file]);
        }
        for (const std::string& line : changed) {
            print_message("shapes to change '%s' %s\n", file_names[file], line.c_str());
        }
    }
    for (int file = 0; file < 2; ++file) {
        for (int set = 1; set < adjustment_set_count; ++set) {
            const char* name = adjustment_set_name(static_cast<std::uint8_t>(set));
            for (const std::string& line : run_lines(
                     runs_of(file, [&](int shape) { return kept_with(verdicts, shape, set); }))) {
                print_message("shapes to keep '%s' %s drawn with %s\n", file_names[file],
                              line.c_str(), name);
            }
        }
    }
}

void print_colour_report(const char* path, const colour_census& census) {
    print_message("off-palette pixels '%s' %u\n", path, census.stray_pixels);
    for (int i = 0; i < census.shown; ++i) {
        const stray_colour& colour = census.most_frequent[static_cast<std::size_t>(i)];
        print_message("off-palette colour '%s' #%06X %u -> #%06X\n", path, colour.rgb,
                      colour.pixels, colour.nearest_rgb);
    }
}

void print_transparency_report(const char* path, std::size_t pixels) {
    print_message("transparent pixels '%s' %u\n", path, static_cast<unsigned>(pixels));
}

void print_shapes_left_by_transparency(const sheet_verdicts& verdicts,
                                       const shapes_with_transparency& marked) {
    for (int file = 0; file < 2; ++file) {
        for (const std::string& line : run_lines(runs_of(file, [&](int shape) {
                 const auto at = static_cast<std::size_t>(shape);
                 return marked[at] && verdicts.verdict[at] == shape_verdict::unchanged;
             }))) {
            print_message("shapes left as on disk '%s' %s\n", file_names[file], line.c_str());
        }
    }
}

} // namespace kz

// The five programs in one WebAssembly module, for the web page: one copy of
// the libraries, the C++ runtime, libspng and zlib instead of five. The page
// runs a program as a shell would, with the program's name first and its
// arguments after it; each program's front end is compiled unchanged, with
// its main() renamed after it.
#include "terminal/terminal.h"

#include <array>
#include <cstdio>
#include <cstring>

int kz_main_kzpc98shapes(int argc, char** argv);
int kz_main_kzx68kshapes(int argc, char** argv);
int kz_main_kzpc98chg_shapes(int argc, char** argv);
int kz_main_kzx68kchg_shapes(int argc, char** argv);
int kz_main_kzega_shapes(int argc, char** argv);

namespace {

struct program {
    const char* name;
    int (*run)(int argc, char** argv);
};

constexpr std::array<program, 5> programs = {{
    {"kzpc98shapes", kz_main_kzpc98shapes},
    {"kzx68kshapes", kz_main_kzx68kshapes},
    {"kzpc98chg_shapes", kz_main_kzpc98chg_shapes},
    {"kzx68kchg_shapes", kz_main_kzx68kchg_shapes},
    {"kzega_shapes", kz_main_kzega_shapes},
}};

} // namespace

// argv[1] names the program; it gets argv[1] on as its own argv, so that its
// argv[0] is its name, as on a command line.
int main(int argc, char** argv) {
    if (argc < 2) {
        kz::print_message("no program named\n");
        return 1;
    }
    for (const program& p : programs) {
        if (std::strcmp(argv[1], p.name) == 0) {
            const int status = p.run(argc - 1, argv + 1);
            // A prompt that ends without a line end still reaches the page
            // before the run is over.
            std::fflush(stdout);
            return status;
        }
    }
    kz::print_message("unknown program '%s'\n", argv[1]);
    return 1;
}

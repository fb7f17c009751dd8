// The parts of the output step that do not depend on the system.
#include "io/output_file.h"
#include "io/output_state.h"
#include "terminal/terminal.h"

#include <chrono>
#include <cstdint>

namespace kz {

output_file::output_file() = default;

output_file::~output_file() {
    discard_output_file(this);
}

std::string temp_name_suffix() {
    // The clock and where this program was loaded (which the system varies
    // from run to run) seed a plain linear congruential generator.
    static std::uint64_t state =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<std::uintptr_t>(&state);
    constexpr char letters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(6, '0');
    for (char& c : suffix) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        c = letters[(state >> 33) % 36];
    }
    return suffix;
}

int commit_failed(output_file* out) {
    print_message("write error '%s'\n", out->path.c_str());
    discard_output_file(out);
    return -1;
}

} // namespace kz

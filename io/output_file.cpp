// The parts of the output step that do not depend on the system.
#include "io/output_file.h"
#include "io/output_file_failure.h"

#include <cstdio>

namespace kz {

output_file::~output_file() {
    discard_output_file(this);
}

int commit_failed(output_file* out) {
    std::printf("write error '%s'\n", out->path.c_str());
    discard_output_file(out);
    return -1;
}

} // namespace kz

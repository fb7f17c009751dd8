// What the output step keeps between opening and committing a file, and
// what both systems do when a commit fails. Private to the file layer.
#pragma once

#include "io/output_file.h"

#include <string>

namespace kz {

struct output_state {
    std::string temp_path; // the file that will replace the target; empty when writing in place
    bool in_place = false; // an existing file written as it is: cut it to the new length
    bool sync = false;     // an existing file's content is at stake: sync before the commit ends
};

// Six letters for a temporary file's name that differ from one call and one
// process to the next; a name that exists already is simply passed over.
std::string temp_name_suffix();

// Prints "write error '%s'\n" with the target path, discards the file and
// gives -1.
int commit_failed(output_file* out);

} // namespace kz

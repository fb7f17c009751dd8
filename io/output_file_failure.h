// What both systems' output steps do when a commit fails. Private to the
// file layer.
#pragma once

#include "io/output_file.h"

namespace kz {

// Prints "write error '%s'\n" with the target path, discards the file and
// gives -1.
int commit_failed(output_file* out);

} // namespace kz

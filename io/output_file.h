// The one way the tools write a file.
//
// A failed write must never cost the user a file: when the target is an
// existing regular file, or does not exist yet, the content goes to a
// temporary file in the same directory, which replaces the target (keeping
// its permission bits) only once all of it has been written, flushed and
// closed; on failure the temporary file is removed and the target is left as
// it was. Targets that are not regular files (devices, pipes, symbolic links)
// are opened and written in place.
//
// A file that replaces an existing one is synced before the rename, so that a
// crash cannot leave an empty file where the old one stood; a new file is
// not, as a crash can then cost nothing but the new output.
#pragma once

#include <cstdio>
#include <string>

namespace kz {

// True when something exists under the name.
bool path_exists(const char* path);

struct output_file {
    std::FILE* stream = nullptr;
    std::string path;           // the target, as the user named it
    std::string temp_path;      // empty when writing in place
    bool replaces_file = false; // an existing regular file is being replaced

    output_file() = default;
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
    ~output_file(); // discards whatever was not committed
};

// Opens the stream for binary writing. Prints "open error '%s'\n" with the
// target path and returns -1 on failure.
int open_output_file(output_file* out, const char* path);

// Flushes and closes the stream and puts the file in place. Prints
// "write error '%s'\n" with the target path and returns -1 if any of that
// fails, after removing the temporary file.
int commit_output_file(output_file* out);

// Closes the stream and removes the temporary file, leaving the target as it
// was. Safe to call on a closed or never-opened record.
void discard_output_file(output_file* out);

} // namespace kz

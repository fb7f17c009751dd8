// The one way the tools write a file.
//
// A failed write should never cost the user a file. Where it changes nothing
// else the user can see, the content goes to a temporary file in the same
// directory, which takes the target's place only once all of it has been
// written, flushed and closed; on failure the temporary file is removed and
// the target is left as it was. That is the case for a target that does not
// exist yet, and for an existing regular file with a single name whose owner,
// group and permission bits the temporary file really got, in a directory
// that lets us create the temporary file and rename it over the target.
//
// Everywhere else a rename would change what the user sees (another owner or
// group, a hard link left showing the old content) or is refused (a folder we
// may not write, another user's file in a sticky folder such as /tmp), so an
// existing file is written in place, as fopen(path, "wb") would, but without
// making a new file: opened as it is, written, cut to the new length,
// flushed and synced. Devices, pipes and symbolic links are written in place
// too. A regular file the user may not write is refused.
//
// An existing file's content is synced before the commit ends, so that a
// crash cannot leave an empty file where the old one stood; a new file is
// not, as a crash can then cost nothing but the new output.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kz {

// How the write will be finished: a temporary file to put in place, or an
// existing file written in place. The file layer's own business, different
// on each system.
// Both ends of the record's life are the file layer's, where that is known.
struct output_state;

struct output_file {
    std::FILE* stream = nullptr;
    std::string path; // the target, as the user named it
    std::unique_ptr<output_state> state;

    output_file();
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
// was (a target written in place keeps what was written). Safe to call on a
// closed or never-opened record.
void discard_output_file(output_file* out);

} // namespace kz

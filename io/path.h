// How a path names its file.
#pragma once

#include <cstddef>
#include <string_view>

namespace kz {

// True when something exists under the name.
bool path_exists(const char* path);

// True when the name leads to a regular file (through a symbolic link, on
// systems that have them), not a folder, device or pipe: what can be read
// whole without waiting for anyone.
bool names_regular_file(const char* path);

// True when both names lead to one and the same file, however they spell it:
// "./x", a second hard link or a symbolic link to it all count. Names of
// files that exist compare by the files' identity; two names of which
// neither exists yet (two outputs still to be written) compare by their
// folders' identity and their last components, which on Windows match
// without regard to case. False when only one exists, or when a name cannot
// be examined.
bool same_file(const char* first, const char* second);

// Where the last component of path begins: after the last '/', and on
// Windows also after the last '\' or a drive's colon ("C:name").
std::size_t file_name_start(std::string_view path);

} // namespace kz

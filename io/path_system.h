// What each system's path code gives the shared parts. Private to the file
// layer.
#pragma once

#include <string>
#include <string_view>

namespace kz {

// Both names exist and lead to one file.
bool same_identity(const char* first, const char* second);

// Two last components name the same file in one folder: byte for byte on
// POSIX systems, without regard to case on Windows.
bool same_name(std::string_view first, std::string_view second);

// The folder part of a name, "." for a bare name.
std::string folder_of(std::string_view path);

} // namespace kz

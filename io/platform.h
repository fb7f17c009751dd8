// What the programs need of the system beyond reading and writing files:
// their arguments, the console, and how a path names its file.
//
// Inside the programs every name is a byte string. On Windows it is UTF-8,
// whatever the ANSI code page, so that any name the user can type reaches
// the file system whole: the arguments are taken from the wide command
// line, the file layer converts names back to UTF-16, and the console shows
// the UTF-8 messages as they are. Elsewhere names are passed on untouched.
#pragma once

#include <cstddef>
#include <string_view>

namespace kz {

// Replaces argc and argv by the command line in UTF-8 (Windows), kept for
// the rest of the run. Prints "memory exhaust!\n" and returns -1 if that
// cannot be done; 0 otherwise, and always 0 elsewhere.
int take_utf8_arguments(int* argc, char*** argv);

// Lets a console show the UTF-8 that the programs print (Windows), until the
// program ends. Nothing elsewhere, and nothing when standard output is not a
// console: a file or a pipe receives the UTF-8 bytes.
void use_utf8_console();

// A program's large work areas are laid out on this boundary so that the
// system can back them with huge pages: the usual huge page of x86-64 (and
// of arm64 with 4 KiB pages), 2 MiB. Windows gives huge pages to no
// ordinary program, so there the areas need no special alignment.
#ifdef _WIN32
constexpr std::size_t work_area_alignment = 64;
#else
constexpr std::size_t work_area_alignment = std::size_t{2} << 20;
#endif

// Asks the system to back a work area (aligned as above) with huge pages
// where it can, so that the area costs one page fault and one clearing
// instead of one for every 4 KiB. Where the system has none, or declines,
// nothing changes: the area is ordinary memory.
void prefer_huge_pages(void* area, std::size_t length);

// Where the last component of path begins: after the last '/', and on
// Windows also after the last '\' or a drive's colon ("C:name").
std::size_t file_name_start(std::string_view path);

} // namespace kz

// What passes between a program and the user's terminal: the arguments it
// is started with and the messages it prints.
//
// Inside the programs every name is a byte string. On Windows it is UTF-8,
// whatever the ANSI code page, so that any name the user can type reaches
// the file system whole: the arguments are taken from the wide command
// line, and the messages, which name files as given, are shown on a console
// as the characters they spell. The console itself is never changed. A
// file or a pipe receives the UTF-8 bytes, on Windows with CR LF line ends.
// Elsewhere names and messages pass untouched.
#pragma once

namespace kz {

// Replaces argc and argv by the command line in UTF-8 (Windows), kept for
// the rest of the run. Prints "memory exhaust!\n" and returns -1 if that
// cannot be done; 0 otherwise, and always 0 elsewhere.
int take_utf8_arguments(int* argc, char*** argv);

// Prints a message on standard output, formatted as printf() does. Every
// message of the programs and their libraries goes this way.
[[gnu::format(printf, 1, 2)]] void print_message(const char* format, ...);

} // namespace kz

// POSIX systems take names and messages as the bytes they are.
#include "terminal/terminal.h"

#include <cstdarg>
#include <cstdio>

namespace kz {

int take_utf8_arguments(int*, char***) {
    return 0;
}

void print_message(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

} // namespace kz

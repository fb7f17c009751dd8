// POSIX systems take names as the bytes they are given.
#include "io/input_file.h"
#include "io/platform.h"

#include <cstdio>

#include <sys/types.h>

namespace kz {

input_file open_input_file(const char* path) {
    return input_file(std::fopen(path, "rb"));
}

bool stream_can_seek(std::FILE* stream) {
    return std::ftell(stream) >= 0;
}

std::int64_t seek_to_end(std::FILE* stream) {
    if (::fseeko(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    return ::ftello(stream);
}

int take_utf8_arguments(int*, char***) {
    return 0;
}

void use_utf8_console() {}

std::size_t file_name_start(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

} // namespace kz

// POSIX systems take names as the bytes they are given.
#include "io/path.h"

#include <sys/stat.h>

namespace kz {

bool path_exists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

bool same_file(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    return ::stat(first, &a) == 0 && ::stat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::size_t file_name_start(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

} // namespace kz

// POSIX systems take names as the bytes they are given.
#include "io/path.h"
#include "io/path_system.h"

#include <string>

#include <sys/stat.h>

namespace kz {

bool path_exists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

bool names_regular_file(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool same_identity(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    return ::stat(first, &a) == 0 && ::stat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool same_name(std::string_view first, std::string_view second) {
    return first == second;
}

std::string folder_of(std::string_view path) {
    const std::size_t start = file_name_start(path);
    return start == 0 ? std::string(".") : std::string(path.substr(0, start));
}

std::size_t file_name_start(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

} // namespace kz

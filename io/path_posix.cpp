// POSIX systems take names as the bytes they are given.
#include "io/path.h"

#include <string>

#include <sys/stat.h>

namespace kz {

bool path_exists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

namespace {

bool same_identity(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    return ::stat(first, &a) == 0 && ::stat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::string folder_of(std::string_view path) {
    const std::size_t start = file_name_start(path);
    return start == 0 ? std::string(".") : std::string(path.substr(0, start));
}

} // namespace

bool same_file(const char* first, const char* second) {
    const bool first_exists = path_exists(first);
    if (first_exists || path_exists(second)) {
        return first_exists && same_identity(first, second);
    }
    const std::string_view a(first);
    const std::string_view b(second);
    return a.substr(file_name_start(a)) == b.substr(file_name_start(b)) &&
           same_identity(folder_of(a).c_str(), folder_of(b).c_str());
}

std::size_t file_name_start(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

} // namespace kz

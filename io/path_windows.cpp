// Windows: UTF-8 names inside the programs, UTF-16 towards the system.
#include "io/path.h"
#include "io/path_system.h"
#include "io/wide_path.h"

#include <new>
#include <string>

#include <windows.h>

namespace kz {

namespace {

// The volume and file number that tell a file apart from every other, or
// false. Opened for no access at all, so that neither sharing modes nor
// permissions stand in the way; a directory needs backup semantics.
bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    const std::wstring wide = wide_path(path);
    if (wide.empty()) {
        return false;
    }
    const HANDLE handle = ::CreateFileW(wide.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool ok = ::GetFileInformationByHandle(handle, info) != 0;
    ::CloseHandle(handle);
    return ok;
}

} // namespace

bool same_identity(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return file_identity(first, &a) && file_identity(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// The folder part of a name; a bare name or a drive's own ("C:name") is in
// the current folder of its drive.
std::string folder_of(std::string_view path) {
    const std::size_t start = file_name_start(path);
    if (start == 0) {
        return ".";
    }
    std::string folder(path.substr(0, start));
    if (folder.size() == 2 && folder[1] == ':') {
        folder += '.';
    }
    return folder;
}

std::wstring wide_path(const char* path) noexcept {
    try {
        const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
        if (size <= 1) {
            return std::wstring();
        }
        std::wstring result(static_cast<std::size_t>(size), L'\0');
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, result.data(), size);
        result.resize(static_cast<std::size_t>(size) - 1);
        return result;
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

bool path_exists(const char* path) {
    const std::wstring wide = wide_path(path);
    return !wide.empty() && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool names_regular_file(const char* path) {
    const std::wstring wide = wide_path(path);
    const DWORD attributes =
        wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool same_name(std::string_view first, std::string_view second) {
    const std::wstring a = wide_path(std::string(first).c_str());
    const std::wstring b = wide_path(std::string(second).c_str());
    return !a.empty() && !b.empty() &&
           ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::size_t file_name_start(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string_view::npos) {
        return separator + 1;
    }
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive ? 2 : 0;
}

} // namespace kz

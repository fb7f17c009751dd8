// Writing a file so that a failure never costs the user the old one: the
// Windows side.
//
// The content goes to a temporary file beside the target, which is flushed
// to the disk (when it replaces a file), given the target's attributes and
// moved over the target in one step. Windows lets a program open a file
// without sharing it; such a file cannot be written or replaced, and is
// reported rather than waited for.
#include "io/output_file.h"
#include "io/output_file_failure.h"
#include "io/platform.h"
#include "io/wide_path.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace kz {

namespace {

// Attributes that say something about the file rather than its state; the
// read-only attribute never gets here, as such a target is refused.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr int temp_attempts = 100;

// Six letters that differ from one call and one process to the next; a
// name that exists already is simply passed over.
std::string temp_suffix() {
    static std::uint64_t state =
        ::GetTickCount64() ^ (std::uint64_t{::GetCurrentProcessId()} << 32);
    constexpr char letters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(6, '0');
    for (char& c : suffix) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        c = letters[(state >> 33) % 36];
    }
    return suffix;
}

// The temporary file sits beside the target so that it can be moved over
// it; it is named after the target so that a leftover is recognisable,
// unless that name would be too long.
HANDLE create_temp_file(const std::string& target, std::string* temp_path) {
    bool short_name = false;
    for (int attempt = 0; attempt < temp_attempts; ++attempt) {
        *temp_path = short_name ? target.substr(0, file_name_start(target)) + ".kz." + temp_suffix()
                                : target + "." + temp_suffix();
        const std::wstring wide = wide_path(temp_path->c_str());
        if (wide.empty()) {
            break;
        }
        const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return handle;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILENAME_EXCED_RANGE && !short_name) {
            short_name = true;
        } else if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    temp_path->clear();
    return INVALID_HANDLE_VALUE;
}

int open_temp(output_file* out) {
    const HANDLE handle = create_temp_file(out->path, &out->temp_path);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const int fd =
        ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return -1;
    }
    out->stream = ::_fdopen(fd, "wb");
    if (!out->stream) {
        ::_close(fd);
        return -1;
    }
    return 0;
}

int open_in_place(output_file* out, const std::wstring& target) {
    out->stream = ::_wfopen(target.c_str(), L"wb");
    return out->stream ? 0 : -1;
}

enum class target_kind { missing, file, in_place, refused };

// A read-only file or a directory is refused, as opening it for writing
// would be; so is a file that someone holds open without letting others
// write it, since it could be neither written nor replaced. Devices and
// links (reparse points) are written in place: a moved file would replace
// them by an ordinary one.
target_kind examine_target(const std::wstring& target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? target_kind::missing : target_kind::refused;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        return target_kind::refused;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return target_kind::in_place;
    }
    const HANDLE handle = ::CreateFileW(target.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return target_kind::refused;
    }
    const bool disk_file = ::GetFileType(handle) == FILE_TYPE_DISK;
    ::CloseHandle(handle);
    return disk_file ? target_kind::file : target_kind::in_place;
}

// Flushes and closes the stream; every failure on the way counts, and the
// stream is closed whatever happens.
bool close_stream(output_file* out, bool sync) {
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && sync) {
        const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(out->stream)));
        ok = ::FlushFileBuffers(handle) != 0;
    }
    const bool closed = std::fclose(out->stream) == 0;
    out->stream = nullptr;
    return ok && closed;
}

} // namespace

bool path_exists(const char* path) {
    const std::wstring wide = wide_path(path);
    return !wide.empty() && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int open_output_file(output_file* out, const char* path) {
    discard_output_file(out);
    try {
        out->path = path;
        const std::wstring target = wide_path(path);
        const target_kind kind = target.empty() ? target_kind::refused : examine_target(target);
        int result = -1;
        if (kind == target_kind::in_place) {
            result = open_in_place(out, target);
        } else if (kind != target_kind::refused) {
            result = open_temp(out);
        }
        if (result != 0) {
            std::printf("open error '%s'\n", path);
            discard_output_file(out);
            return -1;
        }
        out->sync = kind == target_kind::file;
        return 0;
    } catch (const std::bad_alloc&) {
        std::printf("memory exhaust!\n");
        discard_output_file(out);
        return -1;
    }
}

int commit_output_file(output_file* out) {
    if (!out->stream) {
        return commit_failed(out);
    }
    if (out->temp_path.empty()) {
        return close_stream(out, false) ? 0 : commit_failed(out);
    }
    if (!close_stream(out, out->sync)) {
        return commit_failed(out);
    }
    const std::wstring target = wide_path(out->path.c_str());
    const std::wstring temp = wide_path(out->temp_path.c_str());
    if (temp.empty() || target.empty()) {
        return commit_failed(out);
    }
    // The attributes go on before the move, so that the target never shows
    // without them.
    DWORD flags = MOVEFILE_REPLACE_EXISTING;
    if (out->sync) {
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kept_attributes) != 0 &&
            !::SetFileAttributesW(temp.c_str(), attributes & kept_attributes)) {
            return commit_failed(out);
        }
        flags |= MOVEFILE_WRITE_THROUGH;
    }
    if (!::MoveFileExW(temp.c_str(), target.c_str(), flags)) {
        return commit_failed(out);
    }
    out->temp_path.clear();
    return 0;
}

void discard_output_file(output_file* out) {
    out->sync = false;
    if (out->stream) {
        std::fclose(out->stream);
        out->stream = nullptr;
    }
    if (!out->temp_path.empty()) {
        const std::wstring temp = wide_path(out->temp_path.c_str());
        if (!temp.empty()) {
            ::DeleteFileW(temp.c_str());
        }
        out->temp_path.clear();
    }
}

} // namespace kz

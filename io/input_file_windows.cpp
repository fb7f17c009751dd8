// Reading files on Windows: UTF-8 names inside the programs, UTF-16 towards
// the system.
#include "io/input_file.h"
#include "io/wide_path.h"

#include <cstdio>
#include <string>
#include <utility>

#include <io.h>
#include <windows.h>

namespace kz {

input_file open_input_file(const char* path) {
    const std::wstring wide = wide_path(path);
    return input_file(wide.empty() ? nullptr : ::_wfopen(wide.c_str(), L"rb"));
}

namespace {

// The C runtime refuses to open a folder, where POSIX systems open it; both
// are told apart from a file that cannot be opened.
bool names_directory(const char* path) {
    const std::wstring wide = wide_path(path);
    if (wide.empty()) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

// Opening a pipe or a device (CON, NUL, a named pipe) does not wait here;
// reading it would, or would never end. Only what the system calls a disk
// file is one.
int open_regular_file(const char* path, input_file* stream) {
    stream->reset();
    if (names_directory(path)) {
        return -2;
    }
    input_file opened = open_input_file(path);
    if (!opened) {
        return -1;
    }
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(opened.get())));
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) {
        return -2;
    }
    *stream = std::move(opened);
    return 0;
}

bool stream_can_seek(std::FILE* stream) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_DISK;
}

std::int64_t seek_to_end(std::FILE* stream) {
    if (::_fseeki64(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    return ::_ftelli64(stream);
}

// Windows programs read their files: a mapped file could not be replaced or
// deleted while the program runs, and the inputs are small.
void mapping_release::operator()(std::uint8_t*) const {}

bool map_file_content(std::FILE*, std::uint64_t, file_content* content) {
    *content = file_content{};
    return false;
}

std::span<std::uint8_t> content_bytes(file_content& content) {
    return content.buffer;
}

std::span<const std::uint8_t> content_bytes(const file_content& content) {
    return content.buffer;
}

bool content_read_failed(const file_content&) {
    return false;
}

// The C runtime's tmpfile() wants to write in the drive's root directory,
// which an ordinary user may not; this one lives in the user's temporary
// directory and goes when closed.
std::FILE* open_temporary_stream() {
    wchar_t directory[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (::GetTempPathW(MAX_PATH + 1, directory) == 0 ||
        ::GetTempFileNameW(directory, L"kz", 0, name) == 0) {
        return nullptr;
    }
    return ::_wfopen(name, L"w+bD");
}

} // namespace kz

// Windows: UTF-8 names inside the programs, UTF-16 towards the system.
#include "io/input_file.h"
#include "io/platform.h"
#include "io/wide_path.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <io.h>
#include <windows.h>

#include <shellapi.h>

namespace kz {

namespace {

std::string narrow(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size) - 1); // the terminator
    return result;
}

UINT saved_output_code_page = 0;

void restore_console_code_page() {
    ::SetConsoleOutputCP(saved_output_code_page);
}

} // namespace

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

input_file open_input_file(const char* path) {
    const std::wstring wide = wide_path(path);
    return input_file(wide.empty() ? nullptr : ::_wfopen(wide.c_str(), L"rb"));
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

// The C runtime builds argv in the ANSI code page, which turns every
// character it cannot spell into '?'; the wide command line has them all.
// Windows programs read their files: a mapped file could not be replaced or
// deleted while the program runs, and the inputs are small.
void mapping_release::operator()(std::uint8_t*) const {}

bool map_file_content(std::FILE*, std::uint64_t, file_content* content) {
    *content = file_content{};
    return false;
}

void prefer_huge_pages(void*, std::size_t) {}

int take_utf8_arguments(int* argc, char*** argv) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        std::printf("memory exhaust!\n");
        return -1;
    }
    try {
        texts.clear();
        for (int i = 0; i < count; ++i) {
            texts.push_back(narrow(wide[i]));
        }
        pointers.clear();
        for (std::string& text : texts) {
            pointers.push_back(text.data());
        }
        pointers.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        ::LocalFree(wide);
        std::printf("memory exhaust!\n");
        return -1;
    }
    ::LocalFree(wide);
    *argc = count;
    *argv = pointers.data();
    return 0;
}

// The console's code page belongs to the console, not to the program: it
// is put back when the program ends.
void use_utf8_console() {
    DWORD mode = 0;
    if (!::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
        return;
    }
    const UINT current = ::GetConsoleOutputCP();
    if (current == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) {
        return;
    }
    saved_output_code_page = current;
    std::atexit(restore_console_code_page);
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

// Windows: arguments from the wide command line, messages to a console
// through the console's own wide interface.
#include "terminal/terminal.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

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

// The console that standard output shows on, or null when it goes to a
// file or a pipe. Asked once: the programs never move their output.
HANDLE output_console() {
    static const HANDLE console = [] {
        const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
                       ::GetConsoleMode(handle, &mode)
                   ? handle
                   : nullptr;
    }();
    return console;
}

// Shows a UTF-8 text on the console as the characters it spells, line ends
// as CR LF like the C runtime's text streams; bytes that are not UTF-8 show
// as the replacement character. False when that cannot be done.
bool write_console(HANDLE console, const char* text, std::size_t length) noexcept {
    try {
        std::wstring wide;
        if (length > 0) {
            const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length),
                                                   nullptr, 0);
            if (size <= 0) {
                return false;
            }
            wide.resize(static_cast<std::size_t>(size));
            ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide.data(), size);
        }
        std::wstring shown;
        shown.reserve(wide.size() + 8);
        for (const wchar_t c : wide) {
            if (c == L'\n') {
                shown += L'\r';
            }
            shown += c;
        }
        const wchar_t* rest = shown.data();
        std::size_t left = shown.size();
        while (left > 0) {
            DWORD written = 0;
            const DWORD chunk = left > 8192 ? 8192 : static_cast<DWORD>(left);
            if (!::WriteConsoleW(console, rest, chunk, &written, nullptr) || written == 0) {
                return false;
            }
            rest += written;
            left -= written;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

// The C runtime builds argv in the ANSI code page, which turns every
// character it cannot spell into '?'; the wide command line has them all.
int take_utf8_arguments(int* argc, char*** argv) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        print_message("memory exhaust!\n");
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
        print_message("memory exhaust!\n");
        return -1;
    }
    ::LocalFree(wide);
    *argc = count;
    *argv = pointers.data();
    return 0;
}

// A console shows text in its output code page, which belongs to the user's
// console, not to the program: rather than change it, the text goes to the
// console as UTF-16. Files and pipes take the C runtime's stream as before.
void print_message(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    const HANDLE console = output_console();
    if (console == nullptr) {
        std::vprintf(format, arguments);
        va_end(arguments);
        return;
    }
    std::array<char, 1024> small{};
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(small.data(), small.size(), format, arguments);
    va_end(arguments);
    std::fflush(stdout); // anything the stream still holds comes first
    bool shown = false;
    if (length >= 0 && static_cast<std::size_t>(length) < small.size()) {
        shown = write_console(console, small.data(), static_cast<std::size_t>(length));
    } else if (length >= 0) {
        try {
            std::vector<char> large(static_cast<std::size_t>(length) + 1);
            std::vsnprintf(large.data(), large.size(), format, again);
            shown = write_console(console, large.data(), static_cast<std::size_t>(length));
        } catch (const std::bad_alloc&) {
            shown = false;
        }
    }
    va_end(again);
    if (!shown && length >= 0) {
        // The stream's bytes at least, in whatever the console makes of them.
        va_start(again, format);
        std::vprintf(format, again);
        va_end(again);
    }
}

} // namespace kz

// Scratch directories, files, captured output and child processes for the
// console and disk tests.
#pragma once

#include "io/input_file.h"
#include "io/output_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <random>

#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kz::test {

using bytes = std::vector<std::uint8_t>;

#ifdef _WIN32
constexpr const char* null_device = "NUL";
#else
constexpr const char* null_device = "/dev/null";
#endif

#ifdef _WIN32
// Wine's ntdll says so; Windows' does not.
inline bool under_wine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

struct scratch_dir {
    std::string path;
#ifdef _WIN32
    // Under Wine the directory is named as this machine's own programs name
    // it: "/tmp/..." is the same directory for a Windows program whose
    // current drive is Wine's drive for the root directory, as a test's is.
    scratch_dir() {
        std::error_code error;
        const std::filesystem::path base = under_wine()
                                               ? std::filesystem::path("/tmp")
                                               : std::filesystem::temp_directory_path(error);
        std::random_device seed;
        for (int attempt = 0; attempt < 100 && path.empty() && !error; ++attempt) {
            const std::string candidate = base.string() + "/kz_test_" + std::to_string(seed());
            if (std::filesystem::create_directory(candidate, error)) {
                path = candidate;
            }
        }
        if (path.empty()) {
            path = "Z:\\nonexistent";
        }
    }
#else
    scratch_dir() {
        std::string name = (std::filesystem::temp_directory_path() / "kz_test_XXXXXX").string();
        path = ::mkdtemp(name.data()) ? name : "/nonexistent";
    }
#endif
    ~scratch_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const {
        return path + "/" + name;
    }
    // Everything in the directory, so that a leftover temporary file shows.
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& item : std::filesystem::directory_iterator(path)) {
            found.insert(item.path().filename().string());
        }
        return found;
    }
};

// Writes "new" to path through the output step: 0, or -1 when it could not
// be opened or committed.
inline int write_new(const std::string& path) {
    output_file out;
    if (open_output_file(&out, path.c_str()) != 0) {
        return -1;
    }
    std::fputs("new", out.stream);
    return commit_output_file(&out);
}

inline bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const bytes& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

template <typename F> std::string capture_stdout(F&& f) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    std::forward<F>(f)();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Runs a POSIX shell command line with this machine's tools (mkfs.fat,
// mtools, Pillow, ImageMagick, netpbm) and gives its exit status, or -1.
// Under Wine a Windows program can start the machine's own programs, but
// learns neither when they end nor their exit status; so the shell leaves
// the status in a file, renamed into place once written, which is waited
// for. Windows itself has no such tools: -1.
inline int run_host_command(const std::string& command) {
#ifdef _WIN32
    if (!under_wine()) {
        return -1;
    }
    // Wine reuses process numbers: the name is a random one.
    std::random_device seed;
    const std::string status_file =
        "/tmp/kz_status_" + std::to_string(seed()) + "_" + std::to_string(seed());
    const std::string script = "(\n" + command + "\n)\necho $? >'" + status_file + ".new' && mv '" +
                               status_file + ".new' '" + status_file + "'";
    // One argument by the rules of the Windows command line: quotes escaped,
    // and the backslashes before a quote doubled.
    std::wstring line = L"/bin/sh -c \"";
    std::size_t backslashes = 0;
    for (const char c : script) {
        if (c == '\\') {
            ++backslashes;
        } else {
            const std::size_t escapes = c == '"' ? backslashes + 1 : 0;
            line.append(escapes, L'\\');
            backslashes = 0;
        }
        line += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    line.append(backslashes, L'\\');
    line += L'"';
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return -1;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    constexpr int poll_ms = 5;
    constexpr int limit_ms = 300000;
    std::error_code ignored;
    for (int waited = 0; waited < limit_ms && !std::filesystem::exists(status_file, ignored);
         waited += poll_ms) {
        ::Sleep(poll_ms);
    }
    int status = -1;
    std::ifstream(status_file) >> status;
    std::filesystem::remove(status_file, ignored);
    return status;
#else
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

inline bool host_tools_available() {
#ifdef _WIN32
    return under_wine();
#else
    return true;
#endif
}

// Tests whose fixtures are made or checked by this machine's tools cannot
// run on Windows itself; the end-to-end tables, which run the Windows
// programs against the same tools, stand for them there.
#define KZ_SKIP_WITHOUT_HOST_TOOLS()                                                               \
    if (!host_tools_available())                                                                   \
    GTEST_SKIP() << "needs this machine's tools (mkfs.fat, mtools, Pillow...), as under Wine"

// A stream for scratch data, gone when closed: the file layer's own.
inline std::FILE* temporary_stream() {
    return open_temporary_stream();
}

#ifndef _WIN32
// Runs f in a child, for limits and identities the test process must not
// take on; its output goes where the parent's goes. Gives f's result as the
// exit status, or -1.
template <typename F> int in_child(F f) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        const int code = f();
        std::fflush(stdout);
        ::_exit(code);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)
               ? WEXITSTATUS(status)
               : -1;
}

// A test run as root must not write to /dev/full unless it is the device:
// otherwise the write would create or replace a file there.
inline bool dev_full_is_device() {
    struct stat st {};
    const bool ok = ::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode);
    EXPECT_TRUE(ok) << "/dev/full is not a character device; not writing to it";
    return ok;
}
#endif

} // namespace kz::test

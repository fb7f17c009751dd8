// Scratch directories, files, captured output and child processes for the
// console and disk tests.
#pragma once

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

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kz::test {

using bytes = std::vector<std::uint8_t>;

struct scratch_dir {
    std::string path;
    scratch_dir() {
        std::string name = (std::filesystem::temp_directory_path() / "kz_test_XXXXXX").string();
        path = ::mkdtemp(name.data()) ? name : "/nonexistent";
    }
    ~scratch_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    // Everything in the directory, so that a leftover temporary file shows.
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& item : std::filesystem::directory_iterator(path)) {
            found.insert(item.path().filename().string());
        }
        return found;
    }
};

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

} // namespace kz::test

// Scratch directories and captured output for the console tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace kz::test {

using bytes = std::vector<std::uint8_t>;

struct scratch_dir {
    std::string path;
    scratch_dir() {
        std::string name = (std::filesystem::temp_directory_path() / "kz_console_XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr) {
            path = name;
        }
    }
    ~scratch_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }

    // Everything in the directory, so a leftover temporary file shows.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& item : std::filesystem::directory_iterator(path)) {
            found.push_back(item.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
};

inline bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

template <typename F> std::string capture_stdout(F&& f) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    std::forward<F>(f)();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

} // namespace kz::test

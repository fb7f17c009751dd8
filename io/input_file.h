// An input stream that closes itself: files that are only read have nothing
// to report at close, so the destructor is all they need.
#pragma once

#include <cstdio>
#include <memory>

namespace kz {

struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

using input_file = std::unique_ptr<std::FILE, file_closer>;

// Opens path for binary reading; empty on failure.
inline input_file open_input_file(const char* path) {
    return input_file(std::fopen(path, "rb"));
}

} // namespace kz

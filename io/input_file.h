// An input stream that closes itself: files that are only read have nothing
// to report at close, so the destructor is all they need.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace kz {

struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

using input_file = std::unique_ptr<std::FILE, file_closer>;

// Opens path for binary reading; empty on failure. On Windows the path is
// UTF-8, like every name the programs are given.
input_file open_input_file(const char* path);

// Whether the stream can seek. A pipe cannot; on Windows the C runtime
// claims success for a seek on a pipe and moves nowhere, so the answer comes
// from the system rather than from a trial seek.
bool stream_can_seek(std::FILE* stream);

// Moves to the end of the stream and gives that position, or -1. Counted in
// 64 bits, as Windows' long (and so ftell) has only 32.
std::int64_t seek_to_end(std::FILE* stream);

} // namespace kz

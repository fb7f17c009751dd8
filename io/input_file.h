// Reading files: input streams, whole files in memory, scratch streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace kz {

// An input stream that closes itself: files that are only read have nothing
// to report at close, so the destructor is all they need.
struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

using input_file = std::unique_ptr<std::FILE, file_closer>;

// Opens path for binary reading; empty on failure. On Windows the path is
// UTF-8, like every name the programs are given.
input_file open_input_file(const char* path);

// Opens path for binary reading, as a regular file only: 0 and the stream;
// -1 when it cannot be opened; -2 when it names anything else (a folder, a
// FIFO, a device), found out without waiting, as a FIFO without a writer,
// a terminal or a device could keep a read waiting for ever.
int open_regular_file(const char* path, input_file* stream);

// Whether the stream can seek. A pipe cannot; on Windows the C runtime
// claims success for a seek on a pipe and moves nowhere, so the answer comes
// from the system rather than from a trial seek.
bool stream_can_seek(std::FILE* stream);

// Moves to the end of the stream and gives that position, or -1. Counted in
// 64 bits, as Windows' long (and so ftell) has only 32.
std::int64_t seek_to_end(std::FILE* stream);

// A file's whole content in memory as the program's own copy: changing it
// changes the copy, never the file. The content is either read into the
// buffer or, where the system allows, the file is mapped copy-on-write, so
// that only the pages a run looks at are brought in and only those it
// changes are copied. One of the two holds the bytes, and content_bytes()
// is the one view of them. An empty record holds nothing.
struct mapping_release {
    std::size_t length = 0;
    void operator()(std::uint8_t* address) const;
};

struct file_content {
    std::vector<std::uint8_t> buffer;                       // the content, when read
    std::unique_ptr<std::uint8_t, mapping_release> mapping; // the content, when mapped
};

std::span<std::uint8_t> content_bytes(file_content& content);
std::span<const std::uint8_t> content_bytes(const file_content& content);

// Maps the whole file under an open stream into content: true when it is
// done. False, with content empty, where it cannot be: a stream that is not
// a regular file (a pipe, a device), an empty file or one longer than
// max_length, or a system without mappings; the caller then reads the
// stream instead.
//
// A mapped file can shrink under the program, or its storage fail (a
// network or FUSE file system): the pages that cannot be read then read as
// zeros instead of ending the program, and content_read_failed() tells,
// from then on, that the content is not the file's. A reader checks it
// once it has taken what it needs, and treats the read as failed.
bool map_file_content(std::FILE* stream, std::uint64_t max_length, file_content* content);

bool content_read_failed(const file_content& content);

// A stream for scratch data, open for reading and writing, gone when closed
// (on Windows in the user's temporary directory rather than the drive's
// root, which an ordinary user may not write). Null on failure.
std::FILE* open_temporary_stream();

} // namespace kz

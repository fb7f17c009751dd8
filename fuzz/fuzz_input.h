// Shared pieces of the fuzz targets: a cursor that takes control values
// from the front of the fuzzer's bytes, memory streams over the rest, and a
// check that ends the run loudly when an invariant breaks.
#pragma once

#include "io/input_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

namespace kz::fuzz {

// Control values come first; a short input reads as zeros, so every input
// is a valid one.
struct input_cursor {
    std::span<const std::uint8_t> bytes;

    std::uint8_t take_byte() {
        if (bytes.empty()) {
            return 0;
        }
        const std::uint8_t value = bytes.front();
        bytes = bytes.subspan(1);
        return value;
    }
    std::uint16_t take_u16() {
        const std::uint16_t low = take_byte();
        return static_cast<std::uint16_t>(low | take_byte() << 8);
    }
    std::uint32_t take_u32() {
        const std::uint32_t low = take_u16();
        return low | static_cast<std::uint32_t>(take_u16()) << 16;
    }
    std::span<const std::uint8_t> take(std::size_t count) {
        const std::size_t n = count < bytes.size() ? count : bytes.size();
        const std::span<const std::uint8_t> part = bytes.first(n);
        bytes = bytes.subspan(n);
        return part;
    }
};

// A stream that closes itself; memory streams have nothing to report at close.
using stream = std::unique_ptr<std::FILE, file_closer>;

// A read-only stream over a copy of the bytes (fmemopen wants a writable
// buffer, and one byte at least). The copy must outlive the stream. Windows
// has no memory streams: there the bytes go to a temporary file, which is
// slow for fuzzing but serves the corpus replays.
inline stream open_memory_stream(std::span<const std::uint8_t> bytes,
                                 std::vector<std::uint8_t>* copy) {
    copy->assign(bytes.begin(), bytes.end());
#ifdef _WIN32
    stream file(open_temporary_stream());
    if (file && (copy->empty() || std::fwrite(copy->data(), copy->size(), 1, file.get()) == 1) &&
        std::fseek(file.get(), 0, SEEK_SET) == 0) {
        return file;
    }
    return stream();
#else
    if (copy->empty()) {
        return stream(std::fopen("/dev/null", "rb"));
    }
    return stream(fmemopen(copy->data(), copy->size(), "rb"));
#endif
}

// A stream to write into; take_written_bytes then gives what was written.
struct written_bytes {
    written_bytes() = default;
    written_bytes(const written_bytes&) = delete;
    written_bytes& operator=(const written_bytes&) = delete;
#ifdef _WIN32
    stream file{open_temporary_stream()};
    std::FILE* get() const {
        return file.get();
    }
    std::vector<std::uint8_t> take() {
        std::vector<std::uint8_t> bytes;
        if (!file || std::fflush(file.get()) != 0) {
            return bytes;
        }
        const long size = std::ftell(file.get());
        bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        std::rewind(file.get());
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
        file.reset();
        return bytes;
    }
#else
    char* text = nullptr;
    std::size_t length = 0;
    stream file{open_memstream(&text, &length)};
    std::FILE* get() const {
        return file.get();
    }
    std::vector<std::uint8_t> take() {
        file.reset(); // open_memstream's buffer is complete once closed
        std::vector<std::uint8_t> bytes(text, text + length);
        std::free(text);
        text = nullptr;
        return bytes;
    }
    ~written_bytes() {
        file.reset();
        std::free(text);
    }
#endif
};

// A broken invariant is a finding: abort so that the fuzzer keeps the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

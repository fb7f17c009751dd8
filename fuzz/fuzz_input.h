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
// buffer, and one byte at least). The copy must outlive the stream.
inline stream open_memory_stream(std::span<const std::uint8_t> bytes,
                                 std::vector<std::uint8_t>* copy) {
    copy->assign(bytes.begin(), bytes.end());
    if (copy->empty()) {
        return stream(std::fopen("/dev/null", "rb"));
    }
    return stream(fmemopen(copy->data(), copy->size(), "rb"));
}

// A broken invariant is a finding: abort so that the fuzzer keeps the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Reading files on POSIX systems, which take names as the bytes they are given.
#include "io/input_file.h"

#include <cstdio>

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace kz {

input_file open_input_file(const char* path) {
    return input_file(std::fopen(path, "rb"));
}

bool stream_can_seek(std::FILE* stream) {
    return std::ftell(stream) >= 0;
}

std::int64_t seek_to_end(std::FILE* stream) {
    if (::fseeko(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    return ::ftello(stream);
}

void mapping_release::operator()(std::uint8_t* address) const {
    ::munmap(address, length);
}

bool map_file_content(std::FILE* stream, std::uint64_t max_length, file_content* content) {
    *content = file_content{};
    struct stat st {};
    const int fd = ::fileno(stream);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<std::uint64_t>(st.st_size) > max_length) {
        return false;
    }
    const auto length = static_cast<std::size_t>(st.st_size);
    // Private and writable: the program's changes are copied out of the
    // file's pages the moment they are made and never written back.
    void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (address == MAP_FAILED) {
        return false;
    }
    content->mapping = std::unique_ptr<std::uint8_t, mapping_release>(
        static_cast<std::uint8_t*>(address), mapping_release{length});
    content->bytes = std::span<std::uint8_t>(content->mapping.get(), length);
    return true;
}

std::FILE* open_temporary_stream() {
    return std::tmpfile();
}

} // namespace kz

// Reading files on POSIX systems, which take names as the bytes they are given.
#include "io/input_file.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace kz {

namespace {

// The mappings that may fault. A page of a mapped file that the system
// cannot supply (the file was cut short, its storage failed) raises SIGBUS,
// which would end the program without a word. The handler puts a page of
// zeros in its place and marks the mapping as failed, so that the reader
// carries on to a point where it can report the failure. The table is
// fixed and lock-free, as a signal handler may look at it at any moment.
struct guarded_mapping {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> length{0};
    std::atomic<int> failed{0};
};

std::array<guarded_mapping, 8> guarded;
std::uintptr_t page_size = 4096;
struct sigaction earlier_action {};
bool handler_installed = false;

void on_bus_error(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (guarded_mapping& mapping : guarded) {
        const std::uintptr_t start = mapping.start.load();
        if (start == 0 || address < start || address - start >= mapping.length.load()) {
            continue;
        }
        void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
        if (::mmap(page, page_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                   -1, 0) != MAP_FAILED) {
            mapping.failed.store(1);
            return; // the access is made again, and now reads zeros
        }
    }
    // Not one of ours: whatever was there before decides.
    ::sigaction(SIGBUS, &earlier_action, nullptr);
    if ((earlier_action.sa_flags & SA_SIGINFO) != 0 && earlier_action.sa_sigaction != nullptr) {
        earlier_action.sa_sigaction(signal, info, context);
    } else if (earlier_action.sa_handler != SIG_DFL && earlier_action.sa_handler != SIG_IGN &&
               earlier_action.sa_handler != nullptr) {
        earlier_action.sa_handler(signal);
    } else {
        ::raise(SIGBUS);
    }
}

bool install_handler() {
    if (handler_installed) {
        return true;
    }
    const long size = ::sysconf(_SC_PAGESIZE);
    if (size > 0) {
        page_size = static_cast<std::uintptr_t>(size);
    }
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    handler_installed = ::sigaction(SIGBUS, &action, &earlier_action) == 0;
    return handler_installed;
}

guarded_mapping* find_guarded(const std::uint8_t* address) {
    for (guarded_mapping& mapping : guarded) {
        if (mapping.start.load() == reinterpret_cast<std::uintptr_t>(address)) {
            return &mapping;
        }
    }
    return nullptr;
}

} // namespace

input_file open_input_file(const char* path) {
    return input_file(std::fopen(path, "rb"));
}

// Opened without blocking, so that a FIFO with no writer answers at once,
// then taken for what it is; a regular file reads the same either way, but
// the flag is cleared all the same.
int open_regular_file(const char* path, input_file* stream) {
    stream->reset();
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    int result = ::fstat(fd, &st) != 0 ? -1 : !S_ISREG(st.st_mode) ? -2 : 0;
    const int flags = result == 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (result == 0 && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
        result = -1;
    }
    std::FILE* opened = result == 0 ? ::fdopen(fd, "rb") : nullptr;
    if (opened == nullptr) {
        ::close(fd);
        return result == 0 ? -1 : result;
    }
    stream->reset(opened);
    return 0;
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
    if (guarded_mapping* mapping = find_guarded(address)) {
        mapping->start.store(0);
        mapping->length.store(0);
        mapping->failed.store(0);
    }
    ::munmap(address, length);
}

std::span<std::uint8_t> content_bytes(file_content& content) {
    if (content.mapping) {
        return {content.mapping.get(), content.mapping.get_deleter().length};
    }
    return content.buffer;
}

std::span<const std::uint8_t> content_bytes(const file_content& content) {
    if (content.mapping) {
        return {content.mapping.get(), content.mapping.get_deleter().length};
    }
    return content.buffer;
}

bool map_file_content(std::FILE* stream, std::uint64_t max_length, file_content* content) {
    *content = file_content{};
    struct stat st {};
    const int fd = ::fileno(stream);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<std::uint64_t>(st.st_size) > max_length || !install_handler()) {
        return false;
    }
    guarded_mapping* slot = find_guarded(nullptr);
    if (slot == nullptr) {
        return false;
    }
    const auto length = static_cast<std::size_t>(st.st_size);
    // Private and writable: the program's changes are copied out of the
    // file's pages the moment they are made and never written back.
    void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (address == MAP_FAILED) {
        return false;
    }
    slot->failed.store(0);
    slot->length.store(length);
    slot->start.store(reinterpret_cast<std::uintptr_t>(address));
    content->mapping = std::unique_ptr<std::uint8_t, mapping_release>(
        static_cast<std::uint8_t*>(address), mapping_release{length});
    return true;
}

bool content_read_failed(const file_content& content) {
    if (!content.mapping) {
        return false;
    }
    const guarded_mapping* mapping = find_guarded(content.mapping.get());
    return mapping != nullptr && mapping->failed.load() != 0;
}

std::FILE* open_temporary_stream() {
    return std::tmpfile();
}

} // namespace kz

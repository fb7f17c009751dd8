// Disk images from the fuzzer's bytes, loaded from a file (one in memory,
// made once, where the system has them) or a memory stream with the FDI or
// XDF data offset for a file that no container claims, then a file looked
// up, read, overwritten and read again, and now and then the image written
// back and read whole in one call. The seeds hold every container (raw,
// FDI, D88 with one disk and several, NFD of both revisions, FDD, DIM), so
// that each container module is driven through the same calls. Whatever
// the container, the FAT and the directory claim, a file that reads can be
// overwritten unless its container holds a sector it cannot change in
// place (a DIM track the file leaves out, an NFD sector with special-read
// data), a refused overwrite leaves the image as it was, a file that was
// overwritten must read back as written, the file must keep its bytes
// outside what was appended, and the written image must be those bytes.
#include "disk/container.h"
#include "disk/disk.h"
#include "fuzz/fuzz_input.h"
#include "shapes/shapes.h" // the sizes of the two shape files

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <filesystem>
#include <random>
#else
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kz;
using namespace kz::fuzz;

namespace {

#ifdef _WIN32
// One scratch directory per process for the file-based paths, removed when
// the process exits. Windows has no files in memory; this serves the
// corpus replays, not fuzzing.
struct scratch_directory {
    std::string path;

    scratch_directory() {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        require(!error, "temporary directory");
        std::random_device seed;
        for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
            const auto candidate = base / ("fuzz_disk_image." + std::to_string(seed()));
            if (std::filesystem::create_directory(candidate, error)) {
                path = candidate.string();
            }
        }
        require(!path.empty(), "scratch directory");
    }
    ~scratch_directory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// A file under a name of its own, its content replaced and read whole.
struct scratch_file {
    std::string path;

    explicit scratch_file(const char* name) {
        static const scratch_directory dir;
        path = dir.path + "/" + name;
    }
    void set(std::span<const std::uint8_t> bytes) const {
        stream out(std::fopen(path.c_str(), "wb"));
        require(out && (bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, out.get()) == 1),
                "scratch file written");
    }
    std::vector<std::uint8_t> get() const {
        stream in(std::fopen(path.c_str(), "rb"));
        require(in != nullptr && std::fseek(in.get(), 0, SEEK_END) == 0, "scratch file opened");
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(in.get())));
        std::rewind(in.get());
        require(bytes.empty() || std::fread(bytes.data(), bytes.size(), 1, in.get()) == 1,
                "scratch file read");
        return bytes;
    }
};
#else
// A file in memory, made once per process and named through /proc, so that
// a run creates no file: the loader opens it as the regular file it is,
// and the image is written back through the name in place.
struct scratch_file {
    int fd = -1;
    std::string path;

    explicit scratch_file(const char* name) : fd(::memfd_create(name, MFD_CLOEXEC)) {
        require(fd >= 0, "file in memory");
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~scratch_file() {
        ::close(fd);
    }
    void set(std::span<const std::uint8_t> bytes) const {
        require(::ftruncate(fd, 0) == 0 &&
                    ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
                "file in memory written");
    }
    std::vector<std::uint8_t> get() const {
        struct stat st {};
        require(::fstat(fd, &st) == 0, "file in memory sized");
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
        require(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
                "file in memory read");
        return bytes;
    }
};
#endif

const scratch_file& image_file() {
    static const scratch_file file("image");
    return file;
}

const scratch_file& written_file() {
    static const scratch_file file("written");
    return file;
}

// Whether the disk has a sector that reads but that its container cannot
// change in place: a file whose chain passes one reads, and is not replaced.
bool has_locked_unit(const disk_image* disk) {
    for (std::int64_t unit = 0; unit < static_cast<std::int64_t>(disk->units.size()); ++unit) {
        if (unit_readable(disk, unit, false) && !unit_writable(disk, unit, false)) {
            return true;
        }
    }
    return false;
}

constexpr std::array<const char*, 6> known_names = {
    "TILES.CH", "NPC.CH", "tiles.ch", "Npc.Ch", "LONGFILENAME.EXT", "A.B.C",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_cursor input{std::span(data, size)};
    const std::uint8_t mode = input.take_byte();
    const std::uint16_t length_choice = input.take_u16();
    const std::int32_t offset = (mode & 0x01) ? fdi_disk_offset : xdf_disk_offset;
    const int ignore_case = (mode >> 1) & 0x01;
    const bool from_file = (mode & 0x04) != 0;
    const bool write_back = (mode & 0x08) != 0;

    // The name: one the programs use (or a near miss), or 12 bytes of input.
    std::array<char, 13> name_bytes{};
    const char* name = nullptr;
    if (mode & 0x10) {
        const auto part = input.take(12);
        std::copy(part.begin(), part.end(), name_bytes.begin());
        name = name_bytes.data();
    } else {
        name = known_names[(mode >> 5) % known_names.size()];
    }
    // Exactly a shape file's size, or anything up to 64 KiB.
    std::size_t length = length_choice;
    if (length_choice == 0xFFFF) {
        length = tiles_ch_size;
    } else if (length_choice == 0xFFFE) {
        length = npc_ch_size;
    }

    // A file of several disks is read on the one that holds the name.
    const std::array<const char*, 1> wanted = {name};
    disk_image disk;
    int loaded = -1;
    if (from_file) {
        image_file().set(input.bytes);
        loaded = load_disk_image(&disk, image_file().path.c_str(), offset, wanted);
    } else {
        std::vector<std::uint8_t> copy;
        stream in = open_memory_stream(input.bytes, &copy);
        if (!in) {
            return 0;
        }
        loaded = load_disk_stream(&disk, in.get(), "memory", offset, wanted);
    }
    if (loaded != 0) {
        require(loaded == -1 && content_bytes(disk.content).empty() && disk.fat.empty() &&
                    disk.units.empty(),
                "a failed load leaves an empty record");
        return 0;
    }
    require(std::ranges::equal(content_bytes(disk.content), input.bytes),
            "the loaded image is the file");
    require(disk.units.size() == disk.fat.size(), "one FAT entry per unit");

    char dir_name[dir_name_length + 1];
    if (make_dir_name(dir_name, name) == 0) {
        root_entry entry;
        find_root_entry(&disk, dir_name, ignore_case, &entry);
    }

    std::vector<std::uint8_t> buffer(length);
    const int read = read_disk_file(&disk, name, buffer, ignore_case);

    std::vector<std::uint8_t> changed(length);
    for (std::size_t i = 0; i < changed.size(); ++i) {
        changed[i] = static_cast<std::uint8_t>(buffer[i] ^ (i * 7 + 1));
    }
    const int replaced = replace_disk_file(&disk, name, changed, ignore_case);
    require(replaced == read || (read == 0 && has_locked_unit(&disk)),
            "a file that reads can be replaced, and only such a file, unless a sector is locked");
    require(content_bytes(disk.content).size() == input.bytes.size() &&
                disk.appended.size() % disk_unit_size == 0,
            "replacing keeps the file's length and appends whole sectors only");
    if (replaced != 0) {
        require(std::ranges::equal(content_bytes(disk.content), input.bytes) && disk.appended.empty(),
                "a refused replacement leaves the image as it was");
    }
    if (replaced == 0) {
        std::vector<std::uint8_t> again(length);
        require(read_disk_file(&disk, name, again, ignore_case) == 0, "a replaced file reads");
        require(again == changed, "a replaced file reads back as written");
    }

    if (write_back) {
        require(write_disk_image(&disk, written_file().path.c_str()) == 0, "the image writes");
        const std::vector<std::uint8_t> written = written_file().get();
        const std::span<const std::uint8_t> file = content_bytes(disk.content);
        require(written.size() == file.size() + disk.appended.size() &&
                    std::equal(file.begin(), file.end(), written.begin()) &&
                    std::equal(disk.appended.begin(), disk.appended.end(),
                               written.begin() + static_cast<std::ptrdiff_t>(file.size())),
                "the written file is the image");
    }
    release_disk_image(&disk);
    require(content_bytes(disk.content).empty() && disk.units.empty(), "release clears the record");
    return 0;
}

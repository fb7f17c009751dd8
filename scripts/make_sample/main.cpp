// make_sample: writes synthetic sample data for trying the shape tools
// without the game's own disks.
//
//   make_sample OUTPUT_DIR
//
// Into OUTPUT_DIR (made if missing) it writes:
//   KZ_Varnholm.fdi  a PC-98 image: a 4096-byte FDI header, then the disk
//   kz-varnholm.xdf  an X68000 image: the same disk without the header
//   TILES.16         a decoded EGA tile file (512 tiles, 4 bits per pixel)
//   TILES.4          a decoded CGA tile file (512 tiles, 2 bits per pixel)
//   KZ_Varnholm.hdm  the disk as PC-98 archive sets keep it (raw, as the XDF)
//   KZ_Varnholm.d88  the disk in D88, sectors interleaved
//   KZ_Varnholm.nfd  the disk in NFD (revision 0)
//   KZ_Varnholm.fdd  the disk in FDD, sectors of one repeated byte unstored
//   kz-varnholm.dim  the disk in DIM, as X68000 sets keep it
//
// The disk is a FAT12 file system of 1232 units of 1024 bytes holding a
// label, SAMPLE.TXT, TILES.CH, NPC.CH (deliberately fragmented) and a decoy
// file. Every shape and tile shows its number or a picture that makes the
// tools' adjustments visible. The program shares no code with the tools, so
// it is an independent writer of every format they read, and its output is
// the same bytes on every run.

#include "containers.h"
#include "drawing.h"
#include "fat_disk.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace kz::sample {
namespace {

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Writes the parts one after another; a short write or a failed close
// removes the half-written file and counts as failure.
int write_file(const std::filesystem::path& path,
               std::initializer_list<std::span<const std::uint8_t>> parts) {
    const std::string name = path.string();
    file_ptr file(std::fopen(name.c_str(), "wb"));
    if (!file) {
        std::printf("can't open '%s'\n", name.c_str());
        return -1;
    }
    bool ok = true;
    for (const auto& part : parts)
        if (ok && std::fwrite(part.data(), 1, part.size(), file.get()) != part.size())
            ok = false;
    if (std::fclose(file.release()) != 0)
        ok = false;
    if (!ok) {
        std::printf("write error '%s'\n", name.c_str());
        std::remove(name.c_str());
        return -1;
    }
    std::printf("wrote %s\n", name.c_str());
    return 0;
}

int run(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT_DIR\n", stdout);
        return 1;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir, error)) {
        std::printf("can't create directory '%s'\n", argv[1]);
        return 1;
    }

    byte_vector disk;
    if (build_disk(disk) < 0)
        return 1;
    const std::vector<std::uint8_t> header = make_fdi_header();
    const byte_vector d88 = make_d88(disk);
    const byte_vector nfd = make_nfd(disk);
    const byte_vector fdd = make_fdd(disk);
    const byte_vector dim = make_dim(disk);
    const std::vector<std::uint8_t> ega = make_ega_tiles();
    const std::vector<std::uint8_t> cga = make_cga_tiles();
    if (ega.size() != ega_tiles_size || cga.size() != cga_tiles_size) {
        std::fputs("internal error: tile file size\n", stdout);
        return 1;
    }

    if (write_file(dir / "KZ_Varnholm.fdi", {header, disk}) < 0 ||
        write_file(dir / "kz-varnholm.xdf", {disk}) < 0 ||
        write_file(dir / "TILES.16", {ega}) < 0 || write_file(dir / "TILES.4", {cga}) < 0 ||
        write_file(dir / "KZ_Varnholm.hdm", {disk}) < 0 ||
        write_file(dir / "KZ_Varnholm.d88", {d88}) < 0 ||
        write_file(dir / "KZ_Varnholm.nfd", {nfd}) < 0 ||
        write_file(dir / "KZ_Varnholm.fdd", {fdd}) < 0 ||
        write_file(dir / "kz-varnholm.dim", {dim}) < 0)
        return 1;
    return 0;
}

} // namespace
} // namespace kz::sample

int main(int argc, char** argv) {
    try {
        const int status = kz::sample::run(argc, argv);
        if (std::fflush(stdout) != 0)
            return 1;
        return status;
    } catch (const std::bad_alloc&) {
        std::fputs("memory exhaust!\n", stdout);
        return 1;
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
}

// Scratch directories, captured output and FAT12 floppy images made by the
// real mkfs.fat and mcopy, shared by the disk tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>

namespace kz::test {

using bytes = std::vector<std::uint8_t>;

constexpr std::size_t fdi_header_size = 4096;
constexpr std::size_t unit = 1024;

struct scratch_dir {
    std::string path;
    scratch_dir() {
        std::string name = (std::filesystem::temp_directory_path() / "kz_disk_XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr) {
            path = name;
        }
    }
    ~scratch_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
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

inline std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Exit status of a shell command, its output thrown away.
inline int run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string tool_beside_mcopy(const char* name) {
    return (std::filesystem::path(KZ_MCOPY).parent_path() / name).string();
}

// Deterministic bytes with no repeats at any cluster-sized period, so a
// cluster read from the wrong place or in the wrong order shows.
inline bytes pattern(std::size_t size, std::uint32_t seed) {
    bytes data(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& b : data) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return data;
}

// Runs f with standard output captured; gives what f printed.
template <typename F> std::string capture_stdout(F&& f) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    std::forward<F>(f)();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

struct fixture_file_info {
    const char* name;
    std::size_t size;
    std::uint32_t seed;
};

// TILES.CH and NPC.CH at the sizes the tools read, a file whose size is not a
// multiple of the cluster, and FRAG.BIN, fragmented on purpose: A.TMP is
// copied, then B.DAT, A.TMP is deleted, and FRAG.BIN fills A.TMP's hole and
// continues after B.DAT.
inline const std::vector<fixture_file_info>& fixture_files() {
    static const std::vector<fixture_file_info> files = {
        {"TILES.CH", 98304, 1}, {"NPC.CH", 131072, 2}, {"ODD.BIN", 3000, 3},
        {"B.DAT", 2048, 4},     {"FRAG.BIN", 5000, 5},
    };
    return files;
}

inline const fixture_file_info& fixture_file(const std::string& name) {
    for (const auto& f : fixture_files()) {
        if (name == f.name) {
            return f;
        }
    }
    ADD_FAILURE() << "no fixture file " << name;
    return fixture_files().front();
}

inline bytes fixture_content(const std::string& name) {
    const auto& f = fixture_file(name);
    return pattern(f.size, f.seed);
}

// The X68000 layout: 1232 units of 1024 bytes, one reserved unit, two FATs of
// two units, 192 root entries. Built in dir; gives the image bytes.
inline bytes make_xdf(const scratch_dir& dir) {
    const std::string img = dir.file("base.xdf");
    std::filesystem::remove(img);
    if (run(std::string(KZ_MKFS_FAT) + " -C -S 1024 -s 1 -f 2 -F 12 -r 192 -R 1 -M 0xfe -h 0 " +
            quote(img) + " 1232") != 0) {
        ADD_FAILURE() << "mkfs.fat failed";
        return {};
    }
    auto copy_in = [&](const std::string& name, const bytes& data) {
        const std::string host = dir.file("host_" + name);
        write_file(host, data);
        if (run(std::string(KZ_MCOPY) + " -i " + quote(img) + " " + quote(host) + " ::" + name) !=
            0) {
            ADD_FAILURE() << "mcopy " << name << " failed";
        }
    };
    copy_in("TILES.CH", fixture_content("TILES.CH"));
    copy_in("NPC.CH", fixture_content("NPC.CH"));
    copy_in("ODD.BIN", fixture_content("ODD.BIN"));
    copy_in("A.TMP", pattern(3000, 99));
    copy_in("B.DAT", fixture_content("B.DAT"));
    if (run(tool_beside_mcopy("mdel") + " -i " + quote(img) + " ::A.TMP") != 0) {
        ADD_FAILURE() << "mdel failed";
    }
    copy_in("FRAG.BIN", fixture_content("FRAG.BIN"));
    return read_file(img);
}

// An FDI image: a 4096-byte header that no code interprets (a counting
// pattern, so a header lost or shifted shows), then the same disk.
inline bytes make_fdi(const bytes& xdf) {
    bytes fdi(fdi_header_size);
    for (std::size_t i = 0; i < fdi.size(); ++i) {
        fdi[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    fdi.insert(fdi.end(), xdf.begin(), xdf.end());
    return fdi;
}

} // namespace kz::test

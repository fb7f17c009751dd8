// How paths name their files, and names beyond ASCII through the file layer,
// on POSIX systems and on Windows.
#include "io/input_file.h"
#include "io/output_file.h"
#include "io/path.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kz::test {
namespace {

#ifdef _WIN32
constexpr bool windows = true;
#else
constexpr bool windows = false;
#endif

TEST(file_name_start, follows_the_last_separator_of_the_system) {
    // On POSIX systems only '/' separates; a backslash or a colon is part of
    // a file name there.
    const struct {
        const char* path;
        std::size_t posix;
        std::size_t windows;
    } cases[] = {{"image.fdi", 0, 0},
                 {"old.dir/image", 8, 8},
                 {"old.dir\\image", 0, 8},
                 {"C:image.fdi", 0, 2},
                 {"C:\\x.d\\image", 0, 7},
                 {"a\\b/c.d", 4, 4},
                 {"d/e.f\\g", 2, 6},
                 {"1:image", 0, 0},
                 {"dir/C:image", 4, 4},
                 {"", 0, 0},
                 {"/", 1, 1},
                 {"\\\\server\\share\\x", 0, 15}};
    for (const auto& c : cases) {
        EXPECT_EQ(file_name_start(c.path), windows ? c.windows : c.posix) << c.path;
    }
}

// The names reach the file system whole, whatever the ANSI code page of a
// Windows system: the ones named in the program's messages are the ones on
// disk.
TEST(file_layer, names_beyond_ascii_are_written_found_and_read_as_given) {
    const char* const names[] = {"\xE3\x82\xB7\xE3\x82\xA7\xE3\x82\xA4\xE3\x83\x97.bmp", // シェイプ
                                 "\xC7\xBA.fdi",                                         // Ǻ
                                 "na\xC3\xAFve image.NEW.xdf"};                          // naïve
    for (const char* name : names) {
        scratch_dir dir;
        const std::string path = dir.file(name);
        EXPECT_FALSE(path_exists(path.c_str()));
        output_file out;
        ASSERT_EQ(open_output_file(&out, path.c_str()), 0) << name;
        std::fputs(name, out.stream);
        ASSERT_EQ(commit_output_file(&out), 0) << name;

        EXPECT_TRUE(path_exists(path.c_str()));
        const input_file in = open_input_file(path.c_str());
        ASSERT_TRUE(in) << name;
        std::string content(64, '\0');
        content.resize(std::fread(content.data(), 1, content.size(), in.get()));
        EXPECT_EQ(content, name);
        std::set<std::string> listed;
        for (const auto& item : std::filesystem::directory_iterator(dir.path)) {
            const std::u8string utf8 = item.path().filename().u8string();
            listed.insert(std::string(utf8.begin(), utf8.end()));
        }
        EXPECT_EQ(listed, std::set<std::string>{name});
    }
}

// A regular file is mapped as the program's own copy: what the program
// changes never reaches the file. Everything else is left to be read: an
// empty file, one over the length allowed, a pipe, and on Windows, where a
// mapped file could not be replaced while the program runs, every file.
TEST(map_file_content, maps_a_regular_file_as_a_private_copy_and_nothing_else) {
    scratch_dir dir;
    const std::string path = dir.file("image");
    const bytes content = {'F', 'A', 'T', 0x00, 0xFF, 0x12};
    write_file(path, content);
    write_file(dir.file("empty"), {});
    const struct {
        std::string path;
        std::uint64_t max_length;
        bool mapped;
    } cases[] = {{path, 6, !windows}, {path, 5, false}, {dir.file("empty"), 6, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " up to " + std::to_string(c.max_length));
        input_file stream = open_input_file(c.path.c_str());
        ASSERT_TRUE(stream);
        file_content mapped;
        mapped.buffer.assign(3, 0xEE); // whatever the record held goes
        EXPECT_EQ(map_file_content(stream.get(), c.max_length, &mapped), c.mapped);
        if (!c.mapped) {
            EXPECT_TRUE(content_bytes(mapped).empty() && mapped.buffer.empty() && !mapped.mapping);
            continue;
        }
        EXPECT_EQ(bytes(content_bytes(mapped).begin(), content_bytes(mapped).end()), content);
        content_bytes(mapped)[0] = 'X';
        EXPECT_EQ(read_file(path), content);
        mapped = file_content{};
        EXPECT_EQ(read_file(path), content);
    }
#ifndef _WIN32
    std::array<int, 2> fds{};
    ASSERT_EQ(::pipe(fds.data()), 0);
    ASSERT_EQ(::write(fds[1], content.data(), content.size()), ssize_t(content.size()));
    ::close(fds[1]);
    input_file pipe_stream(::fdopen(fds[0], "rb"));
    file_content from_pipe;
    EXPECT_FALSE(map_file_content(pipe_stream.get(), 6, &from_pipe));
    EXPECT_TRUE(content_bytes(from_pipe).empty());
#endif
}

// A disk image must be a regular file, and what is not one is said to be so
// at once: a FIFO without a writer, or a device, would keep a read waiting.
TEST(open_regular_file, refuses_what_is_not_a_regular_file_without_waiting) {
    scratch_dir dir;
    const std::string file = dir.file("image");
    write_file(file, {'D', 'I', 'S', 'K'});
    std::vector<std::pair<std::string, int>> cases = {
        {file, 0}, {dir.file("missing"), -1}, {dir.path, -2}, {windows ? "NUL" : "/dev/null", -2}};
#ifdef _WIN32
    const std::wstring pipe_name = L"\\\\.\\pipe\\kz_test_" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE server = ::CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1,
                                             4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    cases.emplace_back("\\\\.\\pipe\\kz_test_" + std::to_string(::GetCurrentProcessId()), -2);
#else
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    cases.emplace_back(fifo, -2);
    ::alarm(20); // a wait for a writer ends the test rather than hanging it
#endif
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        input_file stream(std::fopen(file.c_str(), "rb")); // whatever it held goes
        EXPECT_EQ(open_regular_file(path.c_str(), &stream), expected);
        EXPECT_EQ(static_cast<bool>(stream), expected == 0);
        if (expected == 0) {
            char content[8] = {};
            EXPECT_EQ(std::fread(content, 1, sizeof content, stream.get()), 4u);
            EXPECT_EQ(std::string(content), "DISK");
        }
    }
#ifdef _WIN32
    ::CloseHandle(server);
#else
    ::alarm(0);
#endif
}

} // namespace
} // namespace kz::test

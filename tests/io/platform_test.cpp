// How paths name their files, and names beyond ASCII through the file layer,
// on POSIX systems and on Windows.
#include "io/input_file.h"
#include "io/output_file.h"
#include "io/platform.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
} // namespace kz::test

// The overwrite question, the output step that never costs the user a file,
// and the bitmap output file.
#include "console/console.h"
#include "console/output_file.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

namespace kz::test {
namespace {

constexpr const char* prompt = "overwrite ? (Y or N): ";
const bytes old_content = {'o', 'l', 'd'};

TEST(ask_yes_no, first_deciding_character_answers_and_the_rest_stays_unread) {
    const struct {
        const char* input;
        int answer;
        const char* rest;
    } cases[] = {{"abc\ny\n", 1, "\n"},  {"nope", 0, "ope"}, {"Yes", 1, "es"},
                 {"\n\n  N\n", 0, "\n"}, {"", 0, ""},        {"abc", 0, ""}};
    for (const auto& c : cases) {
        std::FILE* input = std::tmpfile();
        ASSERT_NE(input, nullptr);
        std::fputs(c.input, input);
        std::rewind(input);
        int answer = -1;
        EXPECT_EQ(capture_stdout([&] { answer = ask_yes_no_from(input, "overwrite ?"); }), prompt);
        EXPECT_EQ(answer, c.answer) << c.input;
        std::string rest(16, '\0');
        rest.resize(std::fread(rest.data(), 1, rest.size(), input));
        EXPECT_EQ(rest, c.rest) << c.input;
        std::fclose(input);
    }
    std::FILE* unreadable = std::fopen("/dev/null", "w"); // a read error counts as no
    ASSERT_NE(unreadable, nullptr);
    capture_stdout([&] { EXPECT_EQ(ask_yes_no_from(unreadable, "overwrite ?"), 0); });
    std::fclose(unreadable);
}

int write_new(const std::string& path) {
    output_file out;
    if (open_output_file(&out, path.c_str()) != 0) {
        return -1;
    }
    std::fputs("new", out.stream);
    return commit_output_file(&out);
}

TEST(output_file, commit_replaces_target_and_keeps_its_permission_bits) {
    const struct {
        mode_t existing; // 0: no file yet
        mode_t umask_value;
        mode_t expected;
    } cases[] = {{0640, 022, 0640}, {0604, 077, 0604}, {0, 022, 0644}, {0, 027, 0640}};
    for (const auto& c : cases) {
        scratch_dir dir;
        const std::string target = dir.file("t");
        if (c.existing) {
            write_file(target, old_content);
            ASSERT_EQ(::chmod(target.c_str(), c.existing), 0);
        }
        const mode_t saved = ::umask(c.umask_value);
        EXPECT_EQ(write_new(target), 0);
        ::umask(saved);
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.expected) << std::oct << c.expected;
        EXPECT_EQ(read_file(target), (bytes{'n', 'e', 'w'}));
        EXPECT_EQ(dir.names(), std::set<std::string>{"t"});
    }
}

TEST(output_file, replaced_file_keeps_its_owner) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "only root can write another user's file";
    }
    scratch_dir dir;
    const std::string target = dir.file("t");
    write_file(target, old_content);
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    EXPECT_EQ(write_new(target), 0);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
}

TEST(output_file, symbolic_link_is_written_through_and_stays_a_link) {
    scratch_dir dir;
    write_file(dir.file("real"), old_content);
    ASSERT_EQ(::symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(write_new(dir.file("link")), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(dir.file("real")), (bytes{'n', 'e', 'w'}));
}

// Whatever goes wrong, the target keeps its content and no temporary file
// stays. Each case runs in a child: one under a 1 KiB file size limit that
// only the commit's flush runs into, one as an ordinary user facing a
// read-only file in a directory that would let it rename over the file, and
// one that never commits.
TEST(output_file, failure_keeps_the_target_and_leaves_no_temporary) {
    const struct {
        const char* what;
        mode_t mode;
        bool commit;
        const char* message;
    } cases[] = {{"write_beyond_size_limit", 0644, true, "write error"},
                 {"read_only_target", 0444, true, "open error"},
                 {"never_committed", 0644, false, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        const std::string target = dir.file("t");
        write_file(target, old_content);
        ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
        ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
        auto attempt = [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (c.mode == 0444 && ::getuid() == 0 && (::setgid(65534) || ::setuid(65534))) {
                return 2;
            }
            output_file file;
            if (open_output_file(&file, target.c_str()) != 0) {
                return 0;
            }
            std::fputs(std::string(2000, 'x').c_str(), file.stream);
            return !c.commit || commit_output_file(&file) == -1 ? 0 : 1;
        };
        const std::string out = capture_stdout([&] { EXPECT_EQ(in_child(attempt), 0); });
        EXPECT_EQ(out, *c.message ? std::string(c.message) + " '" + target + "'\n" : "");
        EXPECT_EQ(read_file(target), old_content);
        EXPECT_EQ(dir.names(), std::set<std::string>{"t"});
    }
}

TEST(output_file, unopenable_targets_report_the_target_path) {
    scratch_dir dir;
    const std::string missing = dir.file("no/such/t");
    for (const std::string& path : {missing, std::string()}) {
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(write_new(path), -1); }),
                  "open error '" + path + "'\n");
    }
    EXPECT_TRUE(dir.names().empty());
}

// Prints the mode, the size and the first two palette entries, then writes
// every pixel index, as Pillow reads the file.
constexpr const char* pillow_dump =
    " -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
    "print(im.mode, *im.size, im.getpalette()[:6], flush=True); "
    "sys.stdout.buffer.write(im.tobytes())' ";

TEST(write_bitmap_file, new_sheet_is_written_without_a_question_and_reads_back_in_pillow) {
    const struct {
        std::uint32_t width;
        std::int32_t height;
        int bits;
        std::size_t file_size;
    } sheets[] = {{512, 1024, 4, 0x40076}, {512, 1024, 1, 0x1003E}, {256, 512, 4, 0x10076}};
    for (const auto& s : sheets) {
        scratch_dir dir;
        const std::string path = dir.file("sheet.bmp");
        // Index (x + 3y) mod colours: no symmetry, so that flips and swapped
        // nibbles show.
        std::string pixels(s.width * static_cast<std::size_t>(s.height), '\0');
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<char>((i % s.width + 3 * (i / s.width)) % (1u << s.bits));
        }
        std::array<std::uint8_t, 64> palette; // entry n: 4n + 1, 4n + 2, 4n + 3 as blue, green, red
        std::iota(palette.begin(), palette.end(), std::uint8_t{1});
        int result = -1;
        EXPECT_EQ(capture_stdout([&] {
                      result =
                          write_bitmap_file(path.c_str(), s.width, s.height, s.bits, palette.data(),
                                            reinterpret_cast<const std::uint8_t*>(pixels.data()));
                  }),
                  "");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(read_file(path).size(), s.file_size);
        ASSERT_EQ(std::system(
                      (KZ_PYTHON + std::string(pillow_dump) + "'" + path + "' > '" + path + ".txt'")
                          .c_str()),
                  0);
        const bytes seen = read_file(path + ".txt");
        EXPECT_TRUE(std::string(seen.begin(), seen.end()) == "P " + std::to_string(s.width) + " " +
                                                                 std::to_string(s.height) +
                                                                 " [3, 2, 1, 7, 6, 5]\n" + pixels);
    }
}

TEST(write_bitmap_file, existing_target_is_replaced_only_after_yes) {
    scratch_dir dir;
    const std::string file = dir.file("sheet.bmp");
    const struct {
        std::string path;
        const char* answer;
        int result;
        std::string last_line;
    } cases[] = {{file, "nope\n", -1, prompt},
                 {file, "?Y", 0, prompt},
                 {dir.path, "y", -1, "open error '" + dir.path + "'\n"},
                 {"/dev/full", "y", -1, "write error '/dev/full'\n"}};
    const std::vector<std::uint8_t> pixels(256 * 512, 5);
    for (const auto& c : cases) {
        if (c.path == "/dev/full" && !dev_full_is_device()) {
            continue;
        }
        write_file(file, old_content);
        std::ofstream(dir.file("answer")) << c.answer;
        ASSERT_NE(std::freopen(dir.file("answer").c_str(), "r", stdin), nullptr);
        int result = 1;
        const std::string out = capture_stdout([&] {
            result = write_bitmap_file(c.path.c_str(), 256, 512, 4, nullptr, pixels.data());
        });
        EXPECT_EQ(result, c.result) << c.path << " " << c.answer;
        EXPECT_TRUE(out.starts_with("already exists '" + c.path + "'\n" + prompt) &&
                    out.ends_with(c.last_line))
            << out;
        EXPECT_EQ(read_file(file).size(), c.path == file && c.result == 0 ? 0x10076u : 3u);
        EXPECT_EQ(dir.names(), (std::set<std::string>{"answer", "sheet.bmp"}));
    }
}

} // namespace
} // namespace kz::test

// The overwrite question and the bitmap output file.
#include "console/console.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

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
                 {"\n\n  N\n", 0, "\n"}, {"", 0, ""},        {"abc", 0, ""},
                 {"y\r\n", 1, "\r\n"},   {"x\r\n\r\nn\r\n", 0, "\r\n"}};
    for (const auto& c : cases) {
        std::FILE* input = temporary_stream();
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
    std::FILE* unreadable = std::fopen(null_device, "w"); // a read error counts as no
    ASSERT_NE(unreadable, nullptr);
    capture_stdout([&] { EXPECT_EQ(ask_yes_no_from(unreadable, "overwrite ?"), 0); });
    std::fclose(unreadable);
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
        if (!host_tools_available()) {
            continue;
        }
        ASSERT_EQ(run_host_command(
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
#ifdef _WIN32
        if (c.path == "/dev/full") { // no device on Windows fails every write
            continue;
        }
#else
        if (c.path == "/dev/full" && !dev_full_is_device()) {
            continue;
        }
#endif
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
    // Windows deletes no open file: standard input lets go of the answer.
    EXPECT_NE(std::freopen(null_device, "r", stdin), nullptr);
}

} // namespace
} // namespace kz::test

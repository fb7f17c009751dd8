// The overwrite question and the bitmap output file.
#include "console/console.h"
#include "console_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kz::test {
namespace {

constexpr const char* prompt = "overwrite ? (Y or N): ";

std::string rest_of(std::FILE* stream) {
    std::string rest;
    for (int c; (c = std::fgetc(stream)) != EOF;) {
        rest += static_cast<char>(c);
    }
    return rest;
}

TEST(ask_yes_no, first_deciding_character_answers_and_the_rest_stays_unread) {
    const struct {
        const char* input;
        int answer;
        const char* rest;
    } cases[] = {
        {"abc\ny\n", 1, "\n"}, {"nope", 0, "ope"}, {"Yes", 1, "es"}, {"\n\n  N\n", 0, "\n"},
        {"y", 1, ""},          {"", 0, ""},        {"abc", 0, ""},   {"q1Y2", 1, "2"},
    };
    for (const auto& c : cases) {
        std::FILE* input = std::tmpfile();
        ASSERT_NE(input, nullptr);
        std::fputs(c.input, input);
        std::rewind(input);
        int answer = -1;
        const std::string out =
            capture_stdout([&] { answer = ask_yes_no_from(input, "overwrite ?"); });
        EXPECT_EQ(answer, c.answer) << c.input;
        EXPECT_EQ(out, prompt);
        EXPECT_EQ(rest_of(input), c.rest) << c.input;
        std::fclose(input);
    }
}

TEST(ask_yes_no, read_error_counts_as_no) {
    scratch_dir dir;
    std::FILE* write_only = std::fopen(dir.file("w").c_str(), "wb");
    ASSERT_NE(write_only, nullptr);
    int answer = -1;
    capture_stdout([&] { answer = ask_yes_no_from(write_only, "overwrite ?"); });
    EXPECT_EQ(answer, 0);
    std::fclose(write_only);
}

// Gives stdin the answer text for the question write_bitmap_file asks.
void answer_with(const scratch_dir& dir, const char* text) {
    const std::string path = dir.file("answer.txt");
    write_file(path, bytes(text, text + std::strlen(text)));
    ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);
}

struct sheet {
    std::uint32_t width;
    std::int32_t height;
    int bit_count;
    std::size_t file_size;
};

// An asymmetric picture: index (x + 3y) mod colours, so flips and swapped
// nibbles show in the pixels Pillow reads back.
std::vector<std::uint8_t> sheet_pixels(const sheet& s) {
    const int colours = 1 << s.bit_count;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(s.width) * s.height);
    for (std::int32_t y = 0; y < s.height; ++y) {
        for (std::uint32_t x = 0; x < s.width; ++x) {
            pixels[y * s.width + x] = static_cast<std::uint8_t>((x + 3 * y) % colours);
        }
    }
    return pixels;
}

std::array<std::uint8_t, 64> grey_palette() {
    std::array<std::uint8_t, 64> palette{};
    for (int i = 0; i < 16; ++i) {
        palette[i * 4] = palette[i * 4 + 1] = palette[i * 4 + 2] =
            static_cast<std::uint8_t>(i * 17);
    }
    return palette;
}

std::string pillow_describe(const std::string& path) {
    const std::string command =
        std::string(KZ_PYTHON) +
        " -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "w, h = im.size; print(im.mode, w, h, im.getpixel((0, 0)), im.getpixel((1, 0)), "
        "im.getpixel((0, 1)), im.getpixel((w - 1, h - 1)))\" '" +
        path + "'";
    std::string result;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe)) {
            result += line;
        }
        ::pclose(pipe);
    }
    return result;
}

TEST(write_bitmap_file, new_file_is_written_without_a_question) {
    const sheet sheets[] = {
        {512, 1024, 4, 0x40076},
        {512, 1024, 1, 0x1003E},
        {256, 512, 4, 0x10076},
    };
    for (const auto& s : sheets) {
        scratch_dir dir;
        const std::string path = dir.file("sheet.bmp");
        const auto pixels = sheet_pixels(s);
        const auto palette = grey_palette();
        int result = -1;
        const std::string out = capture_stdout([&] {
            result = write_bitmap_file(path.c_str(), s.width, s.height, s.bit_count, palette.data(),
                                       pixels.data());
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(out, "");
        EXPECT_EQ(read_file(path).size(), s.file_size);
        const int colours = 1 << s.bit_count;
        const int last = static_cast<int>((s.width - 1 + 3 * (s.height - 1)) % colours);
        EXPECT_EQ(pillow_describe(path),
                  std::string("P ") + std::to_string(s.width) + " " + std::to_string(s.height) +
                      " 0 1 " + std::to_string(3 % colours) + " " + std::to_string(last) + "\n");
    }
}

TEST(write_bitmap_file, existing_file_is_replaced_only_after_yes) {
    const struct {
        const char* answer;
        int result;
    } cases[] = {{"n\n", -1}, {"x\nN", -1}, {"", -1}, {"y\n", 0}, {"?Y", 0}};
    for (const auto& c : cases) {
        scratch_dir dir;
        const std::string path = dir.file("sheet.bmp");
        const bytes old_content = {'o', 'l', 'd'};
        write_file(path, old_content);
        answer_with(dir, c.answer);
        const sheet s{512, 1024, 4, 0x40076};
        const auto pixels = sheet_pixels(s);
        int result = 0;
        const std::string out = capture_stdout([&] {
            result = write_bitmap_file(path.c_str(), s.width, s.height, s.bit_count, nullptr,
                                       pixels.data());
        });
        EXPECT_EQ(result, c.result) << c.answer;
        EXPECT_EQ(out, "already exists '" + path + "'\n" + prompt);
        EXPECT_EQ(read_file(path).size(), c.result == 0 ? s.file_size : old_content.size());
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"answer.txt", "sheet.bmp"}));
    }
}

TEST(write_bitmap_file, unwritable_targets_fail_after_the_question) {
    scratch_dir dir;
    const sheet s{256, 512, 4, 0x10076};
    const auto pixels = sheet_pixels(s);
    const auto palette = grey_palette();
    const struct {
        std::string path;
        std::string last_line;
    } cases[] = {
        {dir.path, "open error '" + dir.path + "'\n"},
        {"/dev/full", "write error '/dev/full'\n"},
    };
    for (const auto& c : cases) {
        answer_with(dir, "y");
        int result = 0;
        const std::string out = capture_stdout([&] {
            result = write_bitmap_file(c.path.c_str(), s.width, s.height, s.bit_count,
                                       palette.data(), pixels.data());
        });
        EXPECT_EQ(result, -1) << c.path;
        const std::string asked = "already exists '" + c.path + "'\n" + prompt;
        EXPECT_EQ(out.substr(0, asked.size()), asked);
        ASSERT_GE(out.size(), c.last_line.size());
        EXPECT_EQ(out.substr(out.size() - c.last_line.size()), c.last_line);
    }
}

} // namespace
} // namespace kz::test

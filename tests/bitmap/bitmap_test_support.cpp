#include "bitmap_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

namespace kz::test {

scratch_dir::scratch_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kz_bitmap_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a scratch directory";
    }
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int run(const std::string& command, std::string* output) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::string text;
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        text.append(chunk.data(), n);
    }
    const int status = pclose(pipe);
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const bytes& content) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

file_ptr stream_of(const bytes& content) {
    file_ptr stream(std::tmpfile());
    if (stream && !content.empty()) {
        std::fwrite(content.data(), 1, content.size(), stream.get());
    }
    if (stream) {
        std::rewind(stream.get());
    }
    return stream;
}

bytes written_by(const std::function<void(std::FILE*)>& write) {
    file_ptr stream(std::tmpfile());
    if (!stream) {
        ADD_FAILURE() << "no temporary stream";
        return {};
    }
    write(stream.get());
    std::fflush(stream.get());
    std::rewind(stream.get());
    bytes content;
    int c = 0;
    while ((c = std::fgetc(stream.get())) != EOF) {
        content.push_back(static_cast<std::uint8_t>(c));
    }
    return content;
}

std::string printed_by(const std::function<void()>& action) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

rgb test_colour(int i) {
    const auto widen = [](int v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
    // i = 32 b + a: a alone decides red, and for the same a, b decides green.
    const int a = i % 32;
    const int b = i / 32 % 8;
    return {widen((a * 7 + 3) % 32), widen((a * 13 + b * 5 + 1) % 32),
            widen((b * 9 + a * 3 + 17) % 32)};
}

int picture_index(int x, int y, int n) {
    return (7 * x + 3 * y * y + x * y + y) % n;
}

bytes test_palette(int entries) {
    bytes palette(static_cast<std::size_t>(entries) * palette_entry_size);
    for (int i = 0; i < entries; ++i) {
        const rgb c = test_colour(i);
        std::uint8_t* entry = palette.data() + static_cast<std::size_t>(i) * palette_entry_size;
        entry[0] = c.blue;
        entry[1] = c.green;
        entry[2] = c.red;
        entry[3] = static_cast<std::uint8_t>(0x80 | i);
    }
    return palette;
}

rgb palette_colour(const std::uint8_t* palette, int index) {
    const std::uint8_t* entry = palette + static_cast<std::size_t>(index) * palette_entry_size;
    return {entry[2], entry[1], entry[0]};
}

namespace {

// make MODE W H RAW.rgba OUT.bmp: builds a picture from RGBA bytes and saves
//   it as BMP; mode 1 and P get their palettes from Pillow, P with the
//   distinct colours (optionally only the first N entries) in reverse order.
// dump FILE.bmp: prints "W H MODE", then the palette (P only) and the
//   pixels as RGB, in hex.
constexpr const char* pillow_script = R"(import sys
from PIL import Image
if sys.argv[1] == 'make':
    mode, w, h, raw, out = sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6]
    im = Image.frombytes('RGBA', (w, h), open(raw, 'rb').read())
    if mode == '1':
        im = im.convert('L').point(lambda v: 255 if v >= 128 else 0).convert('1', dither=Image.Dither.NONE)
    elif mode.startswith('P'):
        entries = int(mode[1:])
        pixels = list(im.convert('RGB').getdata())
        colours = sorted(set(pixels), reverse=True)
        palette = colours + [(1, 2, i % 256) for i in range(entries - len(colours))]
        p = Image.new('P', (w, h))
        p.putpalette([v for c in palette for v in c])
        p.putdata([colours.index(c) for c in pixels])
        im = p
    elif mode == 'RGB':
        im = im.convert('RGB')
    im.save(out)
else:
    im = Image.open(sys.argv[2])
    print(im.size[0], im.size[1], im.mode)
    if im.mode == 'P':
        print(bytes(im.getpalette()).hex())
    print(im.convert('RGB').tobytes().hex())
)";

} // namespace

std::string pillow_helper(const scratch_dir& dir) {
    const std::string script = dir.file("pillow_helper.py");
    std::ofstream(script) << pillow_script;
    return script;
}

int run_pillow(const scratch_dir& dir, const std::string& arguments, std::string* output) {
    const std::string script = pillow_helper(dir);
    return run(std::string(KZ_PYTHON) + " " + quoted(script) + " " + arguments + " 2>&1", output);
}

} // namespace kz::test

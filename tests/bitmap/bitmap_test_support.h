// Shared pieces of the bitmap tests: scratch directories, running the
// independent tools that make and check fixtures, streams over byte vectors,
// and asymmetric test pictures.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"

namespace kz::test {

using bytes = std::vector<std::uint8_t>;

struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class scratch_dir {
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Runs a shell command; returns its exit status and its standard output.
int run(const std::string& command, std::string* output = nullptr);
std::string quoted(const std::string& text);

bytes read_file(const std::string& path);
void write_file(const std::string& path, const bytes& content);

// A read stream positioned at the start of the bytes.
file_ptr stream_of(const bytes& content);
// What a function writes into a fresh stream.
bytes written_by(const std::function<void(std::FILE*)>& write);
// What a function prints on standard output.
std::string printed_by(const std::function<void()>& action);

struct rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const rgb&) const = default;
};

// Colour number i of the test colours: all distinct, no two sharing a
// component pattern, and each component a value that survives the 5-bit
// narrowing of 16-bit pixels and the widening back.
rgb test_colour(int i);
// A colour index for pixel (x, y) of a picture of n colours; no symmetry, so
// a flipped row order or reversed row shows.
int picture_index(int x, int y, int n);

// A palette of the given entries (4 bytes each) holding the test colours in
// order, the fourth byte of entry i set to 0x80 | i so that it can be traced.
bytes test_palette(int entries);
rgb palette_colour(const std::uint8_t* palette, int index);

// Puts the Pillow helper script into the directory; returns its path.
std::string pillow_helper(const scratch_dir& dir);
// Runs the Pillow helper script with the arguments.
int run_pillow(const scratch_dir& dir, const std::string& arguments, std::string* output);

} // namespace kz::test

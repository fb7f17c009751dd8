// PNG reading, of any size and kind: header, pixels (and, when asked, which
// are fully transparent), then the nearest-colour conversion that the
// changers make. Whatever the file, a read either fails with -1 (or -2) or
// gives a whole picture whose indices lie in its palette, and a count of
// transparent pixels that the map holds exactly; a picture that was read,
// written again as a 4-bit PNG (its transparent pixels with it) and read
// back keeps its indices and its transparent pixels.
#include "bitmap/png.h"
#include "fuzz/fuzz_input.h"

#include <array>
#include <cstring>

using namespace kz;
using namespace kz::fuzz;

namespace {

// Sixteen colours, all different, so that indices survive a round trip.
constexpr std::array<std::uint8_t, 64> colours = {
    0,   0,   0,   0, 255, 0,   0,   0, 0,   0,   255, 0, 255, 0,   255, 0,
    0,   255, 0,   0, 255, 255, 0,   0, 0,   255, 255, 0, 255, 255, 255, 0,
    64,  64,  64,  0, 192, 64,  64,  0, 64,  64,  192, 0, 192, 64,  192, 0,
    64,  192, 64,  0, 192, 192, 64,  0, 64,  192, 192, 0, 128, 128, 128, 0,
};

// Bounds the work of one input, not the reader: it takes pictures whose
// buffer fits an int.
constexpr std::uint64_t max_fuzz_pixels = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_cursor input{std::span(data, size)};
    const std::uint8_t mode = input.take_byte();
    std::vector<std::uint8_t> copy;
    stream in = open_memory_stream(input.bytes, &copy);
    if (!in) {
        return 0;
    }
    png_reader reader;
    int result = read_png_header(in.get(), &reader);
    if (result != 0) {
        require(result == -1 || result == -2, "read_png_header fails with -1 or -2");
        return 0;
    }
    require(reader.bit_count == 8 || reader.bit_count == 24, "pixels are indices or colours");
    const std::uint64_t pixel_count = std::uint64_t{reader.width} * reader.height;
    if (pixel_count > max_fuzz_pixels) {
        return 0;
    }

    // Mode bit 1: a caller's buffer offered for the pixels, large enough for
    // indices only. Mode bit 4: the transparent pixels asked for.
    const auto count = static_cast<std::size_t>(pixel_count);
    std::vector<std::uint8_t> own(count);
    buffer_slot palette;
    buffer_slot pixels = (mode & 1) != 0 ? offered_slot(own.data(), own.size()) : buffer_slot{};
    buffer_slot clear;
    transparent_pixels transparent{&clear};
    const bool ask = (mode & 4) != 0;
    result = read_png_pixels(&reader, &palette, &pixels, ask ? &transparent : nullptr);
    if (result != 0) {
        require(result == -1 || result == -2, "read_png_pixels fails with -1 or -2");
        return 0;
    }
    const std::size_t bytes = count * (reader.bit_count / 8);
    require(pixels.data != nullptr && pixels.size >= bytes, "the pixel buffer holds the picture");
    require((reader.bit_count == 8) == (palette.data != nullptr), "indices come with a palette");
    require((transparent.count == 0) == (clear.data == nullptr),
            "the map is filled when, and only when, a pixel is transparent");
    if (transparent.count != 0) {
        std::size_t marked = 0;
        for (std::size_t i = 0; i < count; ++i) {
            require(clear.data[i] <= 1, "the map holds 0 or 1 a pixel");
            marked += clear.data[i];
        }
        require(marked == transparent.count, "the count is the map's");
    }

    buffer_slot converted;
    const int width = static_cast<int>(reader.width);
    const int height = static_cast<int>(reader.height);
    result = convert_bitmap(width, height, reader.bit_count, palette.data,
                            std::span<const std::uint8_t>(pixels.data, bytes), 4, colours.data(),
                            &converted);
    require(result == 0, "a picture that was read converts");
    for (std::size_t i = 0; i < count; ++i) {
        require(converted.data[i] < 16, "converted indices lie in the palette");
    }

    // Mode bit 2: write the converted picture as PNG and read it back.
    if ((mode & 2) == 0) {
        return 0;
    }
    const std::uint8_t* written_clear = transparent.count != 0 ? clear.data : nullptr;
    written_bytes out;
    require(write_png(out.get(), reader.width, reader.height, 4, colours.data(), converted.data,
                      written_clear) == 0,
            "a picture writes as PNG");
    const std::vector<std::uint8_t> file = out.take();
    std::vector<std::uint8_t> file_copy;
    stream again = open_memory_stream(file, &file_copy);
    png_reader back;
    buffer_slot back_palette;
    buffer_slot back_pixels;
    buffer_slot back_clear;
    transparent_pixels back_transparent{&back_clear};
    require(again && read_png_header(again.get(), &back) == 0 &&
                read_png_pixels(&back, &back_palette, &back_pixels, &back_transparent) == 0,
            "a written PNG reads back");
    require(back.width == reader.width && back.height == reader.height && back.bit_count == 8,
            "the size and kind come back");
    require(back_transparent.count == transparent.count &&
                (written_clear == nullptr || std::memcmp(back_clear.data, written_clear, count) == 0),
            "the transparent pixels come back");
    for (std::size_t i = 0; i < count; ++i) {
        require((written_clear != nullptr && written_clear[i] != 0) ||
                    back_pixels.data[i] == converted.data[i],
                "the opaque pixels' indices come back");
    }
    require(std::memcmp(back_palette.data, colours.data(), colours.size()) == 0,
            "the palette comes back");
    return 0;
}

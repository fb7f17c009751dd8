// Bitmap reading from a memory stream: header check, palette and rows, with
// every kind of palette and pixel slot. A bitmap that reads must come back
// the same after writing it out and reading it again.
#include "bitmap/bitmap.h"
#include "fuzz/fuzz_input.h"

#include <cstring>

using namespace kz;
using namespace kz::fuzz;

namespace {

std::size_t pixel_bytes(const bitmap_header& header) {
    return static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height) *
           ((header.bit_count + 7u) / 8u);
}

void check_round_trip(const bitmap_header& header, const std::uint8_t* palette,
                      std::span<const std::uint8_t> pixels) {
    bitmap_header written;
    require(make_bitmap_header(&written, header.width, header.height, header.bit_count) == 0,
            "header of a bitmap that was read can be made");
    written_bytes out;
    require(out.get() != nullptr, "memory stream");
    require(write_bitmap(out.get(), &written, palette, pixels.data()) == 0,
            "a bitmap that was read can be written");
    const std::vector<std::uint8_t> text = out.take();
    std::vector<std::uint8_t> copy;
    stream in = open_memory_stream(text, &copy);
    bitmap_header again;
    buffer_slot again_palette;
    buffer_slot again_pixels;
    require(read_bitmap(in.get(), &again, &again_palette, &again_pixels, 0) == 0,
            "a written bitmap reads back");
    require(again_pixels.size == pixels.size() &&
                std::memcmp(again_pixels.data, pixels.data(), pixels.size()) == 0,
            "pixels survive writing and reading");
    if (header.bit_count <= 8) {
        require(std::memcmp(again_palette.data, palette, palette_entry_size << header.bit_count) ==
                    0,
                "palette survives writing and reading");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_cursor input{std::span(data, size)};
    const std::uint8_t mode = input.take_byte();
    const std::uint16_t own_buffer_size = input.take_u16();

    std::vector<std::uint8_t> copy;
    stream in = open_memory_stream(input.bytes, &copy);
    if (!in) {
        return 0;
    }

    bitmap_header header;
    int header_read = 0;
    if (mode & 0x01) {
        // The caller reads and checks the header itself and says so.
        if (read_bitmap_header(in.get(), &header) < 0) {
            return 0;
        }
        header_read = 1;
    }

    std::vector<std::uint8_t> own_palette(max_palette_entries * palette_entry_size);
    std::vector<std::uint8_t> own_pixels(own_buffer_size);
    buffer_slot palette_slot;
    buffer_slot pixel_slot;
    buffer_slot* palette = &palette_slot;
    switch ((mode >> 1) & 0x03) {
    case 0: palette = nullptr; break;
    case 1: palette_slot = borrowed_slot(own_palette.data(), own_palette.size()); break;
    case 2: palette_slot = borrowed_slot(own_palette.data(), own_buffer_size % 1025); break;
    default: break;
    }
    if (mode & 0x08) {
        pixel_slot = borrowed_slot(own_pixels.data(), own_pixels.size());
    }
    buffer_slot* pixels = (mode & 0x10) ? nullptr : &pixel_slot;

    const int result = read_bitmap(in.get(), &header, palette, pixels, header_read);
    if (result != 0) {
        require(result == -1 || result == -2 || (result == -3 && pixels == nullptr),
                "read_bitmap results are 0, -1, -2 or -3");
        return 0;
    }
    const std::size_t count = pixel_bytes(header);
    require(pixel_slot.data != nullptr && pixel_slot.size >= count,
            "a bitmap that reads has its pixels in the slot");
    const std::span<const std::uint8_t> read(pixel_slot.data, count);
    if (header.bit_count <= 4) {
        const unsigned top = (1u << header.bit_count) - 1;
        for (const std::uint8_t value : read) {
            require(value <= top, "palette indices fit the bit count");
        }
    }
    const bool have_palette = palette != nullptr && header.bit_count <= 8;
    if (count <= (1u << 22)) {
        // Without its palette the bitmap is written with an all-black one.
        const std::vector<std::uint8_t> black(max_palette_entries * palette_entry_size);
        check_round_trip(header, have_palette ? palette_slot.data : black.data(), read);
    }
    return 0;
}

// Writing a picture as a PNG file, chunk by chunk.
//
// A PNG file is an 8-byte signature and then chunks, each a 4-byte
// big-endian length, a 4-byte type, the data and a CRC-32 of type and data:
// IHDR (width, height, bit depth, colour type, compression, filter and
// interlace methods), PLTE (red, green, blue of each palette entry), tRNS
// (for an indexed picture the alpha of each entry, in palette order; the
// entries it does not reach are opaque), IDAT (the zlib stream of the rows,
// each row a filter-type byte and its pixels packed leftmost in the high
// bits, as in a bitmap) and IEND. The rows are compressed in one call over
// the whole picture by libdeflate, which for pictures of this size is
// several times faster than zlib's stream.
#include "bitmap/png.h"
#include "bitmap/row_packing.h"

#include "terminal/terminal.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace kz {
namespace {

constexpr std::array<std::uint8_t, 8> png_signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t colour_type_grey = 0;
constexpr std::uint8_t colour_type_indexed = 3;
constexpr std::uint8_t filter_none = 0;
constexpr std::size_t chunk_overhead = 12; // length, type, CRC
constexpr std::size_t ihdr_bytes = 13;
// The pixel data goes out in IDAT chunks of at most this many bytes; a
// chunk's length may not reach 2^31.
constexpr std::size_t max_idat_bytes = std::size_t{1} << 30;

// The sheets are a few hundred kilobytes at most: the fastest level is worth
// more than the last tenth of the file, which the stronger levels buy with
// half as long again and more.
constexpr int png_compression_level = 1;

struct compressor_free {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

void put_be32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

// How the picture is stored: the PNG's bit depth and colour type, how many
// palette entries it has (none for grey), and the index that stands for a
// fully transparent pixel (-1: none).
struct png_form {
    int depth = 0;
    std::uint8_t colour_type = colour_type_indexed;
    int entries = 0;
    int transparent_index = -1;
};

bool is_black_and_white(const std::uint8_t* palette) {
    return palette == nullptr || (palette[0] == 0 && palette[1] == 0 && palette[2] == 0 &&
                                  palette[4] == 255 && palette[5] == 255 && palette[6] == 255);
}

// What a bitmap of that bit count stores for the pixel byte: at 1 bit any
// non-zero byte is 1, at 4 bits the low nibble counts. The PNG gets what the
// bitmap would.
std::uint8_t stored_index(std::uint8_t pixel, int bit_count) {
    if (bit_count == 1) {
        return pixel != 0 ? 1 : 0;
    }
    return bit_count == 4 ? pixel & 0x0F : pixel;
}

// The form of a picture: its own depth and palette while no pixel is
// transparent; else one more palette entry, transparent, after the
// picture's own (at the smallest depth that holds them all), or at 8 bits,
// where the palette is full, the first entry that no opaque pixel uses.
// -1 when every entry is in use.
int choose_form(int bit_count, const std::uint8_t* palette, const std::uint8_t* pixels,
                const std::uint8_t* transparent, std::size_t count, png_form* form) {
    const bool any_transparent =
        transparent != nullptr &&
        std::any_of(transparent, transparent + count, [](std::uint8_t t) { return t != 0; });
    form->depth = bit_count;
    form->entries = 1 << bit_count;
    if (!any_transparent) {
        if (bit_count == 1 && is_black_and_white(palette)) {
            form->colour_type = colour_type_grey;
            form->entries = 0;
        }
        return 0;
    }
    if (bit_count < 8) {
        form->transparent_index = form->entries;
        form->entries += 1;
        while ((1 << form->depth) < form->entries) {
            form->depth *= 2;
        }
        return 0;
    }
    std::array<bool, max_palette_entries> used{};
    for (std::size_t i = 0; i < count; ++i) {
        used[pixels[i]] = used[pixels[i]] || transparent[i] == 0;
    }
    const auto free_entry = std::find(used.begin(), used.end(), false);
    if (free_entry == used.end()) {
        print_message("error: write_png() - no palette entry left for transparency\n");
        return -1;
    }
    form->transparent_index = static_cast<int>(free_entry - used.begin());
    return 0;
}

// Colour of palette entry i as red, green, blue: the caller's palette, or
// without one black (and white for entry 1 of a 1-bit picture, as a grey
// PNG would show it). The transparent entry is black.
std::array<std::uint8_t, 3> entry_colour(const std::uint8_t* palette, int bit_count,
                                         const png_form& form, int i) {
    if (i == form.transparent_index) {
        return {0, 0, 0};
    }
    if (palette == nullptr) {
        const std::uint8_t level = bit_count == 1 && i == 1 ? 255 : 0;
        return {level, level, level};
    }
    const std::uint8_t* entry = palette + static_cast<std::size_t>(i) * palette_entry_size;
    return {entry[2], entry[1], entry[0]};
}

void append_chunk(std::vector<std::uint8_t>* file, const char* type, const std::uint8_t* data,
                  std::size_t size) {
    const std::size_t at = file->size();
    file->resize(at + chunk_overhead + size);
    std::uint8_t* chunk = file->data() + at;
    put_be32(chunk, static_cast<std::uint32_t>(size));
    std::memcpy(chunk + 4, type, 4);
    if (size > 0) {
        std::memcpy(chunk + 8, data, size);
    }
    put_be32(chunk + 8 + size, libdeflate_crc32(0, chunk + 4, 4 + size));
}

// The signature and the chunks before the pixel data.
std::vector<std::uint8_t> file_head(std::uint32_t width, std::uint32_t height, int bit_count,
                                    const std::uint8_t* palette, const png_form& form) {
    std::vector<std::uint8_t> head(png_signature.begin(), png_signature.end());
    std::array<std::uint8_t, ihdr_bytes> ihdr{};
    put_be32(ihdr.data(), width);
    put_be32(ihdr.data() + 4, height);
    ihdr[8] = static_cast<std::uint8_t>(form.depth);
    ihdr[9] = form.colour_type; // then compression, filter and interlace methods, all 0
    append_chunk(&head, "IHDR", ihdr.data(), ihdr.size());
    if (form.entries == 0) {
        return head;
    }
    std::vector<std::uint8_t> plte;
    for (int i = 0; i < form.entries; ++i) {
        const auto colour = entry_colour(palette, bit_count, form, i);
        plte.insert(plte.end(), colour.begin(), colour.end());
    }
    append_chunk(&head, "PLTE", plte.data(), plte.size());
    if (form.transparent_index >= 0) {
        std::vector<std::uint8_t> alpha(static_cast<std::size_t>(form.transparent_index) + 1, 255);
        alpha.back() = 0;
        append_chunk(&head, "tRNS", alpha.data(), alpha.size());
    }
    return head;
}

// Packs one row's values, each taken from value(x), at depth bits a pixel.
template <int depth, typename Value>
void pack_row(std::size_t width, std::uint8_t* row, Value value) {
    constexpr std::size_t per_byte = 8 / depth;
    std::size_t x = 0;
    for (; x + per_byte <= width; x += per_byte) {
        unsigned byte = 0;
        for (std::size_t k = 0; k < per_byte; ++k) {
            byte = byte << depth | value(x + k);
        }
        *row++ = static_cast<std::uint8_t>(byte);
    }
    if (x < width) {
        unsigned byte = 0;
        for (std::size_t k = 0; k < per_byte; ++k) {
            byte = byte << depth | (x + k < width ? value(x + k) : 0u);
        }
        *row = static_cast<std::uint8_t>(byte);
    }
}

template <int depth>
void pack_rows(const std::uint8_t* pixels, const std::uint8_t* transparent, std::size_t width,
               std::uint32_t height, int bit_count, const png_form& form, std::size_t row_bytes,
               std::uint8_t* rows) {
    const auto index = static_cast<unsigned>(form.transparent_index);
    for (std::uint32_t y = 0; y < height; ++y, rows += 1 + row_bytes) {
        const std::uint8_t* line = pixels + static_cast<std::size_t>(y) * width;
        rows[0] = filter_none;
        if (form.transparent_index < 0) {
            // The picture's own depth, packed as the bitmap writer packs it.
            if constexpr (depth == 1) {
                pack_1bit(line, width, rows + 1);
            } else if constexpr (depth == 4) {
                pack_4bit(line, width, rows + 1);
            } else if constexpr (depth == 8) {
                std::memcpy(rows + 1, line, width);
            }
            continue;
        }
        const std::uint8_t* clear = transparent + static_cast<std::size_t>(y) * width;
        pack_row<depth>(width, rows + 1, [=](std::size_t x) {
            return clear[x] != 0 ? index : unsigned{stored_index(line[x], bit_count)};
        });
    }
}

// The rows as the file holds them before compression.
void pack_picture(const std::uint8_t* pixels, const std::uint8_t* transparent, std::size_t width,
                  std::uint32_t height, int bit_count, const png_form& form, std::size_t row_bytes,
                  std::uint8_t* rows) {
    switch (form.depth) {
    case 1:
        pack_rows<1>(pixels, transparent, width, height, bit_count, form, row_bytes, rows);
        break;
    case 2:
        pack_rows<2>(pixels, transparent, width, height, bit_count, form, row_bytes, rows);
        break;
    case 4:
        pack_rows<4>(pixels, transparent, width, height, bit_count, form, row_bytes, rows);
        break;
    default:
        pack_rows<8>(pixels, transparent, width, height, bit_count, form, row_bytes, rows);
        break;
    }
}

int memory_exhausted() {
    print_message("error: memory exhaust!\n");
    return bitmap_memory_exhausted;
}

bool put(std::FILE* stream, const std::uint8_t* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, stream) == size;
}

// The compressed rows in IDAT chunks, then IEND.
bool put_pixel_data(std::FILE* stream, const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at < size; at += max_idat_bytes) {
        const std::size_t part = std::min(size - at, max_idat_bytes);
        std::array<std::uint8_t, 8> start{};
        put_be32(start.data(), static_cast<std::uint32_t>(part));
        std::memcpy(start.data() + 4, "IDAT", 4);
        std::array<std::uint8_t, 4> crc{};
        put_be32(crc.data(), libdeflate_crc32(libdeflate_crc32(0, "IDAT", 4), data + at, part));
        if (!put(stream, start.data(), start.size()) || !put(stream, data + at, part) ||
            !put(stream, crc.data(), crc.size())) {
            return false;
        }
    }
    std::vector<std::uint8_t> end;
    append_chunk(&end, "IEND", nullptr, 0);
    return put(stream, end.data(), end.size());
}

} // namespace

int write_png(std::FILE* stream, std::uint32_t width, std::uint32_t height, int bit_count,
              const std::uint8_t* palette, const std::uint8_t* pixels,
              const std::uint8_t* transparent) {
    // A PNG's width and height are below 2^31.
    constexpr std::uint32_t max_side = std::numeric_limits<std::int32_t>::max();
    if ((bit_count != 1 && bit_count != 4 && bit_count != 8) || pixels == nullptr || width == 0 ||
        height == 0 || width > max_side || height > max_side) {
        return -1;
    }
    const std::uint64_t count = std::uint64_t{width} * height;
    png_form form;
    if (count > std::numeric_limits<std::size_t>::max() / 2 ||
        choose_form(bit_count, palette, pixels, transparent, static_cast<std::size_t>(count),
                    &form) < 0) {
        return -1;
    }
    const std::uint64_t row_bytes =
        (std::uint64_t{width} * static_cast<unsigned>(form.depth) + 7) / 8;
    const std::uint64_t raw_bytes = (1 + row_bytes) * height;
    if (raw_bytes > std::numeric_limits<std::size_t>::max() / 2) {
        return memory_exhausted();
    }

    std::vector<std::uint8_t> head;
    std::vector<std::uint8_t> rows;
    std::vector<std::uint8_t> compressed;
    std::unique_ptr<libdeflate_compressor, compressor_free> compressor(
        libdeflate_alloc_compressor(png_compression_level));
    if (!compressor) {
        return memory_exhausted();
    }
    try {
        head = file_head(width, height, bit_count, palette, form);
        rows.resize(static_cast<std::size_t>(raw_bytes));
        compressed.resize(libdeflate_zlib_compress_bound(compressor.get(), rows.size()));
    } catch (const std::bad_alloc&) {
        return memory_exhausted();
    }
    pack_picture(pixels, transparent, width, height, bit_count, form,
                 static_cast<std::size_t>(row_bytes), rows.data());
    // With room for the bound, libdeflate promises that the compression
    // cannot fail; a file without its pixel data must still never be
    // written as though it had them.
    const std::size_t size = libdeflate_zlib_compress(compressor.get(), rows.data(), rows.size(),
                                                      compressed.data(), compressed.size());
    if (size == 0) {
        print_message("error: write_png() - can't compress png data\n");
        return -1;
    }
    if (!put(stream, head.data(), head.size()) ||
        !put_pixel_data(stream, compressed.data(), size)) {
        print_message("error: write_png() - can't write png data\n");
        return -1;
    }
    return 0;
}

} // namespace kz

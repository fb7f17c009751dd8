// Reading an uncompressed bitmap with the 40-byte information header.
//
// The reader takes the file strictly in sequence: 54 header bytes, the
// palette directly after them (2, 16 or 256 entries for 1, 4 and 8 bits),
// the rows directly after the palette, bottom row first, each filled to a
// multiple of 4 bytes. The header check makes sure that data_offset and the
// sizes agree with that layout before anything else is read.
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_slot.h"
#include "io/input_file.h"
#include "terminal/terminal.h"

namespace kz {
namespace {

constexpr std::uint16_t bitmap_signature = 0x4D42; // "BM", little-endian
constexpr std::int64_t int32_limit = std::numeric_limits<std::int32_t>::max();

// The sizes that follow from a header.
struct bitmap_sizes {
    bool valid = false;
    std::int64_t row_size = 0;    // one row in the file, with filling
    std::int64_t data_bytes = 0;  // all rows in the file
    std::int64_t pixel_bytes = 0; // the pixel buffer
};

// C's division, which truncates toward zero, of a signed 32-bit value given
// by its two's-complement bits.
std::uint32_t divide_as_int32(std::uint32_t value, std::uint32_t divisor) {
    const bool negative = (value & 0x80000000u) != 0;
    return negative ? 0u - (0u - value) / divisor : value / divisor;
}

// The data length that the format's own check compares with image_size: the
// row size in signed 32-bit arithmetic (sums and products wrapping, divisions
// truncating) times the signed height, kept modulo 2^32. From 2^31 - 7 pixels
// at 1 bit and 2^31 - 1 at 4 bits the sum before the division wraps to a
// negative number, and the row size is no real size at all; a header that
// claims such a row is then refused with the numbers the format itself gives.
// Worked in unsigned arithmetic, which yields the same bits without undefined
// behaviour.
std::uint32_t expected_data_length(const bitmap_header& header) {
    const auto to_multiple_of_4 = [](std::uint32_t n) { return (n + 3) & ~std::uint32_t{3}; };
    const std::uint32_t width = header.width;
    std::uint32_t row_size = 0;
    switch (header.bit_count) {
    case 1:
        row_size = to_multiple_of_4(divide_as_int32(width + 7, 8));
        break;
    case 4:
        row_size = to_multiple_of_4(divide_as_int32(width + 1, 2));
        break;
    case 8:
    case 16:
    case 24:
        row_size = to_multiple_of_4(width * (header.bit_count / 8u));
        break;
    case 32:
        row_size = width * 4;
        break;
    default:
        row_size = 0xFFFFFFFF; // -1, as for any bit count the format does not know
        break;
    }
    return row_size * static_cast<std::uint32_t>(header.height);
}

// A header is untrusted: its width and height may be anything that 32 bits
// hold. Every size derived from them, and the whole file length, must fit a
// signed 32-bit number (the callers work in int), so they are decided in
// 64 bits here before anything is computed in 32. The data length that the
// format's own 32-bit arithmetic gives must also be the true one: where its
// row size wraps, the header's image_size and file_size no longer describe
// the file.
bitmap_sizes sizes_of(const bitmap_header& header) {
    bitmap_sizes sizes;
    const int bit_count = header.bit_count;
    if (!is_supported_bit_count(bit_count) || header.width == 0 || header.width > int32_limit ||
        header.height <= 0) {
        return sizes;
    }
    const int row_size = bitmap_row_size(static_cast<int>(header.width), bit_count);
    if (row_size < 0) {
        return sizes;
    }
    const std::int64_t width = header.width;
    const std::int64_t height = header.height;
    const std::int64_t pixel_size = (bit_count + 7) / 8;
    // Each factor is below 2^31 and the pixel size at most 4, so none of
    // these products can leave 64 bits.
    sizes.row_size = row_size;
    sizes.data_bytes = sizes.row_size * height;
    sizes.pixel_bytes = width * height * pixel_size;
    sizes.valid =
        sizes.data_bytes + bitmap_headers_size + palette_bytes(bit_count) <= int32_limit &&
        sizes.pixel_bytes <= int32_limit && sizes.data_bytes == expected_data_length(header);
    return sizes;
}

// Whether a seekable stream still holds the given number of bytes; a stream
// that cannot seek (a pipe) is given the benefit of the doubt, and its short
// reads will tell. The position is left where it was.
bool stream_can_hold(std::FILE* stream, std::int64_t needed) {
    const long start = std::ftell(stream);
    if (start < 0 || !stream_can_seek(stream)) {
        return true;
    }
    if (std::fseek(stream, 0, SEEK_END) != 0) {
        std::clearerr(stream);
        return true;
    }
    const long end = std::ftell(stream);
    if (std::fseek(stream, start, SEEK_SET) != 0) {
        return false;
    }
    return end >= start && end - start >= needed;
}

// A 1-bit file byte's eight pixels, 0 or 1, leftmost first, so that a byte
// is unpacked by one 8-byte copy.
constexpr std::array<std::array<std::uint8_t, 8>, 256> make_1bit_pixels() {
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (int value = 0; value < 256; ++value) {
        for (int i = 0; i < 8; ++i) {
            table[value][i] = static_cast<std::uint8_t>((value >> (7 - i)) & 1);
        }
    }
    return table;
}

constexpr auto pixels_1bit = make_1bit_pixels();

// One file row into one buffer row of width pixels. A last byte that holds
// fewer pixels than it could gives only those.
void unpack_row(const std::uint8_t* row, std::uint8_t* pixels, std::size_t width, int bit_count) {
    if (bit_count == 1) {
        const std::size_t whole = width / 8;
        for (std::size_t i = 0; i < whole; ++i) {
            std::memcpy(pixels + 8 * i, pixels_1bit[row[i]].data(), 8);
        }
        if (const std::size_t rest = width % 8; rest > 0) {
            std::memcpy(pixels + 8 * whole, pixels_1bit[row[whole]].data(), rest);
        }
    } else if (bit_count == 4) {
        // Two plain stores a byte, which the compiler does many bytes at once.
        const std::size_t whole = width / 2;
        for (std::size_t i = 0; i < whole; ++i) {
            pixels[2 * i] = static_cast<std::uint8_t>(row[i] >> 4);
            pixels[2 * i + 1] = static_cast<std::uint8_t>(row[i] & 0x0F);
        }
        if (width % 2 != 0) {
            pixels[width - 1] = static_cast<std::uint8_t>(row[whole] >> 4);
        }
    } else {
        std::memcpy(pixels, row, width * static_cast<std::size_t>(bit_count / 8));
    }
}

// The format's own tests of the fields that fix the layout: the header
// type, one plane, no compression, a bit count it knows, and the pixel rows
// right after the palette. Gives the rows' offset, or 0 after its message
// (or silently, for the planes).
std::uint32_t check_bitmap_layout(const bitmap_header& header) {
    if (header.header_size != bitmap_info_header_size) {
        print_message("error: check_bitmap_header() - not supported header type - support only "
                   "Windows V3\n");
        return 0;
    }
    if (header.planes != 1) {
        return 0;
    }
    if (header.compression != 0) {
        print_message("error: check_bitmap_header() - not support compression\n");
        return 0;
    }
    const int bit_count = header.bit_count;
    if (!is_supported_bit_count(bit_count)) {
        print_message("error: check_bitmap_header() - unknown bit count\n");
        return 0;
    }
    const std::uint32_t expected_offset = bitmap_headers_size + palette_bytes(bit_count);
    if (header.data_offset != expected_offset) {
        print_message("error: check_bitmap_header() - offset size 0x%X != 0x%X\n",
                    header.data_offset, expected_offset);
        return 0;
    }
    return expected_offset;
}

// The format's own tests of the lengths, given the rows' offset: a zero
// image_size is mended, and a file_size above what the headers and rows need
// is only warned about. -1 after its message, else the number of warnings.
int check_bitmap_lengths(bitmap_header* header, std::uint32_t data_offset) {
    const std::uint32_t expected_length = expected_data_length(*header);
    int warnings = 0;
    if (header->image_size == 0) {
        print_message("warning: check_bitmap_header() - data length is 0 ... corrected: 0x%X\n",
                    expected_length);
        header->image_size = expected_length;
        ++warnings;
    }
    if (header->image_size != expected_length) {
        print_message("error: check_bitmap_header() - data length 0x%X != 0x%X\n", header->image_size,
                    expected_length);
        return -1;
    }
    const std::uint32_t expected_file_length = expected_length + data_offset;
    if (header->file_size > expected_file_length) {
        print_message("warning: check_bitmap_header() - file length 0x%X > 0x%X\n", header->file_size,
                    expected_file_length);
        ++warnings;
    } else if (header->file_size < expected_file_length) {
        print_message("error: check_bitmap_header() - file length 0x%X < 0x%X\n", header->file_size,
                    expected_file_length);
        return -1;
    }
    return warnings;
}

// Makes the pixel slot ready for the picture. A header may claim up to 2 GiB
// of pixels: a new buffer is had only when the stream still holds the
// palette and every row, so a tiny file with a huge header costs no memory.
// *rows_present tells whether it does; the caller's own buffer must be large
// enough. 0, -1 after a message, or -2.
int prepare_pixel_slot(std::FILE* stream, const bitmap_sizes& sizes, std::int64_t palette_size,
                       buffer_slot* pixels, bool* rows_present) {
    const auto size = static_cast<std::size_t>(sizes.pixel_bytes);
    *rows_present = true;
    if (slot_needs_buffer(*pixels, size) &&
        !stream_can_hold(stream, palette_size + sizes.data_bytes)) {
        *pixels = buffer_slot{}; // an offered buffer is set aside all the same
        *rows_present = false;
        return 0;
    }
    const int result = fill_slot(pixels, size);
    if (result == -1) {
        print_message("error: read_bitmap() - pixel buffer too small\n");
    }
    return result;
}

// Reads the palette into its slot, or past it when there is none (a stream
// that cannot seek has it read and dropped). Bitmaps of 16 bits and more
// have no palette. 0, -1 after a message, or -2.
int take_palette(std::FILE* stream, int bit_count, buffer_slot* palette) {
    if (bit_count > 8) {
        return 0;
    }
    const int entries = 1 << bit_count;
    const std::uint32_t size = palette_bytes(bit_count);
    if (palette == nullptr) {
        const bool skipped =
            stream_can_seek(stream) && std::fseek(stream, static_cast<long>(size), SEEK_CUR) == 0;
        if (!skipped) {
            std::clearerr(stream);
            std::array<std::uint8_t, max_palette_entries * palette_entry_size> dropped{};
            read_palette(stream, dropped.data(), entries);
        }
        return 0;
    }
    const int result = fill_slot(palette, size);
    if (result == bitmap_memory_exhausted) {
        return result;
    }
    if (result < 0) {
        print_message("error: read_bitmap() - palette buffer too small\n");
        return -1;
    }
    if (read_palette(stream, palette->data, entries) < 0) {
        print_message("error: read_bitmap() - can't read palette\n");
        return -1;
    }
    return 0;
}

// The rows, bottom row first, each unpacked into its place in the buffer.
int read_rows(std::FILE* stream, const bitmap_header& header, const bitmap_sizes& sizes,
              std::uint8_t* pixels) {
    std::vector<std::uint8_t> row;
    try {
        row.resize(static_cast<std::size_t>(sizes.row_size));
    } catch (const std::bad_alloc&) {
        print_message("error: memory exhaust!\n");
        return bitmap_memory_exhausted;
    }
    const int bit_count = header.bit_count;
    const auto width = static_cast<std::size_t>(header.width);
    const std::size_t buffer_row = width * static_cast<std::size_t>((bit_count + 7) / 8);
    for (auto r = static_cast<std::size_t>(header.height); r-- > 0;) {
        if (std::fread(row.data(), 1, row.size(), stream) != row.size()) {
            print_message("error: read_bitmap() - can't read bitmap data\n");
            return -1;
        }
        unpack_row(row.data(), pixels + r * buffer_row, width, bit_count);
    }
    return 0;
}

} // namespace

int read_bitmap_header(std::FILE* stream, bitmap_header* header) {
    std::array<std::uint8_t, bitmap_headers_size> bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
        return -1;
    }
    const std::uint8_t* p = bytes.data();
    if (get_le16(p, &p) != bitmap_signature) {
        return -1;
    }
    header->file_size = get_le32(p, &p);
    header->reserved1 = get_le16(p, &p);
    header->reserved2 = get_le16(p, &p);
    header->data_offset = get_le32(p, &p);
    header->header_size = get_le32(p, &p);
    header->width = get_le32(p, &p);
    header->height = get_le32_signed(p, &p);
    header->planes = get_le16(p, &p);
    header->bit_count = get_le16(p, &p);
    header->compression = get_le32(p, &p);
    header->image_size = get_le32(p, &p);
    header->x_resolution = get_le32(p, &p);
    header->y_resolution = get_le32(p, &p);
    header->colors_used = get_le32(p, &p);
    header->colors_important = get_le32(p, &p);
    return check_bitmap_header(header);
}

int check_bitmap_header(bitmap_header* header) {
    const std::uint32_t data_offset = check_bitmap_layout(*header);
    if (data_offset == 0) {
        return -1;
    }
    const int warnings = check_bitmap_lengths(header, data_offset);
    if (warnings < 0) {
        return -1;
    }
    // The format's tests compare 32-bit numbers that wrap, so they pass
    // headers whose true sizes are absurd (a zero width, a top-down height
    // with matching fields, rows of gigabytes). This test keeps the reader
    // from them. It comes after all of the format's own tests, so that a
    // header that they refuse is refused in their words, and it must run
    // before any header is accepted, the long-file warning included.
    if (!sizes_of(*header).valid) {
        print_message("error: check_bitmap_header() - bitmap size %u x %d out of range\n",
                    header->width, header->height);
        return -1;
    }
    return warnings;
}

int read_palette(std::FILE* stream, std::uint8_t* palette, int count) {
    if (count < 0 || count > max_palette_entries) {
        return -1;
    }
    std::array<std::uint8_t, max_palette_entries * palette_entry_size> bytes{};
    const auto size = static_cast<std::size_t>(count) * palette_entry_size;
    if (std::fread(bytes.data(), 1, size, stream) != size) {
        return -1;
    }
    if (size > 0) {
        std::memcpy(palette, bytes.data(), size);
    }
    return 0;
}

int start_read_bitmap(std::FILE* stream, bitmap_header* header) {
    const int result = read_bitmap_header(stream, header);
    if (result < 0) {
        print_message("error: read_bitmap() - can't read bitmap header\n");
    }
    return result;
}

int read_bitmap(std::FILE* stream, bitmap_header* header, buffer_slot* palette, buffer_slot* pixels,
                int header_read) {
    if (pixels == nullptr) {
        return bitmap_no_slot;
    }
    if (header_read == 0 && start_read_bitmap(stream, header) < 0) {
        return -1;
    }
    // A record filled by the caller gets the same size test, silently.
    const bitmap_sizes sizes = sizes_of(*header);
    if (!sizes.valid) {
        print_message("error: read_bitmap() - can't read bitmap header\n");
        return -1;
    }
    bool rows_present = true;
    int result =
        prepare_pixel_slot(stream, sizes, palette_bytes(header->bit_count), pixels, &rows_present);
    if (result == 0) {
        result = take_palette(stream, header->bit_count, palette);
    }
    if (result < 0) {
        return result;
    }
    if (!rows_present) {
        print_message("error: read_bitmap() - can't read bitmap data\n");
        return -1;
    }
    return read_rows(stream, *header, sizes, pixels->data);
}

} // namespace kz

// Uncompressed Windows bitmaps with the 40-byte information header, as the
// shape tools write and read them, and conversion of pixel buffers between
// bit counts and palettes by nearest colour.
//
// Layouts shared by the whole library:
// - palette entry: 4 bytes, blue, green, red, and a fourth byte that is copied
//   unchanged in both directions; a palette holds 2, 16 or 256 entries for
//   1, 4 or 8 bits per pixel, in the order of the file.
// - pixel buffer: the picture top row first, rows with no filling between
//   them; one byte per pixel (the palette index) for 1, 4 and 8 bits, the
//   file's own 2, 3 or 4 bytes per pixel for 16, 24 and 32 bits.
//
// Results are integers: 0 (or a count of warnings) for success, a negative
// number for failure. Every failure that has a message prints it on standard
// output, in the form "error: <operation>() - <reason>\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

#include "byte_order/byte_order.h"

namespace kz {

constexpr int bitmap_failure = -1;
constexpr int bitmap_memory_exhausted = -2;
constexpr int bitmap_no_slot = -3;

constexpr int bitmap_file_header_size = 14;
constexpr int bitmap_info_header_size = 40;
constexpr int bitmap_headers_size = bitmap_file_header_size + bitmap_info_header_size; // 54
constexpr int palette_entry_size = 4;
constexpr int max_palette_entries = 256;

// Both headers of a bitmap file less the "BM" signature, fields in file order.
struct bitmap_header {
    std::uint32_t file_size = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t data_offset = 0;
    std::uint32_t header_size = 0;
    std::uint32_t width = 0;
    std::int32_t height = 0; // rows are stored bottom row first
    std::uint16_t planes = 0;
    std::uint16_t bit_count = 0;
    std::uint32_t compression = 0;
    std::uint32_t image_size = 0;
    std::uint32_t x_resolution = 0;
    std::uint32_t y_resolution = 0;
    std::uint32_t colors_used = 0;
    std::uint32_t colors_important = 0;
};

// Where an operation may hand out a buffer. An empty slot (data null)
// receives a newly allocated buffer, which it then owns: the caller keeps the
// slot, and with it the buffer, whatever the result. A slot that names the
// caller's own buffer (data and size set, owned empty) is filled in place;
// its size is checked, so a buffer that is too small is refused rather than
// overrun. A buffer that the caller only offers is filled in place when it
// is large enough and otherwise set aside: the slot then gets a new buffer,
// as an empty one would.
struct buffer_slot {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::unique_ptr<std::uint8_t[]> owned;
    bool offered = false;
};

// A slot naming the caller's buffer.
inline buffer_slot borrowed_slot(std::uint8_t* data, std::size_t size) {
    return buffer_slot{data, size, nullptr, false};
}

// A slot offering the caller's buffer, to be used if the picture fits.
inline buffer_slot offered_slot(std::uint8_t* data, std::size_t size) {
    return buffer_slot{data, size, nullptr, true};
}

// The little-endian field helpers (get_le16, get_le32, put_le16, put_le32)
// come with this header, from byte_order/byte_order.h.

// --- header and writer ---------------------------------------------------

// Bytes that one row takes in the file, filled up to a multiple of 4;
// -1 for an unsupported bit count (or a width that does not fit).
int bitmap_row_size(int width, int bit_count);

// Whether the library reads and writes this many bits per pixel: 1, 4, 8,
// 16, 24 or 32.
bool is_supported_bit_count(int bit_count);

// Bytes of the palette in the file, which sits between the headers and the
// rows: 4 << bit_count for the indexed bit counts (8, 64 or 1024 for 1, 4
// and 8 bits), none for 16, 24 and 32 bits.
std::uint32_t palette_bytes(int bit_count);

// Fills the record for an uncompressed bottom-up bitmap. -1 for an unsupported
// bit count, with data_offset, image_size and file_size left as they were.
int make_bitmap_header(bitmap_header* header, std::uint32_t width, std::int32_t height,
                       std::uint16_t bit_count);

int write_bitmap_header(std::FILE* stream, const bitmap_header* header);
int write_palette(std::FILE* stream, const std::uint8_t* palette, int count);

// Writes a whole file: headers, palette (null writes zero entries) and rows.
// Fails with -1 also when a pixel row cannot be written, and for a negative
// (top-down) height, which it refuses before writing anything.
int write_bitmap(std::FILE* stream, const bitmap_header* header, const std::uint8_t* palette,
                 const std::uint8_t* pixels);

// --- reader --------------------------------------------------------------

// Reads the 54 header bytes; -1 when short or not "BM", else the result of
// check_bitmap_header. Prints nothing itself.
int read_bitmap_header(std::FILE* stream, bitmap_header* header);

// -1 for a file that cannot be read, else the number of warnings printed.
int check_bitmap_header(bitmap_header* header);

int read_palette(std::FILE* stream, std::uint8_t* palette, int count);

// read_bitmap's first step, for a caller that looks at the header before
// the pixels are read (and then calls read_bitmap with header_read 1):
// reads and checks the 54 header bytes, and when they are refused prints
// "error: read_bitmap() - can't read bitmap header\n" after the check's own
// message. -1, or the number of warnings.
int start_read_bitmap(std::FILE* stream, bitmap_header* header);

// Reads one bitmap. palette may be null (the palette is skipped); pixels is
// required (-3 without it). header_read non-zero: the caller has filled and
// checked the record and the stream stands after the 54 header bytes.
// 0 success, -1 read failure, -2 memory exhausted, -3 no pixel slot.
// An empty pixel slot gets its buffer only when a seekable stream still
// holds every row; a caller's buffer smaller than the picture is refused.
int read_bitmap(std::FILE* stream, bitmap_header* header, buffer_slot* palette, buffer_slot* pixels,
                int header_read);

// --- pixel-depth conversion ---------------------------------------------

// Index of the palette entry nearest to the colour: the first exact match,
// else the smallest squared distance, the lowest index on ties.
int find_nearest_color(int red, int green, int blue, const std::uint8_t* palette, int count);

// Converts width x height pixels from one bit count and palette to another.
// The target may be the source's own buffer when it takes no more bytes per
// pixel than the source: each pixel is read before it is written over.
// 0 success, -1 invalid arguments (a source too small for its size among them),
// -2 memory exhausted. A source byte beyond its palette counts as the writer
// stores it: at 1 bit any non-zero byte is 1, at 4 bits the low nibble.
int convert_bitmap(int width, int height, int source_bits, const std::uint8_t* source_palette,
                   std::span<const std::uint8_t> source, int target_bits,
                   const std::uint8_t* target_palette, buffer_slot* target);

} // namespace kz

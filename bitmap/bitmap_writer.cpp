// Writing an uncompressed bitmap: the 14-byte file header and the 40-byte
// information header, the palette for 1, 4 and 8 bits, then the pixel rows
// bottom row first, each filled with zero bytes to a multiple of 4.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "bitmap/bitmap.h"
#include "bitmap/row_packing.h"
#include "terminal/terminal.h"

namespace kz {
namespace {

// Row size in 64 bits, so that no width the record can hold overflows it;
// -1 for an unsupported bit count.
std::int64_t row_size_64(std::uint64_t width, int bit_count) {
    const auto to_multiple_of_4 = [](std::uint64_t n) {
        return static_cast<std::int64_t>((n + 3) & ~std::uint64_t{3});
    };
    switch (bit_count) {
    case 1:
        return to_multiple_of_4((width + 7) / 8);
    case 4:
        return to_multiple_of_4((width + 1) / 2);
    case 8:
    case 16:
    case 24:
        return to_multiple_of_4(width * static_cast<std::uint64_t>(bit_count / 8));
    case 32:
        return static_cast<std::int64_t>(width * 4);
    default:
        return -1;
    }
}

// Collects the bytes of the rows and hands them to the stream in chunks, so
// that the writer makes few large writes and needs no allocation. Rows are
// packed straight into the chunk (room() and commit()). The first failed
// write is remembered and ends all later ones.
class chunk_writer {
  public:
    explicit chunk_writer(std::FILE* stream) : stream_(stream) {}

    // Free space in the chunk, never empty: a full chunk is handed on first.
    std::span<std::uint8_t> room() {
        if (used_ == buffer_.size()) {
            flush();
        }
        return std::span(buffer_).subspan(used_);
    }

    void commit(std::size_t count) { used_ += count; }

    void put(const std::uint8_t* bytes, std::uint64_t count) {
        while (count > 0) {
            const std::span<std::uint8_t> space = room();
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, space.size()));
            std::memcpy(space.data(), bytes, n);
            commit(n);
            bytes += n;
            count -= n;
        }
    }

    void put_zeros(std::uint64_t count) {
        while (count > 0) {
            const std::span<std::uint8_t> space = room();
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, space.size()));
            std::memset(space.data(), 0, n);
            commit(n);
            count -= n;
        }
    }

    bool ok() const { return ok_; }

    // false once any write has failed
    bool flush() {
        if (used_ > 0 && ok_) {
            ok_ = std::fwrite(buffer_.data(), 1, used_, stream_) == used_;
        }
        used_ = 0;
        return ok_;
    }

  private:
    std::FILE* stream_;
    std::array<std::uint8_t, 16384> buffer_{};
    std::size_t used_ = 0;
    bool ok_ = true;
};

// Packs one buffer row into the file's form, straight into the chunk, and
// adds the filling. Wide rows are packed a chunk at a time.
void put_row(chunk_writer& out, const std::uint8_t* row, std::uint64_t width, int bit_count) {
    std::uint64_t data_bytes = 0;
    if (bit_count == 1 || bit_count == 4) {
        const std::uint64_t per_byte = bit_count == 1 ? 8 : 2;
        data_bytes = (width + per_byte - 1) / per_byte;
        for (std::uint64_t x = 0; x < width;) {
            const std::span<std::uint8_t> space = out.room();
            const std::uint64_t count = std::min<std::uint64_t>(width - x, space.size() * per_byte);
            if (bit_count == 1) {
                pack_1bit(row + x, count, space.data());
            } else {
                pack_4bit(row + x, count, space.data());
            }
            out.commit(static_cast<std::size_t>((count + per_byte - 1) / per_byte));
            x += count;
        }
    } else {
        data_bytes = width * static_cast<std::uint64_t>(bit_count / 8);
        out.put(row, data_bytes);
    }
    out.put_zeros((4 - data_bytes % 4) % 4);
}

} // namespace

int bitmap_row_size(int width, int bit_count) {
    if (width < 0) {
        return -1;
    }
    const auto size = row_size_64(static_cast<std::uint64_t>(width), bit_count);
    return size > std::numeric_limits<int>::max() ? -1 : static_cast<int>(size);
}

bool is_supported_bit_count(int bit_count) {
    switch (bit_count) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

std::uint32_t palette_bytes(int bit_count) {
    // Only the indexed counts have a palette; the test on 0 keeps a count
    // that is no bit count at all from being a negative shift.
    return bit_count > 0 && bit_count <= 8
               ? static_cast<std::uint32_t>(palette_entry_size) << bit_count
               : 0;
}

int make_bitmap_header(bitmap_header* header, std::uint32_t width, std::int32_t height,
                       std::uint16_t bit_count) {
    header->reserved1 = 0;
    header->reserved2 = 0;
    header->header_size = bitmap_info_header_size;
    header->width = width;
    header->height = height;
    header->planes = 1;
    header->bit_count = bit_count;
    header->compression = 0;
    header->x_resolution = 0;
    header->y_resolution = 0;
    header->colors_used = 0;
    header->colors_important = 0;
    if (!is_supported_bit_count(bit_count)) {
        return -1;
    }
    // The format's fields are 32 bits wide: the product is kept modulo 2^32.
    const auto row_size = static_cast<std::uint64_t>(row_size_64(width, bit_count));
    header->image_size = static_cast<std::uint32_t>(row_size * static_cast<std::uint64_t>(height));
    header->data_offset = bitmap_headers_size + palette_bytes(bit_count);
    header->file_size = header->data_offset + header->image_size;
    return 0;
}

int write_bitmap_header(std::FILE* stream, const bitmap_header* header) {
    std::array<std::uint8_t, bitmap_headers_size> bytes{};
    std::uint8_t* p = bytes.data();
    *p++ = 'B';
    *p++ = 'M';
    p = put_le32(p, header->file_size);
    p = put_le16(p, header->reserved1);
    p = put_le16(p, header->reserved2);
    p = put_le32(p, header->data_offset);
    p = put_le32(p, header->header_size);
    p = put_le32(p, header->width);
    p = put_le32(p, static_cast<std::uint32_t>(header->height));
    p = put_le16(p, header->planes);
    p = put_le16(p, header->bit_count);
    p = put_le32(p, header->compression);
    p = put_le32(p, header->image_size);
    p = put_le32(p, header->x_resolution);
    p = put_le32(p, header->y_resolution);
    p = put_le32(p, header->colors_used);
    put_le32(p, header->colors_important);
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() ? 0 : -1;
}

int write_palette(std::FILE* stream, const std::uint8_t* palette, int count) {
    if (count < 0 || count > max_palette_entries) {
        return -1;
    }
    std::array<std::uint8_t, max_palette_entries * palette_entry_size> bytes{};
    const auto size = static_cast<std::size_t>(count) * palette_entry_size;
    if (size > 0) {
        std::memcpy(bytes.data(), palette, size);
    }
    return std::fwrite(bytes.data(), 1, size, stream) == size ? 0 : -1;
}

int write_bitmap(std::FILE* stream, const bitmap_header* header, const std::uint8_t* palette,
                 const std::uint8_t* pixels) {
    const int bit_count = header->bit_count;
    const std::uint64_t width = header->width;
    // Rows are written bottom-up only; a top-down (negative) height has no
    // meaning for this writer.
    if (!is_supported_bit_count(bit_count) || header->height < 0) {
        return -1;
    }
    const auto height = static_cast<std::uint64_t>(header->height);
    if (pixels == nullptr && width > 0 && height > 0) {
        return -1;
    }

    if (write_bitmap_header(stream, header) < 0) {
        print_message("error: write_bitmap() - can't write bitmap header\n");
        return -1;
    }

    if (bit_count <= 8) {
        const int entries = 1 << bit_count;
        bool written = true;
        if (palette == nullptr) {
            const std::array<std::uint8_t, palette_entry_size> zero_entry{};
            for (int i = 0; i < entries && written; ++i) {
                written = std::fwrite(zero_entry.data(), 1, zero_entry.size(), stream) ==
                          zero_entry.size();
            }
        } else {
            written = write_palette(stream, palette, entries) == 0;
        }
        if (!written) {
            print_message("error: write_bitmap() - can't write palette\n");
            return -1;
        }
    }

    const std::uint64_t pixel_bytes = (static_cast<std::uint64_t>(bit_count) + 7) / 8;
    const std::uint64_t buffer_row = width * pixel_bytes;
    chunk_writer out(stream);
    for (std::uint64_t r = height; r-- > 0 && out.ok();) {
        put_row(out, pixels + r * buffer_row, width, bit_count);
    }
    if (!out.flush()) {
        print_message("error: write_bitmap() - can't write bitmap data\n");
        return -1;
    }
    return 0;
}

} // namespace kz

// Conversion of pixel buffers between bit counts and palettes. Colours that
// must land in an indexed target are matched to its palette by the smallest
// squared distance in red, green and blue.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_slot.h"
#include "bitmap/pixel_colours.h"
#include "terminal/terminal.h"

namespace kz {
namespace {

struct pixel_format {
    bool valid = false;
    bool indexed = false;
    int entries = 0; // palette entries when indexed
    int bytes = 0;   // bytes per pixel in the buffer
    const std::uint8_t* palette = nullptr;
};

pixel_format classify(int bit_count, const std::uint8_t* palette) {
    pixel_format format;
    switch (bit_count) {
    case 1:
        format = {true, true, 2, 1, palette != nullptr ? palette : black_and_white.data()};
        break;
    case 4:
    case 8:
        format = {palette != nullptr, true, 1 << bit_count, 1, palette};
        break;
    case 16:
    case 24:
    case 32:
        format = {true, false, 0, bit_count / 8, nullptr};
        break;
    default:
        break;
    }
    return format;
}

void write_colour(std::uint8_t* pixel, int bytes, colour c) {
    if (bytes == 2) {
        const auto value =
            static_cast<std::uint16_t>((c.red >> 3) << 10 | (c.green >> 3) << 5 | (c.blue >> 3));
        put_le16(pixel, value);
        return;
    }
    pixel[0] = static_cast<std::uint8_t>(c.blue);
    pixel[1] = static_cast<std::uint8_t>(c.green);
    pixel[2] = static_cast<std::uint8_t>(c.red);
    if (bytes == 4) {
        pixel[3] = 0;
    }
}

// The target's size for width x height pixels, when the arguments describe
// a conversion that may go ahead: the sizes must fit in int, as those of the
// format do, and only a source that holds every pixel may make the call
// allocate. The target is then at most 4 bytes for each source byte, and a
// few bytes of arguments can never demand gigabytes for a conversion that is
// refused anyway. A source of unknown bit count cannot be measured, and a
// target wider than 32 bits is no pixel layout at all.
std::optional<std::size_t> conversion_size(int width, int height, int source_bits,
                                           std::size_t source_size, int target_bits) {
    if (width < 0 || height < 0 || target_bits < 0 || target_bits > 32 ||
        !is_supported_bit_count(source_bits)) {
        return std::nullopt;
    }
    // Width and height are below 2^31, so their product fits 64 bits; the
    // checks divide rather than multiply again.
    const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
    const std::int64_t target_pixel_bytes = (static_cast<std::int64_t>(target_bits) + 7) / 8;
    if ((target_pixel_bytes > 0 && pixels > std::numeric_limits<int>::max() / target_pixel_bytes) ||
        static_cast<std::uint64_t>(pixels) >
            source_size / static_cast<std::size_t>((source_bits + 7) / 8)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(pixels * target_pixel_bytes);
}

// Indexed to indexed: one search per palette entry, then one look-up per
// pixel. The map is indexed by the source byte itself, with the reading of
// bytes beyond the palette folded in, so a pixel costs one look-up.
void map_indices(const pixel_format& from, const pixel_format& to, int source_bits,
                 const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    std::array<std::uint8_t, max_palette_entries> map{};
    for (int i = 0; i < from.entries; ++i) {
        const colour c = entry_colour(from.palette, i);
        map[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(
            find_nearest_color(c.red, c.green, c.blue, to.palette, to.entries));
    }
    std::array<std::uint8_t, 256> byte_map{};
    for (int value = 0; value < 256; ++value) {
        byte_map[static_cast<std::size_t>(value)] = map[static_cast<std::size_t>(
            source_index(static_cast<std::uint8_t>(value), source_bits))];
    }
    // The source is read and the target written eight bytes at a time; only
    // the look-ups go byte by byte.
    std::size_t i = 0;
    for (; count - i >= 8; i += 8) {
        std::array<std::uint8_t, 8> from_group;
        std::array<std::uint8_t, 8> to_group;
        std::memcpy(from_group.data(), in + i, from_group.size());
        for (std::size_t k = 0; k < to_group.size(); ++k) {
            to_group[k] = byte_map[from_group[k]];
        }
        std::memcpy(out + i, to_group.data(), to_group.size());
    }
    for (; i < count; ++i) {
        out[i] = byte_map[in[i]];
    }
}

// count pixels from one valid format to another. The target may be the
// source's own buffer when it takes no more bytes per pixel: each pixel is
// read before it is written over.
void convert_pixels(const pixel_format& from, const pixel_format& to, int source_bits,
                    const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    if (from.indexed && to.indexed) {
        map_indices(from, to, source_bits, in, out, count);
    } else if (from.indexed) {
        for (std::size_t i = 0; i < count; ++i, out += to.bytes) {
            write_colour(out, to.bytes,
                         entry_colour(from.palette, source_index(in[i], source_bits)));
        }
    } else if (to.indexed) {
        for (std::size_t i = 0; i < count; ++i, in += from.bytes) {
            const colour c = read_colour(in, from.bytes);
            out[i] = static_cast<std::uint8_t>(
                find_nearest_color(c.red, c.green, c.blue, to.palette, to.entries));
        }
    } else if (from.bytes == to.bytes) {
        std::memmove(out, in, count * static_cast<std::size_t>(from.bytes));
    } else {
        for (std::size_t i = 0; i < count; ++i, in += from.bytes, out += to.bytes) {
            write_colour(out, to.bytes, read_colour(in, from.bytes));
        }
    }
}

} // namespace

int find_nearest_color(int red, int green, int blue, const std::uint8_t* palette, int count) {
    int best_index = 0;
    int best_distance = 0x30000; // above the largest distance, 3 * 255 * 255
    for (int i = 0; i < count && palette != nullptr; ++i) {
        const colour c = entry_colour(palette, i);
        const int distance = (c.blue - blue) * (c.blue - blue) +
                             (c.green - green) * (c.green - green) + (c.red - red) * (c.red - red);
        if (distance == 0) {
            return i;
        }
        if (distance < best_distance) {
            best_index = i;
            best_distance = distance;
        }
    }
    return best_index;
}

int convert_bitmap(int width, int height, int source_bits, const std::uint8_t* source_palette,
                   std::span<const std::uint8_t> source, int target_bits,
                   const std::uint8_t* target_palette, buffer_slot* target) {
    if (source.data() == nullptr || target == nullptr) {
        return -1;
    }
    const std::optional<std::size_t> size =
        conversion_size(width, height, source_bits, source.size(), target_bits);
    if (!size) {
        return -1;
    }
    // A target of a bit count the library knows must hold the whole picture;
    // one of another bit count describes no layout, and is only cleared
    // below, as far as it goes.
    if (target->data == nullptr || is_supported_bit_count(target_bits)) {
        const int result = fill_slot(target, *size);
        if (result < 0) {
            return result;
        }
    }
    const pixel_format from = classify(source_bits, source_palette);
    const pixel_format to = classify(target_bits, target_palette);
    if (!from.valid || !to.valid) {
        // A refused conversion still leaves the target cleared.
        std::memset(target->data, 0, std::min(*size, target->size));
        return -1;
    }
    // A conversion that goes ahead writes every one of the size bytes, so
    // clearing them first would be work that nobody could see.
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    convert_pixels(from, to, source_bits, source.data(), target->data, count);
    return 0;
}

} // namespace kz

// Reading a PNG file of any standard kind into a bitmap pixel buffer: an
// indexed PNG keeps its indices and palette (8 bits, 256 entries), every
// other kind becomes 24-bit blue, green, red. libspng checks the chunks,
// their checksums and the compressed data; the decoder stops once the
// picture's own rows are complete, so compressed data that would expand
// beyond them is never inflated.
#include "bitmap/bitmap_slot.h"
#include "bitmap/png.h"
#include "bitmap/png_read_transparency.h"

#include "terminal/terminal.h"

#include <spng.h>

#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace kz {
namespace {

// Ancillary chunks (text, colour profiles) are kept in memory while the
// file is read; these bound what a file can make the reader keep.
constexpr std::size_t max_ancillary_chunk = std::size_t{1} << 22;
constexpr std::size_t max_ancillary_total = std::size_t{1} << 24;

// The pixels of one file byte at 1, 2 or 4 bits, leftmost first.
template <int depth>
constexpr std::array<std::array<std::uint8_t, 8 / depth>, 256> make_byte_pixels() {
    std::array<std::array<std::uint8_t, 8 / depth>, 256> table{};
    for (int value = 0; value < 256; ++value) {
        for (int i = 0; i < 8 / depth; ++i) {
            table[value][i] = static_cast<std::uint8_t>(value >> (8 - depth * (i + 1)) & ((1 << depth) - 1));
        }
    }
    return table;
}

template <int depth>
void unpack_rows(const std::uint8_t* packed, std::uint32_t width, std::uint32_t height,
                 std::uint8_t* pixels) {
    static constexpr auto table = make_byte_pixels<depth>();
    constexpr std::size_t per_byte = 8 / depth;
    const std::size_t whole = width / per_byte;
    const std::size_t rest = width % per_byte;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < whole; ++i, pixels += per_byte) {
            std::memcpy(pixels, table[*packed++].data(), per_byte);
        }
        if (rest > 0) {
            std::memcpy(pixels, table[*packed++].data(), rest);
            pixels += rest;
        }
    }
}

// Pixels of 1, 2 or 4 bits, as the file packs them (the leftmost pixel in
// the high bits, each row starting on a whole byte), one per byte.
void unpack_indices(const std::uint8_t* packed, std::uint32_t width, std::uint32_t height, int depth,
                    std::uint8_t* pixels) {
    if (depth == 1) {
        unpack_rows<1>(packed, width, height, pixels);
    } else if (depth == 2) {
        unpack_rows<2>(packed, width, height, pixels);
    } else {
        unpack_rows<4>(packed, width, height, pixels);
    }
}

// Decodes the picture into the pixel buffer: colours as blue, green, red,
// indices one a byte. 0, -1 after a message, -2 memory exhausted.
int decode_pixels(spng_ctx* png, const spng_ihdr& header, std::size_t count, bool indexed,
                  std::uint8_t* pixels) {
    int error = 0;
    if (!indexed) {
        error = spng_decode_image(png, pixels, count * 3, SPNG_FMT_RGB8, 0);
        for (std::size_t i = 0; error == 0 && i < count; ++i) {
            std::swap(pixels[3 * i], pixels[3 * i + 2]); // red, green, blue to bitmap order
        }
    } else if (header.bit_depth == 8) {
        error = spng_decode_image(png, pixels, count, SPNG_FMT_PNG, 0);
    } else {
        std::size_t size = 0;
        std::vector<std::uint8_t> packed;
        error = spng_decoded_image_size(png, SPNG_FMT_PNG, &size);
        if (error == 0) {
            try {
                packed.resize(size);
            } catch (const std::bad_alloc&) {
                print_message("error: memory exhaust!\n");
                return bitmap_memory_exhausted;
            }
            error = spng_decode_image(png, packed.data(), packed.size(), SPNG_FMT_PNG, 0);
        }
        if (error == 0) {
            unpack_indices(packed.data(), header.width, header.height, header.bit_depth, pixels);
        }
    }
    return error != 0 ? png_read_failed(error) : 0;
}

// The colours the indices stand for: a ramp of greys for a grey picture,
// else the file's palette, which must hold every index used. 0, or -1 after
// a message.
int index_colours(spng_ctx* png, const spng_ihdr& header, std::span<const std::uint8_t> pixels,
                  spng_plte* plte) {
    if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE) {
        plte->n_entries = 1u << header.bit_depth;
        const unsigned top = plte->n_entries - 1;
        for (unsigned i = 0; i < plte->n_entries; ++i) {
            const auto grey = static_cast<std::uint8_t>(i * 255 / top);
            plte->entries[i] = {grey, grey, grey, 255};
        }
        return 0;
    }
    const int error = spng_get_plte(png, plte);
    if (error != 0) {
        return png_read_failed(error);
    }
    // A palette with an entry for every index the depth can hold is never
    // short, and the pixels need not be looked at.
    if (plte->n_entries >= (1u << header.bit_depth)) {
        return 0;
    }
    std::array<bool, max_palette_entries> used{};
    for (const std::uint8_t index : pixels) {
        used[index] = true;
    }
    for (std::uint32_t index = plte->n_entries; index < max_palette_entries; ++index) {
        if (used[index]) {
            print_message("error: read_png() - index %u beyond the palette's %u entries\n", index,
                          plte->n_entries);
            return -1;
        }
    }
    return 0;
}

// A bitmap palette of 256 entries: the colours, then black.
int hand_palette_out(const spng_plte& plte, buffer_slot* palette) {
    const int result = fill_png_slot(palette, max_palette_entries * palette_entry_size);
    if (result < 0) {
        return result;
    }
    std::memset(palette->data, 0, max_palette_entries * palette_entry_size);
    for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
        std::uint8_t* entry = palette->data + i * palette_entry_size;
        entry[0] = plte.entries[i].blue;
        entry[1] = plte.entries[i].green;
        entry[2] = plte.entries[i].red;
    }
    return 0;
}

} // namespace

void png_context_free::operator()(spng_ctx* context) const {
    spng_ctx_free(context);
}

int png_read_failed(int error) {
    print_message("error: read_png() - %s\n", spng_strerror(error));
    return -1;
}

// The slot rule of the library: an offered buffer too small for the
// picture gives way to a new one, a caller's own is refused.
int fill_png_slot(buffer_slot* slot, std::size_t size) {
    const int result = fill_slot(slot, size);
    if (result == -1) {
        print_message("error: read_png() - pixel buffer too small\n");
    }
    return result;
}

int read_png_header(std::FILE* stream, png_reader* reader) {
    reader->context.reset(spng_ctx_new(0));
    spng_ctx* png = reader->context.get();
    if (png == nullptr) {
        print_message("error: memory exhaust!\n");
        return bitmap_memory_exhausted;
    }
    int error = spng_set_png_file(png, stream);
    if (error == 0) {
        error = spng_set_chunk_limits(png, max_ancillary_chunk, max_ancillary_total);
    }
    spng_ihdr header{};
    if (error == 0) {
        error = spng_get_ihdr(png, &header);
    }
    if (error != 0) {
        return png_read_failed(error);
    }
    reader->width = header.width;
    reader->height = header.height;
    // Grey up to 8 bits is read as indices into a ramp of greys, which
    // gives each pixel the colour a conversion to 8-bit grey gives it, and
    // costs one look-up per pixel instead of one colour search.
    const bool indexed = header.color_type == SPNG_COLOR_TYPE_INDEXED ||
                         (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE && header.bit_depth <= 8);
    reader->bit_count = indexed ? 8 : 24;
    // The same bound as for a bitmap: the pixel buffer's size must fit an int.
    const std::uint64_t bytes = std::uint64_t{header.width} * header.height *
                                static_cast<std::uint64_t>(reader->bit_count / 8);
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        print_message("error: read_png() - picture size %u x %u out of range\n", header.width,
                      header.height);
        return -1;
    }
    return 0;
}

int read_png_pixels(png_reader* reader, buffer_slot* palette, buffer_slot* pixels,
                    transparent_pixels* transparent) {
    spng_ctx* png = reader->context.get();
    if (png == nullptr || pixels == nullptr ||
        (transparent != nullptr && transparent->slot == nullptr)) {
        return bitmap_no_slot;
    }
    if (transparent != nullptr) {
        transparent->count = 0;
    }
    spng_ihdr header{};
    int error = spng_get_ihdr(png, &header);
    if (error != 0) {
        return png_read_failed(error);
    }
    const std::size_t count = std::size_t{reader->width} * reader->height;
    const bool indexed = reader->bit_count == 8;
    int result = fill_png_slot(pixels, count * (indexed ? 1 : 3));
    if (result < 0) {
        return result;
    }

    // Colours with an alpha channel or a transparent colour are decoded
    // with their alpha when the caller asks which pixels are transparent;
    // every other picture as always, and its transparency, if any, found
    // in its indices afterwards.
    bool with_alpha = false;
    if (transparent != nullptr && !indexed && png_has_alpha(png, header, &with_alpha) < 0) {
        return -1;
    }
    result = with_alpha ? decode_colours_and_alpha(png, header, pixels->data, transparent)
                        : decode_pixels(png, header, count, indexed, pixels->data);
    if (result < 0) {
        return result;
    }
    // The chunks after the pixel data, up to the end of the file: a damaged
    // checksum or a missing end is found there too.
    error = spng_decode_chunks(png);
    if (error != 0) {
        return png_read_failed(error);
    }
    if (!indexed) {
        return 0;
    }
    const std::span<const std::uint8_t> indices(pixels->data, count);
    spng_plte plte{};
    if (index_colours(png, header, indices, &plte) < 0) {
        return -1;
    }
    if (transparent != nullptr) {
        result = find_transparent_indices(png, header, indices, transparent);
        if (result < 0) {
            return result;
        }
    }
    return palette != nullptr ? hand_palette_out(plte, palette) : 0;
}

} // namespace kz

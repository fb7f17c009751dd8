// The fully transparent pixels of a PNG: alpha 0 in an alpha channel (grey
// or colour, 8 or 16 bits a sample), or the tRNS chunk's word on the rest:
// for an indexed picture the alpha of each palette entry (entries beyond
// the chunk's are opaque), for grey or colour without alpha the one level
// or colour that is transparent, compared with the samples as stored. Only
// alpha 0 counts; any other alpha is opaque here.
#include "bitmap/png_read_transparency.h"

#include "bitmap/bitmap_slot.h"
#include "terminal/terminal.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace kz {
namespace {

// Where each pass of an interlaced (Adam7) picture takes its pixels from a
// row: the first column and the step between its columns.
constexpr std::array<std::uint32_t, 7> adam7_first_column = {0, 4, 0, 2, 0, 1, 0};
constexpr std::array<std::uint32_t, 7> adam7_column_step = {8, 8, 4, 4, 2, 2, 1};

// Marks pixel i as fully transparent; the slot is filled, all opaque, at
// the first such pixel. 0, or the slot's failure.
int mark_transparent(transparent_pixels* transparent, std::size_t count, std::size_t i) {
    if (transparent->count == 0) {
        const int result = fill_png_slot(transparent->slot, count);
        if (result < 0) {
            return result;
        }
        std::memset(transparent->slot->data, 0, count);
    }
    transparent->slot->data[i] = 1;
    ++transparent->count;
    return 0;
}

// One decoded pixel as blue, green, red, and whether its alpha is 0: from
// RGBA of 8 bits a sample, or of 16 (in the host's byte order), which the
// whole-picture decode to colours narrows by taking each sample's high byte.
template <bool wide> bool take_pixel(const std::uint8_t* decoded, std::uint8_t* bgr) {
    if constexpr (wide) {
        std::array<std::uint16_t, 4> sample{};
        std::memcpy(sample.data(), decoded, sizeof sample);
        bgr[0] = static_cast<std::uint8_t>(sample[2] >> 8);
        bgr[1] = static_cast<std::uint8_t>(sample[1] >> 8);
        bgr[2] = static_cast<std::uint8_t>(sample[0] >> 8);
        return sample[3] == 0;
    } else {
        bgr[0] = decoded[2];
        bgr[1] = decoded[1];
        bgr[2] = decoded[0];
        return decoded[3] == 0;
    }
}

template <bool wide>
int take_rows(spng_ctx* png, const spng_ihdr& header, std::uint8_t* pixels,
              transparent_pixels* transparent) {
    constexpr std::size_t pixel_bytes = wide ? 8 : 4;
    const std::size_t width = header.width;
    const std::size_t count = width * header.height;
    std::vector<std::uint8_t> row;
    try {
        row.resize(width * pixel_bytes);
    } catch (const std::bad_alloc&) {
        print_message("error: memory exhaust!\n");
        return bitmap_memory_exhausted;
    }
    int error = spng_decode_image(png, nullptr, 0, wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8,
                                  SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    while (error == 0) {
        spng_row_info info{};
        error = spng_get_row_info(png, &info);
        if (error != 0) {
            break;
        }
        // The last row comes with the end of the image.
        error = spng_decode_row(png, row.data(), row.size());
        if (error != 0 && error != SPNG_EOI) {
            break;
        }
        const bool interlaced = header.interlace_method != 0;
        const std::uint32_t first = interlaced ? adam7_first_column[info.pass] : 0;
        const std::uint32_t step = interlaced ? adam7_column_step[info.pass] : 1;
        const std::size_t line = std::size_t{info.row_num} * width;
        for (std::size_t x = first; x < width; x += step) {
            if (take_pixel<wide>(row.data() + x * pixel_bytes, pixels + (line + x) * 3)) {
                const int result = mark_transparent(transparent, count, line + x);
                if (result < 0) {
                    return result;
                }
            }
        }
    }
    return error == SPNG_EOI ? 0 : png_read_failed(error);
}

} // namespace

int png_has_alpha(spng_ctx* png, const spng_ihdr& header, bool* has_alpha) {
    if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
        header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA) {
        *has_alpha = true;
        return 0;
    }
    spng_trns trns{};
    const int error = spng_get_trns(png, &trns);
    if (error != 0 && error != SPNG_ECHUNKAVAIL) {
        return png_read_failed(error);
    }
    *has_alpha = error == 0;
    return 0;
}

int decode_colours_and_alpha(spng_ctx* png, const spng_ihdr& header, std::uint8_t* pixels,
                             transparent_pixels* transparent) {
    return header.bit_depth == 16 ? take_rows<true>(png, header, pixels, transparent)
                                  : take_rows<false>(png, header, pixels, transparent);
}

int find_transparent_indices(spng_ctx* png, const spng_ihdr& header,
                             std::span<const std::uint8_t> indices,
                             transparent_pixels* transparent) {
    spng_trns trns{};
    const int error = spng_get_trns(png, &trns);
    if (error == SPNG_ECHUNKAVAIL) {
        return 0;
    }
    if (error != 0) {
        return png_read_failed(error);
    }
    std::array<bool, max_palette_entries> clear{};
    if (header.color_type == SPNG_COLOR_TYPE_INDEXED) {
        for (std::uint32_t i = 0; i < trns.n_type3_entries && i < clear.size(); ++i) {
            clear[i] = trns.type3_alpha[i] == 0;
        }
    } else if (trns.gray < clear.size()) {
        // Grey read as indices is read as its levels, which the chunk names
        // at the picture's depth; a level beyond the depth matches none.
        clear[trns.gray] = true;
    }
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (clear[indices[i]]) {
            const int result = mark_transparent(transparent, indices.size(), i);
            if (result < 0) {
                return result;
            }
        }
    }
    return 0;
}

} // namespace kz

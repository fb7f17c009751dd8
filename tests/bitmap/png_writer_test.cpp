// The PNG writer: the form it gives each picture (depth, colour type,
// palette, tRNS), read from the file's chunks, and the picture read back
// by libspng, colour by colour and transparent pixel by pixel. What other
// programs make of the files is the interop tests' part.
#include "bitmap/png.h"

#include "bitmap_test_support.h"

#include <tuple>

namespace kz::test {
namespace {

// What a PNG file's chunks say.
struct png_chunks {
    int depth = -1;
    int colour_type = -1;
    std::size_t entries = 0; // in PLTE
    bytes trns;
    bool ends = false; // an IEND chunk closes the file
};

png_chunks chunks_of(const bytes& file) {
    png_chunks found;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = std::size_t{file[at]} << 24 | std::size_t{file[at + 1]} << 16 |
                                   std::size_t{file[at + 2]} << 8 | file[at + 3];
        const std::string type(file.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                               file.begin() + static_cast<std::ptrdiff_t>(at) + 8);
        if (length > file.size() - at - 12) {
            break;
        }
        const auto body = file.begin() + static_cast<std::ptrdiff_t>(at) + 8;
        if (type == "IHDR") {
            found.depth = body[8];
            found.colour_type = body[9];
        } else if (type == "PLTE") {
            found.entries = length / 3;
        } else if (type == "tRNS") {
            found.trns.assign(body, body + static_cast<std::ptrdiff_t>(length));
        }
        found.ends = type == "IEND" && at + 12 == file.size();
        at += 12 + length;
    }
    return found;
}

constexpr int width = 9, height = 5; // odd: rows end inside a byte at 1, 2 and 4 bits

// The bytes a caller hands over: the indices, with bits a bitmap of that
// depth ignores set as well (any non-zero byte is 1 at 1 bit, the high
// nibble is dropped at 4 bits), so that the PNG must store what the bitmap
// would.
bytes given_pixels(int bits) {
    bytes pixels = make_picture(width, height, bits);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (bits == 1 && pixels[i] != 0) {
            pixels[i] = static_cast<std::uint8_t>(0x80 | i);
        } else if (bits == 4) {
            pixels[i] = static_cast<std::uint8_t>(pixels[i] | 0xA0);
        }
    }
    return pixels;
}

bytes black_and_white() {
    return {0, 0, 0, 0, 255, 255, 255, 0};
}

// The test colours of a depth; at 1 bit two others than black and white
// (the first two test colours).
bytes coloured(int bits) {
    const bytes palette = test_palette(bits == 1 ? 4 : 1 << bits);
    return bits == 1 ? bytes(palette.begin() + 8, palette.end()) : palette;
}

// Every pixel whose place is 1 more than a multiple of 4 is transparent,
// whatever its colour.
bytes transparency_map(std::size_t count) {
    bytes map(count);
    for (std::size_t i = 0; i < count; ++i) {
        map[i] = i % 4 == 1 ? 0x40 : 0;
    }
    return map;
}

struct read_back {
    int result = 1;
    std::uint32_t width = 0, height = 0;
    buffer_slot palette, pixels, clear;
    transparent_pixels transparent;
};

read_back read_png_file(const bytes& file) {
    read_back r;
    const file_ptr stream = stream_of(file);
    png_reader reader;
    r.transparent.slot = &r.clear;
    r.result = read_png_header(stream.get(), &reader);
    if (r.result == 0) {
        r.result = read_png_pixels(&reader, &r.palette, &r.pixels, &r.transparent);
    }
    r.width = reader.width;
    r.height = reader.height;
    return r;
}

TEST(write_png, each_picture_keeps_its_colours_and_its_transparent_pixels) {
    const struct {
        const char* fault;
        int bits;
        bool coloured; // test colours; else black and white
        bool transparency;
        int depth, colour_type;
        std::size_t entries, trns;
    } cases[] = {
        {"black_and_white_not_grey", 1, false, false, 1, 0, 0, 0},
        {"two_colours_lost", 1, true, false, 1, 3, 2, 0},
        {"sheet_indices_or_palette_changed", 4, true, false, 4, 3, 16, 0},
        {"eight_bit_indices_or_palette_changed", 8, true, false, 8, 3, 256, 0},
        // One entry more, transparent: 3 entries take 2 bits, 17 take 8.
        {"mask_transparency_lost_or_grey", 1, false, true, 2, 3, 3, 3},
        {"sheet_transparency_dropped_a_colour", 4, true, true, 8, 3, 17, 17},
        // A full palette: the first entry that no opaque pixel uses.
        {"eight_bit_transparency_took_a_used_entry", 8, true, true, 8, 3, 256, 0},
    };
    for (const auto& c : cases) {
        const bytes pixels = given_pixels(c.bits);
        const bytes palette = c.coloured ? coloured(c.bits) : black_and_white();
        const bytes clear = transparency_map(pixels.size());
        int result = 1;
        const bytes file = written_by([&](std::FILE* s) {
            result = write_png(s, width, height, c.bits, palette.data(), pixels.data(),
                               c.transparency ? clear.data() : nullptr);
        });
        ASSERT_EQ(result, 0) << c.fault;
        const png_chunks chunks = chunks_of(file);
        EXPECT_EQ(std::tuple(chunks.depth, chunks.colour_type, chunks.entries, chunks.ends),
                  std::tuple(c.depth, c.colour_type, c.entries, true))
            << c.fault;
        if (c.trns != 0) {
            EXPECT_EQ(chunks.trns.size(), c.trns) << c.fault;
        }
        // tRNS: every entry before the transparent one opaque, it alone clear.
        EXPECT_TRUE(
            chunks.trns.empty() ||
            (chunks.trns.back() == 0 && std::count(chunks.trns.begin(), chunks.trns.end(), 255) ==
                                            static_cast<long>(chunks.trns.size()) - 1))
            << c.fault;

        read_back back = read_png_file(file);
        ASSERT_EQ(std::tuple(back.result, back.width, back.height), std::tuple(0, 9u, 5u))
            << c.fault;
        const std::size_t expected_count = c.transparency ? (pixels.size() + 2) / 4 : 0;
        EXPECT_EQ(back.transparent.count, expected_count) << c.fault;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const bool transparent = back.transparent.count != 0 && back.clear.data[i] != 0;
            EXPECT_EQ(transparent, c.transparency && clear[i] != 0) << c.fault << " pixel " << i;
            if (transparent) {
                continue;
            }
            const int index = c.bits == 1 ? (pixels[i] != 0) : pixels[i] & ((1 << c.bits) - 1);
            const std::uint8_t* ours = back.palette.data + 4 * back.pixels.data[i];
            const std::uint8_t* theirs = palette.data() + 4 * index;
            EXPECT_EQ(std::tuple(ours[0], ours[1], ours[2]),
                      std::tuple(theirs[0], theirs[1], theirs[2]))
                << c.fault << " pixel " << i;
        }
    }
}

TEST(write_png, a_map_without_transparent_pixels_writes_the_opaque_file) {
    const bytes pixels = given_pixels(4);
    const bytes palette = test_palette(16);
    const bytes none(pixels.size(), 0);
    const bytes opaque = written_by([&](std::FILE* s) {
        EXPECT_EQ(write_png(s, width, height, 4, palette.data(), pixels.data()), 0);
    });
    const bytes mapped = written_by([&](std::FILE* s) {
        EXPECT_EQ(write_png(s, width, height, 4, palette.data(), pixels.data(), none.data()), 0);
    });
    EXPECT_TRUE(!opaque.empty() && opaque == mapped);
}

TEST(write_png, a_full_palette_leaves_no_entry_for_transparency) {
    // 17 x 16 pixels use all 256 entries, the last 16 pixels transparent.
    constexpr std::uint32_t wide = 17, high = 16;
    bytes pixels(wide * high), clear(wide * high);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i);
        clear[i] = i >= 256 ? 1 : 0;
    }
    const bytes palette = test_palette(256);
    int result = 1;
    bytes file;
    const std::string printed = printed_by([&] {
        file = written_by([&](std::FILE* s) {
            result = write_png(s, wide, high, 8, palette.data(), pixels.data(), clear.data());
        });
    });
    EXPECT_EQ(std::tuple(result, printed, file.size()),
              std::tuple(-1, "error: write_png() - no palette entry left for transparency\n", 0u));
}

} // namespace
} // namespace kz::test

// One rule for a caller's buffer, in every operation that hands one out
// through a slot: an empty slot gets a new buffer; a buffer the caller
// offers is used when large enough, else set aside untouched for a new one;
// the caller's own buffer is used when large enough, else refused.
#include "bitmap/png.h"

#include "bitmap_test_support.h"

#include <tuple>

namespace kz::test {
namespace {

constexpr int width = 5, height = 4;
constexpr std::size_t pixel_count = width * height;
constexpr std::size_t palette_size = 256 * palette_entry_size;

const bytes indices = make_picture(width, height, 8);
const bytes palette = test_palette(256);

std::tuple<int, std::string> bitmap_read(buffer_slot* palette_slot, buffer_slot* pixel_slot) {
    const file_ptr stream = stream_of(bitmap_file(width, height, 8, indices));
    bitmap_header header;
    int result = 0;
    const std::string printed = printed_by(
        [&] { result = read_bitmap(stream.get(), &header, palette_slot, pixel_slot, 0); });
    return {result, printed};
}

std::tuple<int, std::string> png_read(buffer_slot* palette_slot, buffer_slot* pixel_slot) {
    const bytes file = written_by([](std::FILE* s) {
        EXPECT_EQ(write_png(s, width, height, 8, palette.data(), indices.data()), 0);
    });
    const file_ptr stream = stream_of(file);
    png_reader reader;
    int result = 0;
    const std::string printed = printed_by([&] {
        result = read_png_header(stream.get(), &reader);
        if (result == 0) {
            result = read_png_pixels(&reader, palette_slot, pixel_slot);
        }
    });
    return {result, printed};
}

// The bitmap reader's pixel slot has its own table in the reader's tests.
enum class operation { bitmap_palette, png_pixels, png_palette, conversion };

// Runs the operation with the slot under test, any other slot empty; gives
// its result and message.
std::tuple<int, std::string> run_with(operation op, buffer_slot* slot) {
    buffer_slot other;
    switch (op) {
    case operation::bitmap_palette:
        return bitmap_read(slot, &other);
    case operation::png_pixels:
        return png_read(&other, slot);
    case operation::png_palette:
        return png_read(slot, &other);
    case operation::conversion:
        break;
    }
    return {convert_bitmap(width, height, 8, palette.data(), indices, 8, palette.data(), slot), ""};
}

std::size_t needed_by(operation op) {
    return op == operation::bitmap_palette || op == operation::png_palette ? palette_size
                                                                           : pixel_count;
}

enum class given { empty, own, offered };

const std::string png_small = "error: read_png() - pixel buffer too small\n";
constexpr std::size_t short_by_one_pixel = pixel_count - 1;
constexpr std::size_t short_by_one_entry = palette_size - palette_entry_size;

// clang-format off
const struct {
    const char* fault;
    operation op;
    given slot;
    std::size_t size; // of the caller's buffer
    int result;
    std::string printed;
} slot_cases[] = {
    {"bitmap_palette_overruns_an_own_buffer", operation::bitmap_palette, given::own,
     short_by_one_entry, -1, "error: read_bitmap() - palette buffer too small\n"},
    {"bitmap_palette_refuses_an_offered_buffer", operation::bitmap_palette, given::offered,
     short_by_one_entry, 0, ""},
    {"bitmap_palette_beside_an_offered_buffer", operation::bitmap_palette, given::offered,
     palette_size, 0, ""},
    {"png_pixels_not_allocated", operation::png_pixels, given::empty, 0, 0, ""},
    {"png_pixels_overrun_an_own_buffer", operation::png_pixels, given::own, short_by_one_pixel, -1,
     png_small},
    {"png_pixels_beside_an_offered_buffer", operation::png_pixels, given::offered, pixel_count, 0,
     ""},
    {"png_pixels_overrun_an_offered_buffer", operation::png_pixels, given::offered,
     short_by_one_pixel, 0, ""},
    {"png_palette_overruns_an_own_buffer", operation::png_palette, given::own, short_by_one_entry,
     -1, png_small},
    {"conversion_not_allocating", operation::conversion, given::empty, 0, 0, ""},
    {"conversion_overruns_an_own_buffer", operation::conversion, given::own, short_by_one_pixel,
     -1, ""},
    {"conversion_beside_an_own_buffer", operation::conversion, given::own, pixel_count, 0, ""},
    {"conversion_refuses_an_offered_buffer", operation::conversion, given::offered,
     short_by_one_pixel, 0, ""},
};
// clang-format on

TEST(buffer_slot, every_operation_keeps_the_one_rule_for_a_callers_buffer) {
    for (const auto& c : slot_cases) {
        bytes buffer(c.size + 1, 0xEE); // one guard byte past the size given
        buffer_slot slot;
        if (c.slot == given::own) {
            slot = borrowed_slot(buffer.data(), c.size);
        } else if (c.slot == given::offered) {
            slot = offered_slot(buffer.data(), c.size);
        }
        EXPECT_EQ(run_with(c.op, &slot), std::tuple(c.result, c.printed)) << c.fault;
        const std::size_t needed = needed_by(c.op);
        const bool fits = c.slot != given::empty && c.size >= needed;
        const bool in_place = c.result == 0 && fits;
        const bool replaced = c.result == 0 && !fits;
        EXPECT_EQ(std::tuple(slot.data == buffer.data(), slot.owned != nullptr),
                  std::tuple(in_place || (c.result < 0 && c.slot != given::empty), replaced))
            << c.fault;
        EXPECT_TRUE(!replaced || slot.size >= needed) << c.fault;
        // A buffer that is not used, or not large enough, is not written.
        EXPECT_TRUE(in_place || buffer == bytes(c.size + 1, 0xEE)) << c.fault;
        EXPECT_EQ(buffer.back(), 0xEE) << c.fault;
    }
}

} // namespace
} // namespace kz::test

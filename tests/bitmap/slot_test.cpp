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

// One operation, given the slot under test; gives its result and message.
using slot_operation = std::function<std::tuple<int, std::string>(buffer_slot*)>;

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

TEST(buffer_slot, every_operation_keeps_the_one_rule_for_a_callers_buffer) {
    // A reader's operation on one of its two slots, the other left empty.
    const auto on_pixels = [](auto read) {
        return slot_operation([read](buffer_slot* slot) {
            buffer_slot palette_slot;
            return read(&palette_slot, slot);
        });
    };
    const auto on_palette = [](auto read) {
        return slot_operation([read](buffer_slot* slot) {
            buffer_slot pixel_slot;
            return read(slot, &pixel_slot);
        });
    };
    const slot_operation bitmap_pixels = on_pixels(bitmap_read);
    const slot_operation bitmap_palette = on_palette(bitmap_read);
    const slot_operation png_pixels = on_pixels(png_read);
    const slot_operation png_palette = on_palette(png_read);
    const slot_operation conversion = [](buffer_slot* slot) {
        return std::tuple(
            convert_bitmap(width, height, 8, palette.data(), indices, 8, palette.data(), slot),
            std::string());
    };
    enum class given { empty, own, offered };
    const std::string bitmap_small = "error: read_bitmap() - pixel buffer too small\n";
    const std::string png_small = "error: read_png() - pixel buffer too small\n";
    const struct {
        const char* fault;
        const slot_operation& operation;
        given slot;
        std::size_t size; // of the caller's buffer
        std::size_t needed;
        int result;
        std::string printed;
    } cases[] = {
        {"bitmap_pixels_not_allocated", bitmap_pixels, given::empty, 0, pixel_count, 0, ""},
        {"bitmap_pixels_beside_an_own_buffer", bitmap_pixels, given::own, pixel_count, pixel_count,
         0, ""},
        {"bitmap_pixels_overrun_an_own_buffer", bitmap_pixels, given::own, pixel_count - 1,
         pixel_count, -1, bitmap_small},
        {"bitmap_pixels_overrun_an_offered_buffer", bitmap_pixels, given::offered, pixel_count - 1,
         pixel_count, 0, ""},
        {"bitmap_palette_overruns_an_own_buffer", bitmap_palette, given::own, palette_size - 4,
         palette_size, -1, "error: read_bitmap() - palette buffer too small\n"},
        {"bitmap_palette_refuses_an_offered_buffer", bitmap_palette, given::offered,
         palette_size - 4, palette_size, 0, ""},
        {"bitmap_palette_beside_an_offered_buffer", bitmap_palette, given::offered, palette_size,
         palette_size, 0, ""},
        {"png_pixels_not_allocated", png_pixels, given::empty, 0, pixel_count, 0, ""},
        {"png_pixels_overrun_an_own_buffer", png_pixels, given::own, pixel_count - 1, pixel_count,
         -1, png_small},
        {"png_pixels_beside_an_offered_buffer", png_pixels, given::offered, pixel_count,
         pixel_count, 0, ""},
        {"png_pixels_overrun_an_offered_buffer", png_pixels, given::offered, pixel_count - 1,
         pixel_count, 0, ""},
        {"png_palette_overruns_an_own_buffer", png_palette, given::own, palette_size - 4,
         palette_size, -1, png_small},
        {"conversion_not_allocating", conversion, given::empty, 0, pixel_count, 0, ""},
        {"conversion_overruns_an_own_buffer", conversion, given::own, pixel_count - 1, pixel_count,
         -1, ""},
        {"conversion_beside_an_own_buffer", conversion, given::own, pixel_count, pixel_count, 0,
         ""},
        {"conversion_refuses_an_offered_buffer", conversion, given::offered, pixel_count - 1,
         pixel_count, 0, ""},
    };
    for (const auto& c : cases) {
        bytes buffer(c.size + 1, 0xEE); // one guard byte past the size given
        buffer_slot slot;
        if (c.slot == given::own) {
            slot = borrowed_slot(buffer.data(), c.size);
        } else if (c.slot == given::offered) {
            slot = offered_slot(buffer.data(), c.size);
        }
        EXPECT_EQ(c.operation(&slot), std::tuple(c.result, c.printed)) << c.fault;
        const bool fits = c.slot != given::empty && c.size >= c.needed;
        const bool in_place = c.result == 0 && fits;
        const bool replaced = c.result == 0 && !fits;
        EXPECT_EQ(std::tuple(slot.data == buffer.data(), slot.owned != nullptr),
                  std::tuple(in_place || (c.result < 0 && c.slot != given::empty), replaced))
            << c.fault;
        EXPECT_TRUE(!replaced || slot.size >= c.needed) << c.fault;
        // A buffer that is not used, or not large enough, is not written.
        EXPECT_TRUE(in_place || buffer == bytes(c.size + 1, 0xEE)) << c.fault;
        EXPECT_EQ(buffer.back(), 0xEE) << c.fault;
    }
}

} // namespace
} // namespace kz::test

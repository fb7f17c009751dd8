// Transparent pixels that keep the disk's: the planes each picture speaks
// for, and a picture shorter than the sheet, read no further than its lines.
#include "random_disk.h"

#include "shapes/disk_under_transparency.h"

namespace kz {
namespace {

using ref::bytes;

std::size_t at(int shape, int x, int y) {
    return static_cast<std::size_t>(sheet_offset(shape / 16, shape % 16, y) + x);
}

struct keep_case {
    const char* what;
    std::uint8_t sheet_planes; // planes the sheet's transparency speaks for
    bool with_mask;            // a mask area, speaking for the fourth plane
    int picture_lines;         // lines the transparency maps cover
    bool tiles, npc;           // files the change touches
    int shape;                 // shape (sheet order) whose pixel is transparent
    // The bits of that pixel expected from the disk and from the sheet.
    std::uint8_t from_disk;
    bool marked;
};

class keep_disk : public ::testing::TestWithParam<keep_case> {};

TEST_P(keep_disk, transparent_pixels_take_the_disk_bits_of_their_planes_only) {
    const keep_case& c = GetParam();
    const random_disk disk;
    const bytes stored = disk.extracted();
    // The edited sheet: every bit of every pixel the opposite of the disk's.
    bytes sheet(sheet_bytes);
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        sheet[i] = static_cast<std::uint8_t>(~stored[i] & 0x0F);
    }
    const std::size_t lines = static_cast<std::size_t>(c.picture_lines) * sheet_width;
    bytes sheet_clear(lines), mask_clear(lines);
    const std::size_t pixel = at(c.shape, 9, 30);
    sheet_clear[pixel] = 1;
    mask_clear[pixel] = c.with_mask ? 1 : 0;
    const std::array<transparent_area, 2> areas = {
        transparent_area{sheet_clear, c.sheet_planes},
        transparent_area{c.with_mask ? std::span<const std::uint8_t>(mask_clear)
                                     : std::span<const std::uint8_t>(),
                         fourth_plane_bit},
    };
    bytes scratch(sheet_bytes, 0xA5);
    shapes_with_transparency marked{};
    const bytes before = sheet;
    keep_disk_under_transparency(ref::as_sheet(sheet), disk.data(), c.tiles, c.npc, areas,
                                 ref::as_sheet(scratch), &marked);
    const std::uint8_t expected =
        static_cast<std::uint8_t>((before[pixel] & ~c.from_disk) | (stored[pixel] & c.from_disk));
    EXPECT_EQ(sheet[pixel], expected) << c.what;
    sheet[pixel] = before[pixel];
    EXPECT_TRUE(sheet == before) << c.what << ": another pixel changed";
    EXPECT_EQ(marked[static_cast<std::size_t>(c.shape)], c.marked) << c.what;
    EXPECT_EQ(std::count(marked.begin(), marked.end(), true), c.marked ? 1 : 0) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    planes, keep_disk,
    ::testing::Values(keep_case{"sheet alone, NPC.CH", all_plane_bits, false, 1024, true, true,
                                256 + 77, 0x0F, true},
                      keep_case{"sheet beside a mask opaque there", colour_plane_bits, false, 1024,
                                true, true, 256 + 3, 0x07, true},
                      keep_case{"sheet and mask both transparent", colour_plane_bits, true, 1024,
                                true, true, 256 + 255, 0x0F, true},
                      keep_case{"a 512-line picture", all_plane_bits, false, 512, true, true, 255,
                                0x0F, true}));

} // namespace
} // namespace kz

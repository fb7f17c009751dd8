// The sheet against the disk's shapes: which shapes a change writes, and
// which it keeps as stored because the sheet shows them as an adjustment
// drew them.
#include "random_disk.h"

#include <algorithm>
#include <functional>

namespace kz {
namespace {

using ref::bytes;

sheet_verdicts compared(const bytes& sheet, const random_disk& disk, bool tiles = true,
                        bool npc = true) {
    bytes scratch(sheet_bytes, 0x5A);
    sheet_verdicts verdicts;
    bytes copy = sheet;
    compare_sheet_with_disk(ref::as_sheet(copy), disk.data(), tiles, npc, ref::as_sheet(scratch),
                            &verdicts);
    return verdicts;
}

int shape_of(bool npc, int n) {
    return (npc ? 256 : 0) + n;
}

int count(const sheet_verdicts& verdicts, shape_verdict verdict) {
    return static_cast<int>(std::count(verdicts.verdict.begin(), verdicts.verdict.end(), verdict));
}

// However the sheet was extracted, put back untouched it changes no shape,
// and the files come out as the disk holds them; a kept shape names the
// smallest set of adjustments that draws it.
TEST(compare_sheet_with_disk, an_untouched_sheet_changes_nothing_whatever_its_adjustments) {
    const random_disk disk;
    for (int set = 0; set < adjustment_set_count; ++set) {
        SCOPED_TRACE(adjustment_set_name(static_cast<std::uint8_t>(set)));
        bytes sheet = disk.extracted(static_cast<std::uint8_t>(set));
        const sheet_verdicts verdicts = compared(sheet, disk);
        EXPECT_EQ(count(verdicts, shape_verdict::changed), 0);
        for (int shape = 0; shape < sheet_shape_count; ++shape) {
            if (verdicts.verdict[shape] == shape_verdict::kept) {
                ASSERT_NE(verdicts.adjustments[shape], 0) << shape;
                ASSERT_EQ(verdicts.adjustments[shape] & ~set, 0) << shape;
            }
        }
        bytes tiles = disk.tiles, npc = disk.npc;
        encode_changed_shapes(verdicts, ref::as_sheet(sheet), tiles, npc);
        EXPECT_TRUE(tiles == disk.tiles && npc == disk.npc);
    }
    // Plain: nothing kept. Water remake alone: the 24 water shapes; the
    // mirror room: every shape that has a colour but black and white.
    EXPECT_EQ(count(compared(disk.extracted(0), disk), shape_verdict::kept), 0);
    const sheet_verdicts water = compared(disk.extracted(adjust_water_remake), disk);
    EXPECT_EQ(count(water, shape_verdict::kept), 24);
    for (const int n : {52, 55, 96, 111, 228, 231}) {
        EXPECT_EQ(water.verdict[n], shape_verdict::kept) << n;
        EXPECT_EQ(water.adjustments[n], adjust_water_remake) << n;
    }
    const sheet_verdicts mirror = compared(disk.extracted(adjust_mirror_room), disk);
    EXPECT_EQ(mirror.adjustments[shape_of(true, 17)], adjust_mirror_room);
    EXPECT_EQ(mirror.adjustments[shape_of(false, 0)], adjust_mirror_room);
}

// One pixel in one shape, or one mask bit, makes that shape changed and no
// other; what the change does not compare, or cannot store, changes
// nothing.
TEST(compare_sheet_with_disk, a_shape_edited_in_one_pixel_is_changed_and_no_other) {
    const random_disk disk;
    struct edit {
        const char* what;
        std::uint8_t extracted_with;
        bool npc;
        int shape;
        int x;
        int y;
        std::function<std::uint8_t(std::uint8_t)> change;
        bool compare_tiles = true;
        bool compare_npc = true;
        bool changed = true;
    };
    const auto other_colour = [](std::uint8_t v) { return static_cast<std::uint8_t>(v ^ 1); };
    const auto mask_bit = [](std::uint8_t v) { return static_cast<std::uint8_t>(v ^ 8); };
    const edit edits[] = {
        {"a plain landform shape", 0, false, 40, 3, 9, other_colour},
        {"a character shape", 0, true, 17, 31, 31, other_colour},
        {"a remade water shape", adjust_water_remake, false, 52, 0, 0, other_colour},
        {"a shape under the mirror room", adjust_mirror_room, true, 200, 5, 6, other_colour},
        {"a grass shape under dungeon and water", adjust_dungeon_grass | adjust_water_remake, false,
         100, 16, 2, other_colour},
        {"the fourth plane of a character shape", 0, true, 3, 10, 10, mask_bit},
        // TILES.CH has no fourth plane: the mask over it is never written.
        {"the mask over a landform shape", 0, false, 7, 1, 1, mask_bit, true, true, false},
        {"a character shape with only TILES.CH changed", 0, true, 9, 2, 2, other_colour, true,
         false, false},
        {"a landform shape with only NPC.CH changed", 0, false, 9, 2, 2, other_colour, false, true,
         false},
    };
    for (const edit& e : edits) {
        SCOPED_TRACE(e.what);
        bytes sheet = disk.extracted(e.extracted_with);
        std::uint8_t& pixel = ref::shape_pixel(sheet, e.npc, e.shape, e.x, e.y);
        pixel = e.change(pixel);
        const sheet_verdicts verdicts = compared(sheet, disk, e.compare_tiles, e.compare_npc);
        EXPECT_EQ(count(verdicts, shape_verdict::changed), e.changed ? 1 : 0);
        EXPECT_EQ(verdicts.verdict[shape_of(e.npc, e.shape)] == shape_verdict::changed, e.changed);

        // Written from the sheet: that shape's record alone differs from the disk's.
        bytes tiles = disk.tiles, npc = disk.npc;
        encode_changed_shapes(verdicts, ref::as_sheet(sheet), tiles, npc);
        const bytes& file = e.npc ? npc : tiles;
        const bytes& stored = e.npc ? disk.npc : disk.tiles;
        const std::size_t record = e.npc ? 512 : 384;
        for (std::size_t i = 0; i < file.size(); ++i) {
            if (file[i] != stored[i]) {
                ASSERT_TRUE(e.changed && i / record == static_cast<std::size_t>(e.shape)) << i;
            }
        }
        EXPECT_TRUE((e.npc ? tiles == disk.tiles : npc == disk.npc));
    }
}

// Without a mask the fourth plane of every character shape is clear in the
// sheet: the shapes that hold one on the disk are changed and lose it.
TEST(compare_sheet_with_disk, without_a_mask_shapes_with_a_fourth_plane_are_changed) {
    random_disk disk;
    // Shapes 0-9 without a fourth plane, the rest with one.
    for (int n = 0; n < 10; ++n) {
        std::fill_n(disk.npc.begin() + (n * 4 + 3) * 128, 128, 0);
    }
    bytes sheet = disk.extracted(0);
    for (int i = sheet_bytes / 2; i < sheet_bytes; ++i) {
        sheet[i] &= 7;
    }
    const sheet_verdicts verdicts = compared(sheet, disk);
    for (int n = 0; n < 256; ++n) {
        EXPECT_EQ(verdicts.verdict[shape_of(true, n)],
                  n < 10 ? shape_verdict::unchanged : shape_verdict::changed)
            << n;
    }
    EXPECT_EQ(changed_shapes_with_fourth_plane(verdicts, disk.npc), 246);
}

} // namespace
} // namespace kz

// The changers' reading of an edited sheet bitmap, as a whole: bitmap
// reader, size tests and nearest-colour conversion into the sheet, then the
// mask merge and the planar encoder. Whatever the bitmap, the sheet holds
// only colours the encoder can store, the encoded shapes decode back to the
// sheet, and the sheet compared with its own encoding changes no shape; the
// census of its colours, when taken, holds together.
#include "fuzz/fuzz_input.h"
#include "shapes/shapes.h"
#include "shapes/sheet_comparison.h"
#include "tools/chg_shapes/sheet_bitmap.h"

#include <array>
#include <cstring>

using namespace kz;
using namespace kz::fuzz;

namespace {

std::array<std::uint8_t, sheet_bytes> sheet;
std::array<std::uint8_t, sheet_bytes> mask;
std::array<std::uint8_t, sheet_bytes> decoded;
std::array<std::uint8_t, tiles_ch_size> tiles_ch;
std::array<std::uint8_t, npc_ch_size> npc_ch;
sheet_verdicts verdicts;

void check_census(const colour_census& census, const std::uint8_t* palette, int entries) {
    require(census.shown >= 0 && census.shown <= census_colours_shown,
            "at most four colours shown");
    require((census.stray_pixels == 0) == (census.shown == 0),
            "colours shown exactly when pixels stray");
    std::uint64_t shown = 0;
    for (int i = 0; i < census.shown; ++i) {
        const stray_colour& colour = census.most_frequent[static_cast<std::size_t>(i)];
        require(colour.pixels > 0 &&
                    (i == 0 || colour.pixels <= census.most_frequent[i - 1].pixels),
                "the most frequent colours first");
        require(colour.nearest < entries, "a stray colour becomes a palette entry");
        const std::uint8_t* entry = palette + colour.nearest * 4;
        require(colour.nearest_rgb ==
                    (std::uint32_t{entry[2]} << 16 | std::uint32_t{entry[1]} << 8 | entry[0]),
                "the colour it becomes is that entry's");
        shown += colour.pixels;
    }
    require(shown <= census.stray_pixels && census.stray_pixels <= sheet_bytes,
            "the colours shown are among the pixels counted");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_cursor input{std::span(data, size)};
    const std::uint8_t mode = input.take_byte();
    const bool as_mask = (mode & 0x01) != 0;
    std::vector<std::uint8_t> copy;
    stream in = open_memory_stream(input.bytes, &copy);
    if (!in) {
        return 0;
    }

    sheet.fill(0);
    mask.fill(0);
    std::span<std::uint8_t> target = as_mask ? std::span(mask) : std::span(sheet);
    int rows = 0;
    colour_census census;
    colour_census* counted = (mode & 0x02) != 0 ? &census : nullptr;
    const int result = as_mask ? load_sheet_stream(in.get(), "mask", &rows, 1, mask_palette.data(),
                                                   target, counted)
                               : load_sheet_stream(in.get(), "sheet", &rows, 4,
                                                   changer_palette.data(), target, counted);
    if (result != 0) {
        require(result == -1, "load_sheet_stream fails with -1");
        return 0;
    }
    require(rows >= static_cast<int>(min_sheet_height) / shape_size && rows <= sheet_rows,
            "a sheet has 16 to 32 shape rows");
    if (counted != nullptr) {
        check_census(census, as_mask ? mask_palette.data() : changer_palette.data(),
                     as_mask ? 2 : 16);
    }
    const int top = as_mask ? 1 : 7;
    for (const std::uint8_t pixel : target) {
        require(pixel <= top, "sheet pixels are 0-7, mask pixels 0-1");
    }

    merge_mask(sheet, mask);
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            require(encode_shape(0, row, column, tiles_ch, tiles_ch_planes, sheet) == 0,
                    "TILES.CH shapes encode");
            require(encode_shape(tiles_shape_rows, row, column, npc_ch, npc_ch_planes, sheet) == 0,
                    "NPC.CH shapes encode");
        }
    }
    decoded.fill(0);
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            require(decode_shape(decoded, 0, row, column, tiles_ch, tiles_ch_planes, 0) == 0,
                    "TILES.CH shapes decode");
            require(
                decode_shape(decoded, tiles_shape_rows, row, column, npc_ch, npc_ch_planes, 0) == 0,
                "NPC.CH shapes decode");
        }
    }
    // TILES.CH keeps three planes, NPC.CH all four.
    const std::size_t half = sheet_bytes / 2;
    for (std::size_t i = 0; i < half; ++i) {
        require(decoded[i] == (sheet[i] & 7), "TILES.CH shapes decode to the sheet");
    }
    require(std::memcmp(decoded.data() + half, sheet.data() + half, half) == 0,
            "NPC.CH shapes decode to the sheet");
    compare_sheet_with_disk(sheet, {tiles_ch, npc_ch}, true, true, decoded, &verdicts);
    for (const shape_verdict verdict : verdicts.verdict) {
        require(verdict == shape_verdict::unchanged, "a sheet is its own encoding, shape by shape");
    }
    return 0;
}

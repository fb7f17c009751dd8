// The changers' reading of an edited sheet bitmap, as a whole: bitmap
// reader, size tests and nearest-colour conversion into the sheet, then the
// mask merge and the planar encoder. Whatever the bitmap, the sheet holds
// only colours the encoder can store, and the encoded shapes decode back to
// the sheet.
#include "fuzz/fuzz_input.h"
#include "shapes/shapes.h"
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
    const int result = as_mask
                           ? load_sheet_stream(in.get(), "mask", &rows, 1, mask_palette.data(), target)
                           : load_sheet_stream(in.get(), "sheet", &rows, 4,
                                               changer_palette.data(), target);
    if (result != 0) {
        require(result == -1, "load_sheet_stream fails with -1");
        return 0;
    }
    require(rows >= static_cast<int>(min_sheet_height) / shape_size && rows <= sheet_rows,
            "a sheet has 16 to 32 shape rows");
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
            require(decode_shape(decoded, tiles_shape_rows, row, column, npc_ch, npc_ch_planes, 0) ==
                        0,
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
    return 0;
}

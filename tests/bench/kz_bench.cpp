// Microbenchmarks of the cores that the programs spend their time in, on the
// synthetic sample disk and tile files. The baseline copies the 512 KiB shape
// sheet ten times: decoding all 512 shapes should take less than that.
#include "bitmap/bitmap.h"
#include "disk/disk.h"
#include "shapes/shapes.h"
#include "shapes/tiles.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kz;

std::string sample_path(const char* name) {
    return std::string(KZ_SAMPLE_DIR) + "/" + name;
}

struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// The sample inputs and the sheets made from them, loaded once.
struct sample_data {
    bool ok = false;
    disk_image disk;
    std::vector<std::uint8_t> tiles_ch = std::vector<std::uint8_t>(tiles_ch_size);
    std::vector<std::uint8_t> npc_ch = std::vector<std::uint8_t>(npc_ch_size);
    std::vector<std::uint8_t> sheet = std::vector<std::uint8_t>(sheet_bytes);
    std::vector<std::uint8_t> mask_sheet = std::vector<std::uint8_t>(sheet_bytes);
    std::vector<std::uint8_t> tiles16 = std::vector<std::uint8_t>(tiles_buffer_size);
    std::vector<std::uint8_t> tiles4 = std::vector<std::uint8_t>(tiles_buffer_size);
};

bool read_prefix(const std::string& path, std::vector<std::uint8_t>* buffer, std::size_t size) {
    file_ptr stream(std::fopen(path.c_str(), "rb"));
    return stream && std::fread(buffer->data(), size, 1, stream.get()) == 1;
}

void decode_all_shapes(sheet_span sheet, const std::vector<std::uint8_t>& tiles_ch,
                       const std::vector<std::uint8_t>& npc_ch) {
    for (int row = 0; row < tiles_shape_rows; ++row) {
        for (int column = 0; column < sheet_columns; ++column) {
            decode_shape(sheet, 0, row, column, tiles_ch, tiles_ch_planes, 0);
            decode_shape(sheet, tiles_shape_rows, row, column, npc_ch, npc_ch_planes, 0);
        }
    }
}

sample_data load_sample() {
    sample_data data;
    if (load_disk_image(&data.disk, sample_path("KZ_Varnholm.fdi").c_str(), fdi_disk_offset) < 0 ||
        read_disk_file(&data.disk, "TILES.CH", data.tiles_ch, 1) < 0 ||
        read_disk_file(&data.disk, "NPC.CH", data.npc_ch, 1) < 0 ||
        !read_prefix(sample_path("TILES.16"), &data.tiles16, ega_tiles_size) ||
        !read_prefix(sample_path("TILES.4"), &data.tiles4, cga_tiles_size)) {
        return data;
    }
    decode_all_shapes(sheet_span(data.sheet.data(), sheet_bytes), data.tiles_ch, data.npc_ch);
    remake_water(sheet_span(data.sheet.data(), sheet_bytes));
    buffer_slot mask = borrowed_slot(data.mask_sheet.data(), data.mask_sheet.size());
    data.ok = convert_bitmap(sheet_width, sheet_height, 4, mask_source_palette.data(), data.sheet,
                             1, mask_palette.data(), &mask) == 0;
    return data;
}

const sample_data& sample() {
    static const sample_data data = load_sample();
    return data;
}

// Skips a benchmark whose input could not be loaded, rather than timing nothing.
bool have_sample(benchmark::State& state) {
    if (!sample().ok) {
        state.SkipWithError("sample data missing in " KZ_SAMPLE_DIR);
        return false;
    }
    return true;
}

// The whole shape sheet as a bitmap file in memory, at 4 or 1 bits.
std::vector<std::uint8_t> bitmap_file(int bit_count) {
    const bool shapes = bit_count == 4;
    bitmap_header header;
    make_bitmap_header(&header, sheet_width, sheet_height, static_cast<std::uint16_t>(bit_count));
    std::vector<std::uint8_t> file(header.file_size);
    file_ptr stream(fmemopen(file.data(), file.size(), "wb"));
    if (!stream ||
        write_bitmap(stream.get(), &header, shapes ? shape_palette.data() : mask_palette.data(),
                     shapes ? sample().sheet.data() : sample().mask_sheet.data()) < 0 ||
        std::fflush(stream.get()) != 0) {
        file.clear();
    }
    return file;
}

void copy_sheet_10_times(benchmark::State& state) {
    std::vector<std::uint8_t> from(sheet_bytes, 7);
    std::vector<std::uint8_t> to(sheet_bytes);
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) {
            from[0] = static_cast<std::uint8_t>(i);
            benchmark::ClobberMemory();
            std::memcpy(to.data(), from.data(), sheet_bytes);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(state.iterations() * 10 * std::int64_t{sheet_bytes});
}
BENCHMARK(copy_sheet_10_times);

void decode_512_shapes(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    std::vector<std::uint8_t> sheet(sheet_bytes);
    for (auto _ : state) {
        decode_all_shapes(sheet_span(sheet.data(), sheet_bytes), sample().tiles_ch,
                          sample().npc_ch);
        benchmark::DoNotOptimize(sheet.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(decode_512_shapes);

void encode_512_shapes(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    std::vector<std::uint8_t> tiles_ch(tiles_ch_size);
    std::vector<std::uint8_t> npc_ch(npc_ch_size);
    const const_sheet_span sheet(sample().sheet.data(), sheet_bytes);
    for (auto _ : state) {
        for (int row = 0; row < tiles_shape_rows; ++row) {
            for (int column = 0; column < sheet_columns; ++column) {
                encode_shape(0, row, column, tiles_ch, tiles_ch_planes, sheet);
                encode_shape(tiles_shape_rows, row, column, npc_ch, npc_ch_planes, sheet);
            }
        }
        benchmark::DoNotOptimize(tiles_ch.data());
        benchmark::DoNotOptimize(npc_ch.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(encode_512_shapes);

// The extractor's mask: the 4-bit sheet to 1 bit by nearest colour, into the
// caller's buffer as the program passes its mask sheet.
void convert_sheet_to_mask(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    std::vector<std::uint8_t> mask(sheet_bytes);
    for (auto _ : state) {
        buffer_slot slot = borrowed_slot(mask.data(), mask.size());
        const int result = convert_bitmap(sheet_width, sheet_height, 4, mask_source_palette.data(),
                                          sample().sheet, 1, mask_palette.data(), &slot);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(convert_sheet_to_mask);

// Writing the sheet (argument 4) or the mask (argument 1) to a memory stream.
void write_sheet_bitmap(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    const int bit_count = static_cast<int>(state.range(0));
    const std::uint8_t* pixels =
        bit_count == 4 ? sample().sheet.data() : sample().mask_sheet.data();
    const std::uint8_t* palette = bit_count == 4 ? shape_palette.data() : mask_palette.data();
    bitmap_header header;
    make_bitmap_header(&header, sheet_width, sheet_height, static_cast<std::uint16_t>(bit_count));
    std::vector<std::uint8_t> file(header.file_size + 1);
    file_ptr stream(fmemopen(file.data(), file.size(), "wb"));
    if (!stream) {
        state.SkipWithError("fmemopen failed");
        return;
    }
    for (auto _ : state) {
        std::rewind(stream.get());
        if (write_bitmap(stream.get(), &header, palette, pixels) < 0 ||
            std::fflush(stream.get()) != 0) {
            state.SkipWithError("write_bitmap failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{header.file_size});
}
BENCHMARK(write_sheet_bitmap)->Arg(4)->Arg(1);

// Reading the sheet (argument 4) or the mask (argument 1) back from a memory
// stream into an empty slot, as the changer does.
void read_sheet_bitmap(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    std::vector<std::uint8_t> file = bitmap_file(static_cast<int>(state.range(0)));
    file_ptr stream(file.empty() ? nullptr : fmemopen(file.data(), file.size(), "rb"));
    if (!stream) {
        state.SkipWithError("no bitmap in memory");
        return;
    }
    for (auto _ : state) {
        std::rewind(stream.get());
        bitmap_header header;
        buffer_slot palette;
        buffer_slot pixels;
        if (read_bitmap(stream.get(), &header, &palette, &pixels, 0) < 0) {
            state.SkipWithError("read_bitmap failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(read_sheet_bitmap)->Arg(4)->Arg(1);

// Both shape files along their cluster chains (NPC.CH is fragmented on the
// sample disk).
void read_shape_files(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    std::vector<std::uint8_t> tiles_ch(tiles_ch_size);
    std::vector<std::uint8_t> npc_ch(npc_ch_size);
    for (auto _ : state) {
        const int tiles = read_disk_file(&sample().disk, "TILES.CH", tiles_ch, 1);
        const int npc = read_disk_file(&sample().disk, "NPC.CH", npc_ch, 1);
        benchmark::DoNotOptimize(tiles + npc);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (tiles_ch_size + npc_ch_size));
}
BENCHMARK(read_shape_files);

// Loading the whole 1.2 MB image file and unpacking its FAT.
void load_sample_disk(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    const std::string path = sample_path("KZ_Varnholm.fdi");
    for (auto _ : state) {
        disk_image disk;
        if (load_disk_image(&disk, path.c_str(), fdi_disk_offset) < 0) {
            state.SkipWithError("load_disk_image failed");
            break;
        }
        benchmark::DoNotOptimize(content_bytes(disk.content).data());
    }
}
BENCHMARK(load_sample_disk);

// The converter's work between reading and writing: 512 tiles with the
// water remake, then the dungeon grass and mirror-room colours. Argument 2
// is EGA, 4 CGA (pixels per byte).
void decode_tile_sheet(benchmark::State& state) {
    if (!have_sample(state)) {
        return;
    }
    const int pixels_per_byte = static_cast<int>(state.range(0));
    const bool cga = pixels_per_byte == cga_pixels_per_byte;
    const tiles_span tiles((cga ? sample().tiles4 : sample().tiles16).data(), tiles_buffer_size);
    std::vector<std::uint8_t> tile_sheet_data(tile_sheet_bytes);
    const tile_sheet_span sheet(tile_sheet_data.data(), tile_sheet_bytes);
    for (auto _ : state) {
        for (int row = 0; row < tile_rows; ++row) {
            for (int column = 0; column < tile_columns; ++column) {
                decode_tile(sheet, tiles, row, column, pixels_per_byte, 1);
            }
        }
        recolor_dungeon_grass(sheet, cga ? 1 : 2, cga ? 2 : 4);
        recolor_tile_sheet(sheet, cga ? cga_mirror_room_map : ega_mirror_room_map);
        benchmark::DoNotOptimize(sheet.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(decode_tile_sheet)->Arg(ega_pixels_per_byte)->Arg(cga_pixels_per_byte);

} // namespace

BENCHMARK_MAIN();

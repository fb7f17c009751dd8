// make_sample: writes synthetic sample data for trying the shape tools
// without the game's own disks.
//
//   make_sample OUTPUT_DIR
//
// Into OUTPUT_DIR (made if missing) it writes:
//   KZ_Varnholm.fdi  a PC-98 image: a 4096-byte FDI header, then the disk
//   kz-varnholm.xdf  an X68000 image: the same disk without the header
//   TILES.16         a decoded EGA tile file (512 tiles, 4 bits per pixel)
//   TILES.4          a decoded CGA tile file (512 tiles, 2 bits per pixel)
//   KZ_Varnholm.hdm  the disk as PC-98 archive sets keep it (raw, as the XDF)
//   KZ_Varnholm.d88  the disk in D88, sectors interleaved
//   KZ_Varnholm.nfd  the disk in NFD (revision 0)
//   KZ_Varnholm.fdd  the disk in FDD, sectors of one repeated byte unstored
//   kz-varnholm.dim  the disk in DIM, as X68000 sets keep it
//
// The disk is a FAT12 file system of 1232 units of 1024 bytes holding a
// label, SAMPLE.TXT, TILES.CH, NPC.CH (deliberately fragmented) and a decoy
// file. Every shape and tile shows its number or a picture that makes the
// tools' adjustments visible. The program shares no code with the tools, so
// it is an independent writer of every format they read, and its output is
// the same bytes on every run.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace kz {
namespace {

// Disk geometry: 77 cylinders x 2 heads x 8 sectors of 1024 bytes.
constexpr int unit_size = 1024;
constexpr int unit_count = 1232;
constexpr int sectors_per_track = 8;
constexpr int head_count = 2;
constexpr int cylinder_count = unit_count / (sectors_per_track * head_count);
constexpr std::size_t disk_size = std::size_t{unit_size} * unit_count;
constexpr std::size_t fdi_header_size = 4096;

constexpr int fat_first_unit = 1;
constexpr int fat_units = 2;
constexpr int fat_copies = 2;
constexpr int root_first_unit = fat_first_unit + fat_units * fat_copies; // 5
constexpr int root_entry_count = 192;
constexpr int dir_entry_size = 32;
constexpr int root_units = root_entry_count * dir_entry_size / unit_size; // 6
constexpr int first_data_unit = root_first_unit + root_units;             // 11
constexpr int first_cluster = 2;
constexpr int last_cluster = first_cluster + (unit_count - first_data_unit) - 1; // 1222
constexpr std::uint8_t media_byte = 0xFE;
constexpr int end_of_chain = 0xFFF;

constexpr std::uint8_t attr_volume_label = 0x08;
constexpr std::uint8_t attr_archive = 0x20;
// Every entry carries 1993-04-01 12:00:00 so that runs give the same bytes.
constexpr std::uint16_t fixed_dos_date = ((1993 - 1980) << 9) | (4 << 5) | 1;
constexpr std::uint16_t fixed_dos_time = 12 << 11;

constexpr int shape_count = 256;
constexpr int shape_size = 32;
constexpr int plane_bytes = shape_size * shape_size / 8; // 128
constexpr int tiles_ch_planes = 3;
constexpr int npc_ch_planes = 4;
constexpr std::size_t tiles_ch_size =
    std::size_t{shape_count} * tiles_ch_planes * plane_bytes; // 98304
constexpr std::size_t npc_ch_size =
    std::size_t{shape_count} * npc_ch_planes * plane_bytes; // 131072

constexpr int tile_count = 512;
constexpr int tile_size = 16;
constexpr std::size_t ega_tiles_size = std::size_t{tile_count} * tile_size * tile_size / 2; // 65536
constexpr std::size_t cga_tiles_size = std::size_t{tile_count} * tile_size * tile_size / 4; // 32768

constexpr int water_shape = 3;
constexpr int first_shore_shape = 112;    // 112-127: where 96-111 become water
constexpr int first_triangle_shape = 208; // 208-211: the four half-square triangles
constexpr int first_inverted_shape = 228; // 228-231: water in the other half

bool is_dungeon_grass(int n) {
    return n == 5 || (n >= 30 && n <= 38) || (n >= 48 && n <= 55) || n == 76 ||
           (n >= 96 && n <= 111);
}

// --- pictures -------------------------------------------------------------

struct canvas {
    int size = 0;
    std::vector<std::uint8_t> pixels; // size x size colour indices, top line first
};

canvas make_canvas(int size) {
    const auto side = static_cast<std::size_t>(size);
    return canvas{size, std::vector<std::uint8_t>(side * side, 0)};
}

// Callers keep 0 <= x, y < size.
std::size_t pixel_index(const canvas& c, int x, int y) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(c.size) +
           static_cast<std::size_t>(x);
}

// Drawing may run over the edge; what falls outside is dropped.
void set_pixel(canvas& c, int x, int y, std::uint8_t colour) {
    if (x >= 0 && y >= 0 && x < c.size && y < c.size)
        c.pixels[pixel_index(c, x, y)] = colour;
}

std::uint8_t get_pixel(const canvas& c, int x, int y) {
    return c.pixels[pixel_index(c, x, y)];
}

void fill_rect(canvas& c, int x0, int y0, int width, int height, std::uint8_t colour) {
    for (int y = y0; y < y0 + height; ++y)
        for (int x = x0; x < x0 + width; ++x)
            set_pixel(c, x, y, colour);
}

// Colours for one target palette. The shape files use the 3-bit index of
// bit 0 blue, bit 1 red, bit 2 green; the EGA and CGA files their own.
struct colour_scheme {
    std::span<const std::uint8_t> backgrounds; // cycled by shape number
    std::span<const std::uint8_t> inks;        // a legible ink per background colour
    std::array<std::uint8_t, 3> water;         // deep, ripple, crest
    std::array<std::uint8_t, 2> grass;         // alternating blades
    std::uint8_t land;                         // drawn part of a reference picture
    std::uint8_t land_ink;
    std::array<std::uint8_t, 2> bricks; // brick, mortar
    std::uint8_t label_plate;
    std::uint8_t label_ink;
};

constexpr std::array<std::uint8_t, 7> shape_backgrounds{1, 2, 3, 4, 5, 6, 7};
constexpr std::array<std::uint8_t, 8> shape_inks{7, 7, 7, 7, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 15> ega_backgrounds{1, 2,  3,  4,  5,  6,  7, 8,
                                                       9, 10, 11, 12, 13, 14, 15};
constexpr std::array<std::uint8_t, 16> ega_inks{15, 15, 15, 15, 15, 15, 15, 0,
                                                15, 0,  0,  0,  0,  0,  0,  0};
constexpr std::array<std::uint8_t, 3> cga_backgrounds{1, 2, 3};
constexpr std::array<std::uint8_t, 4> cga_inks{3, 0, 3, 0};

// Grass is red and green in the shape files so that the dungeon exchange of
// those two planes shows; EGA grass uses colour 2 and CGA grass colour 1,
// the colours that the converter's dungeon step replaces.
const colour_scheme shape_scheme{
    shape_backgrounds, shape_inks, {1, 5, 7}, {4, 2}, 6, 2, {2, 6}, 0, 7};
const colour_scheme ega_scheme{ega_backgrounds, ega_inks, {1, 9, 15}, {2, 10}, 14, 4,
                               {4, 7},          0,        15};
const colour_scheme cga_scheme{cga_backgrounds, cga_inks, {1, 0, 3}, {1, 3}, 3, 2, {2, 3}, 0, 3};

// 3 x 5 digits, one row per byte, bit 2 the leftmost pixel.
constexpr std::array<std::array<std::uint8_t, 5>, 10> digit_font{{
    {7, 5, 5, 5, 7},
    {2, 6, 2, 2, 7},
    {7, 1, 7, 4, 7},
    {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7},
    {7, 1, 2, 2, 2},
    {7, 5, 7, 5, 7},
    {7, 5, 7, 1, 7},
}};
constexpr int digit_width = 3;
constexpr int digit_height = 5;

int number_width(int number, int scale) {
    const int digits = static_cast<int>(std::to_string(number).size());
    return (digits * (digit_width + 1) - 1) * scale;
}

int number_height(int scale) {
    return digit_height * scale;
}

void draw_number(canvas& c, int number, int x0, int y0, int scale, std::uint8_t ink) {
    int x = x0;
    for (char ch : std::to_string(number)) {
        const auto& glyph = digit_font[static_cast<std::size_t>(ch - '0')];
        for (int row = 0; row < digit_height; ++row)
            for (int col = 0; col < digit_width; ++col)
                if (glyph[static_cast<std::size_t>(row)] & (4 >> col))
                    fill_rect(c, x + col * scale, y0 + row * scale, scale, scale, ink);
        x += (digit_width + 1) * scale;
    }
}

// The number centred across the picture at line y0, on a plate one pixel
// wider all round when plate >= 0.
void draw_label(canvas& c, int number, int y0, int scale, int plate, std::uint8_t ink) {
    const int width = number_width(number, scale);
    const int x0 = (c.size - width) / 2;
    if (plate >= 0)
        fill_rect(c, x0 - 1, y0 - 1, width + 2, number_height(scale) + 2,
                  static_cast<std::uint8_t>(plate));
    draw_number(c, number, x0, y0, scale, ink);
}

int label_scale(const canvas& c) {
    return c.size >= 32 ? 2 : 1;
}

int centred_label_line(const canvas& c) {
    return (c.size - number_height(label_scale(c))) / 2;
}

// A background colour and a frame colour that differ from each other and
// between neighbouring numbers.
void draw_plain(canvas& c, int n, const colour_scheme& s) {
    const int count = static_cast<int>(s.backgrounds.size());
    const int bg_index = n % count;
    const int frame_index = (bg_index + 1 + (n / count) % (count - 1)) % count;
    const std::uint8_t bg = s.backgrounds[static_cast<std::size_t>(bg_index)];
    fill_rect(c, 0, 0, c.size, c.size, s.backgrounds[static_cast<std::size_t>(frame_index)]);
    fill_rect(c, 1, 1, c.size - 2, c.size - 2, bg);
    draw_label(c, n, centred_label_line(c), label_scale(c), -1, s.inks[bg]);
}

// Waves one line apart in height, repeating every 16 pixels across.
constexpr std::array<int, 16> wave_offsets{0, 1, 1, 2, 2, 2, 1, 1, 0, -1, -1, -2, -2, -2, -1, -1};

void draw_water(canvas& c, const colour_scheme& s) {
    for (int y = 0; y < c.size; ++y)
        for (int x = 0; x < c.size; ++x) {
            const int shifted = x + 3 * (y / 8);
            const int phase = (y + wave_offsets[static_cast<std::size_t>(shifted % 16)] + 16) % 8;
            const std::uint8_t colour = phase == 0                   ? s.water[2]
                                        : (phase == 1 || phase == 7) ? s.water[1]
                                                                     : s.water[0];
            set_pixel(c, x, y, colour);
        }
}

// Blades of varying height along the bottom, leaning left or right, below
// the number.
void draw_grass(canvas& c, int n, const colour_scheme& s) {
    fill_rect(c, 0, 0, c.size, c.size, 0);
    const int quarter = c.size / 4;
    for (int i = 0, x = n % 3; x < c.size; ++i, x += 3) {
        const int height = quarter + (i * 5 + n * 3) % (quarter + 1);
        const int lean = (i + n) % 2 == 0 ? 1 : -1;
        const std::uint8_t colour = s.grass[static_cast<std::size_t>((i + n) % 2)];
        for (int step = 0; step < height; ++step)
            set_pixel(c, x + lean * (step / 4), c.size - 1 - step, colour);
    }
    draw_label(c, n, c.size / 16, label_scale(c), 0, s.label_ink);
}

// Reference pictures for the water remake: a shore along the edges chosen
// by the four bits of k and an island in the middle carrying the number.
// Everything drawn is non-zero, everything else 0.
void draw_shore(canvas& c, int n, const colour_scheme& s) {
    const int k = n - first_shore_shape;
    const int band = c.size / 5;
    const int scale_step = c.size / 16;
    fill_rect(c, 0, 0, c.size, c.size, 0);
    for (int y = 0; y < c.size; ++y)
        for (int x = 0; x < c.size; ++x) {
            const int ripple_x = wave_offsets[static_cast<std::size_t>((x / scale_step) % 16)] / 2;
            const int ripple_y = wave_offsets[static_cast<std::size_t>((y / scale_step) % 16)] / 2;
            const bool top = (k & 1) && y < band + ripple_x;
            const bool right = (k & 2) && x >= c.size - band + ripple_y;
            const bool bottom = (k & 4) && y >= c.size - band + ripple_x;
            const bool left = (k & 8) && x < band + ripple_y;
            // Island: an ellipse of semi-axes 0.4 and 0.3 of the size, in
            // doubled coordinates so that the centre falls between pixels.
            const std::int64_t dx = 2 * x + 1 - c.size;
            const std::int64_t dy = 2 * y + 1 - c.size;
            const std::int64_t rx = 4 * c.size / 5;
            const std::int64_t ry = 3 * c.size / 5;
            const bool island = dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry;
            if (top || right || bottom || left || island)
                set_pixel(c, x, y, s.land);
        }
    draw_label(c, n, centred_label_line(c), label_scale(c), s.land, s.land_ink);
}

// Triangle k of the square: 0 upper left, 1 upper right, 2 lower right,
// 3 lower left, each with its diagonal.
bool in_triangle(int k, int x, int y, int size) {
    switch (k) {
    case 0:
        return x + y <= size - 1;
    case 1:
        return x >= y;
    case 2:
        return x + y >= size - 1;
    default:
        return x <= y;
    }
}

// The number sits in the triangle's corner, wholly inside the drawn half.
void draw_triangle(canvas& c, int n, const colour_scheme& s) {
    const int k = n - first_triangle_shape;
    for (int y = 0; y < c.size; ++y)
        for (int x = 0; x < c.size; ++x)
            set_pixel(c, x, y, in_triangle(k, x, y, c.size) ? s.land : 0);
    const int scale = label_scale(c);
    const int width = number_width(n, scale);
    const int height = number_height(scale);
    const int x0 = (k == 1 || k == 2) ? c.size - width : 0;
    const int y0 = (k == 2 || k == 3) ? c.size - height : 0;
    draw_number(c, n, x0, y0, scale, s.land_ink);
}

// A brick wall: half of it turns to water in the remade picture, which
// shows at a glance which half the tools chose.
void draw_bricks(canvas& c, int n, const colour_scheme& s) {
    const int course = c.size / 8;
    const int brick = c.size / 4;
    for (int y = 0; y < c.size; ++y)
        for (int x = 0; x < c.size; ++x) {
            const int shift = (y / course) % 2 == 0 ? 0 : brick / 2;
            const bool mortar = y % course == course - 1 || (x + shift) % brick == brick - 1;
            set_pixel(c, x, y, mortar ? s.bricks[1] : s.bricks[0]);
        }
    draw_label(c, n, centred_label_line(c), label_scale(c), s.label_plate, s.label_ink);
}

// The landform picture for number n: a TILES.CH shape or an EGA/CGA tile.
void draw_landform(canvas& c, int n, const colour_scheme& s) {
    if (n == water_shape)
        draw_water(c, s);
    else if (n >= first_shore_shape && n < first_shore_shape + 16)
        draw_shore(c, n, s);
    else if (n >= first_triangle_shape && n < first_triangle_shape + 4)
        draw_triangle(c, n, s);
    else if (n >= first_inverted_shape && n < first_inverted_shape + 4)
        draw_bricks(c, n, s);
    else if (n < shape_count && is_dungeon_grass(n))
        draw_grass(c, n, s);
    else
        draw_plain(c, n, s);
}

// A small figure for NPC.CH. Bit 3 (the fourth plane) is set on the whole
// figure and on a black outline round it, so the mask shows the silhouette;
// the number in the corner is left out of the mask.
void draw_figure(canvas& c, int n) {
    constexpr std::uint8_t mask_bit = 8;
    constexpr std::uint8_t skin = 6;
    const auto colour = [](int v) { return static_cast<std::uint8_t>(1 + v % 7); };
    const std::uint8_t tunic = colour(n);
    const std::uint8_t legs = colour(n / 7 + 3);
    const std::uint8_t hat = colour(n / 49 + 5);
    const int girth = n % 3;
    const bool arms_up = (n & 4) != 0;
    const bool has_hat = (n & 8) != 0;
    const int facing = (n & 1) ? 1 : -1;

    canvas body = make_canvas(c.size);
    for (int y = 4; y <= 12; ++y) // head, a disc of radius 4 round (16, 8)
        for (int x = 12; x <= 20; ++x)
            if ((x - 16) * (x - 16) + (y - 8) * (y - 8) <= 17)
                set_pixel(body, x, y, skin);
    if (has_hat)
        fill_rect(body, 11, 3, 11, 3, hat);
    fill_rect(body, 15, 13, 3, 1, skin);                      // neck
    fill_rect(body, 12 - girth, 14, 9 + 2 * girth, 9, tunic); // tunic
    const int arm_top = arms_up ? 8 : 15;
    fill_rect(body, 10 - girth, arm_top, 2, 8, tunic);
    fill_rect(body, 21 + girth, arm_top, 2, 8, tunic);
    fill_rect(body, 13, 23, 3, 7, legs);
    fill_rect(body, 17, 23, 3, 7, legs);
    fill_rect(body, facing < 0 ? 11 : 13, 30, 5, 1, legs); // feet point the way it faces
    fill_rect(body, facing < 0 ? 15 : 17, 30, 5, 1, legs);

    const auto in_body = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < body.size && y < body.size && get_pixel(body, x, y) != 0;
    };
    for (int y = 0; y < c.size; ++y)
        for (int x = 0; x < c.size; ++x) {
            if (in_body(x, y))
                set_pixel(c, x, y, static_cast<std::uint8_t>(get_pixel(body, x, y) | mask_bit));
            else if (in_body(x - 1, y) || in_body(x + 1, y) || in_body(x, y - 1) ||
                     in_body(x, y + 1))
                set_pixel(c, x, y, mask_bit);
            else
                set_pixel(c, x, y, 0);
        }
    // Black eyes inside the silhouette, looking the way the figure faces.
    set_pixel(c, 15 + facing, 8, mask_bit);
    set_pixel(c, 18 + facing, 8, mask_bit);
    draw_number(c, n, 0, 0, 1, 7);
}

// --- packing --------------------------------------------------------------

// Planar shape: plane p holds bit p of every pixel, plane 0 first; each
// plane 32 lines of 4 bytes, leftmost pixel in bit 7.
void pack_planar(const canvas& c, int planes, std::span<std::uint8_t> out) {
    std::size_t at = 0;
    for (int p = 0; p < planes; ++p)
        for (int y = 0; y < c.size; ++y)
            for (int x0 = 0; x0 < c.size; x0 += 8) {
                std::uint8_t byte = 0;
                for (int i = 0; i < 8; ++i)
                    if ((get_pixel(c, x0 + i, y) >> p) & 1)
                        byte = static_cast<std::uint8_t>(byte | (0x80 >> i));
                out[at++] = byte;
            }
}

// Packed tile: rows top to bottom, the leftmost pixel in the high bits.
void pack_chunky(const canvas& c, int bits_per_pixel, std::span<std::uint8_t> out) {
    const int per_byte = 8 / bits_per_pixel;
    const int field = (1 << bits_per_pixel) - 1;
    std::size_t at = 0;
    for (int y = 0; y < c.size; ++y)
        for (int x0 = 0; x0 < c.size; x0 += per_byte) {
            int byte = 0;
            for (int i = 0; i < per_byte; ++i)
                byte = (byte << bits_per_pixel) | (get_pixel(c, x0 + i, y) & field);
            out[at++] = static_cast<std::uint8_t>(byte);
        }
}

std::vector<std::uint8_t> make_tiles_ch() {
    std::vector<std::uint8_t> data(tiles_ch_size, 0);
    constexpr std::size_t record = std::size_t{tiles_ch_planes} * plane_bytes;
    for (int n = 0; n < shape_count; ++n) {
        canvas c = make_canvas(shape_size);
        draw_landform(c, n, shape_scheme);
        pack_planar(c, tiles_ch_planes,
                    std::span(data).subspan(static_cast<std::size_t>(n) * record, record));
    }
    return data;
}

std::vector<std::uint8_t> make_npc_ch() {
    std::vector<std::uint8_t> data(npc_ch_size, 0);
    constexpr std::size_t record = std::size_t{npc_ch_planes} * plane_bytes;
    for (int n = 0; n < shape_count; ++n) {
        canvas c = make_canvas(shape_size);
        draw_figure(c, n);
        pack_planar(c, npc_ch_planes,
                    std::span(data).subspan(static_cast<std::size_t>(n) * record, record));
    }
    return data;
}

std::vector<std::uint8_t> make_tile_file(int bits_per_pixel, const colour_scheme& s) {
    const std::size_t tile_bytes =
        std::size_t{tile_size} * tile_size * static_cast<std::size_t>(bits_per_pixel) / 8;
    std::vector<std::uint8_t> data(tile_bytes * tile_count, 0);
    for (int n = 0; n < tile_count; ++n) {
        canvas c = make_canvas(tile_size);
        draw_landform(c, n, s);
        pack_chunky(c, bits_per_pixel,
                    std::span(data).subspan(static_cast<std::size_t>(n) * tile_bytes, tile_bytes));
    }
    return data;
}

// --- FAT12 disk -----------------------------------------------------------

void put_le16(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void put_le32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    put_le16(out, at, value & 0xFFFF);
    put_le16(out, at + 2, value >> 16);
}

std::span<std::uint8_t> unit(std::vector<std::uint8_t>& disk, int first, int count = 1) {
    return std::span(disk).subspan(static_cast<std::size_t>(first) * unit_size,
                                   static_cast<std::size_t>(count) * unit_size);
}

constexpr std::string_view volume_label = "VARNHOLM   ";

void write_boot_sector(std::vector<std::uint8_t>& disk) {
    auto boot = unit(disk, 0);
    constexpr std::array<std::uint8_t, 3> jump{0xEB, 0x3C, 0x90}; // over the parameter block
    std::copy(jump.begin(), jump.end(), boot.begin());
    std::memcpy(&boot[3], "KZSAMPLE", 8);
    put_le16(boot, 0x0B, unit_size);
    boot[0x0D] = 1;                       // sectors per cluster
    put_le16(boot, 0x0E, fat_first_unit); // reserved sectors
    boot[0x10] = fat_copies;
    put_le16(boot, 0x11, root_entry_count);
    put_le16(boot, 0x13, unit_count);
    boot[0x15] = media_byte;
    put_le16(boot, 0x16, fat_units);
    put_le16(boot, 0x18, sectors_per_track);
    put_le16(boot, 0x1A, head_count);
    put_le32(boot, 0x1C, 0);          // hidden sectors
    put_le32(boot, 0x20, 0);          // the 16-bit total is enough
    boot[0x24] = 0;                   // drive number
    boot[0x26] = 0x29;                // extended parameter block follows
    put_le32(boot, 0x27, 0x19930401); // fixed serial number
    std::memcpy(&boot[0x2B], volume_label.data(), volume_label.size());
    std::memcpy(&boot[0x36], "FAT12   ", 8);
    boot[0x3E] = 0xEB; // boot code: wait for ever, this disk boots nothing
    boot[0x3F] = 0xFE;
    boot[510] = 0x55;
    boot[511] = 0xAA;
}

// Two 12-bit entries share three bytes: the even one takes the first byte
// and the low half of the second, the odd one the rest.
void set_fat_entry(std::span<std::uint8_t> fat, int cluster, int value) {
    const std::size_t at = static_cast<std::size_t>(cluster) * 3 / 2;
    if (cluster % 2 == 0) {
        fat[at] = static_cast<std::uint8_t>(value & 0xFF);
        fat[at + 1] = static_cast<std::uint8_t>((fat[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
    } else {
        fat[at] = static_cast<std::uint8_t>((fat[at] & 0x0F) | ((value & 0x0F) << 4));
        fat[at + 1] = static_cast<std::uint8_t>((value >> 4) & 0xFF);
    }
}

struct disk_file {
    std::string_view dir_name; // 8.3 in directory form, 11 characters
    std::vector<std::uint8_t> data;
    std::vector<int> clusters; // in chain order
};

std::vector<int> cluster_runs(std::initializer_list<std::pair<int, int>> runs) {
    std::vector<int> clusters;
    for (const auto& [first, count] : runs)
        for (int i = 0; i < count; ++i)
            clusters.push_back(first + i);
    return clusters;
}

void write_dir_entry(std::span<std::uint8_t> entry, std::string_view dir_name,
                     std::uint8_t attributes, int first, std::uint32_t size) {
    std::memcpy(entry.data(), dir_name.data(), dir_name.size());
    entry[11] = attributes;
    put_le16(entry, 14, fixed_dos_time); // created
    put_le16(entry, 16, fixed_dos_date);
    put_le16(entry, 18, fixed_dos_date); // last access
    put_le16(entry, 22, fixed_dos_time); // written
    put_le16(entry, 24, fixed_dos_date);
    put_le16(entry, 26, static_cast<std::uint32_t>(first));
    put_le32(entry, 28, size);
}

// Copies each file's data into its clusters, chains them in the FAT and
// writes its directory entry. The layout is fixed, so a mismatch between a
// file and its clusters is a mistake in this program: it is reported, not
// written past.
int store_files(std::vector<std::uint8_t>& disk, std::span<const disk_file> files) {
    auto fat = unit(disk, fat_first_unit, fat_units);
    auto root = unit(disk, root_first_unit, root_units);
    set_fat_entry(fat, 0, 0xF00 | media_byte);
    set_fat_entry(fat, 1, end_of_chain);
    write_dir_entry(root.subspan(0, dir_entry_size), volume_label, attr_volume_label, 0, 0);

    std::vector<bool> used(last_cluster + 1, false);
    int entry = 1;
    for (const disk_file& file : files) {
        const std::size_t needed = (file.data.size() + unit_size - 1) / unit_size;
        if (file.dir_name.size() != 11 || file.clusters.size() != needed ||
            entry >= root_entry_count) {
            std::printf("internal error: bad layout for '%.*s'\n",
                        static_cast<int>(file.dir_name.size()), file.dir_name.data());
            return -1;
        }
        for (std::size_t i = 0; i < file.clusters.size(); ++i) {
            const int cluster = file.clusters[i];
            if (cluster < first_cluster || cluster > last_cluster ||
                used[static_cast<std::size_t>(cluster)]) {
                std::printf("internal error: bad cluster %d\n", cluster);
                return -1;
            }
            used[static_cast<std::size_t>(cluster)] = true;
            const std::size_t offset = i * unit_size;
            const std::size_t length = std::min<std::size_t>(unit_size, file.data.size() - offset);
            auto target = unit(disk, cluster + first_data_unit - first_cluster);
            std::copy_n(file.data.begin() + static_cast<std::ptrdiff_t>(offset), length,
                        target.begin());
            const bool last = i + 1 == file.clusters.size();
            set_fat_entry(fat, cluster, last ? end_of_chain : file.clusters[i + 1]);
        }
        const int first = file.clusters.empty() ? 0 : file.clusters.front();
        write_dir_entry(
            root.subspan(static_cast<std::size_t>(entry) * dir_entry_size, dir_entry_size),
            file.dir_name, attr_archive, first, static_cast<std::uint32_t>(file.data.size()));
        ++entry;
    }
    auto fat_copy = unit(disk, fat_first_unit + fat_units, fat_units);
    std::copy(fat.begin(), fat.end(), fat_copy.begin());
    return 0;
}

std::vector<std::uint8_t> text_bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> repeated_text(std::string_view line, std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(line[i % line.size()]);
    return data;
}

// Cluster layout. NPC.CH is in three pieces: the first jumps over the decoy
// file and two free clusters, the second jumps back over TILES.CH to the
// start of the disk. A reader that does not follow the chain picks up the
// decoy's text or TILES.CH.
//   2        SAMPLE.TXT
//   3-34     NPC.CH, last piece
//   35-130   TILES.CH
//   131-178  NPC.CH, first piece
//   179-180  NPC.OLD (decoy)
//   181-182  free
//   183-230  NPC.CH, middle piece
int build_disk(std::vector<std::uint8_t>& disk) {
    disk.assign(disk_size, 0);
    write_boot_sector(disk);
    const std::array<disk_file, 4> files{{
        {"SAMPLE  TXT",
         text_bytes("synthetic sample disk, not game data\r\n"
                    "TILES.CH and NPC.CH hold numbered test shapes.\r\n"),
         {2}},
        {"TILES   CH ", make_tiles_ch(), cluster_runs({{35, 96}})},
        {"NPC     CH ", make_npc_ch(), cluster_runs({{131, 48}, {183, 48}, {3, 32}})},
        {"NPC     OLD", repeated_text("decoy: these bytes are not part of NPC.CH\r\n", 1500),
         cluster_runs({{179, 2}})},
    }};
    return store_files(disk, files);
}

// --- containers -----------------------------------------------------------
//
// The same disk in the wrappings that emulators and archive sets use. Each
// is written from its published layout, so that the tools' readers are
// tried against files they did not make; floptool reads them all.

using byte_vector = std::vector<std::uint8_t>;

constexpr int track_count = cylinder_count * head_count; // 154
constexpr std::size_t track_size = std::size_t{sectors_per_track} * unit_size;
constexpr std::uint8_t size_code_1024 = 3; // N: 128 << 3 bytes

std::span<const std::uint8_t> sector_of(const byte_vector& disk, int track, int record) {
    return std::span(disk).subspan(
        (static_cast<std::size_t>(track) * sectors_per_track + static_cast<std::size_t>(record) - 1) *
            unit_size,
        unit_size);
}

// A real drive reads a track's sectors in the order they pass the head; an
// interleaved track stores them out of order, as many D88 files do.
constexpr std::array<int, sectors_per_track> interleave{1, 4, 7, 2, 5, 8, 3, 6};

// FDI: eight 32-bit fields (reserved, media type 0x90 for 1.2 MB 2HD, header
// size, data size, sector size, sectors per track, heads, cylinders), padded
// with zeros to 4096 bytes.
byte_vector make_fdi_header() {
    byte_vector header(fdi_header_size, 0);
    put_le32(header, 0x04, 0x90);
    put_le32(header, 0x08, static_cast<std::uint32_t>(fdi_header_size));
    put_le32(header, 0x0C, static_cast<std::uint32_t>(disk_size));
    put_le32(header, 0x10, unit_size);
    put_le32(header, 0x14, sectors_per_track);
    put_le32(header, 0x18, head_count);
    put_le32(header, 0x1C, cylinder_count);
    return header;
}

// D88: a 0x2B0-byte header (name, write protect, media 0x20 for 2HD, disk
// size, 164 track offsets), then each track's sectors, each a 16-byte
// sector header (C, H, R, N, sector count, density, deleted mark, status,
// data length) and its data.
byte_vector make_d88(const byte_vector& disk) {
    constexpr std::size_t header_size = 0x2B0;
    byte_vector image(header_size, 0);
    std::memcpy(image.data(), "VARNHOLM SAMPLE", 15);
    image[0x1B] = 0x20;
    for (int track = 0; track < track_count; ++track) {
        put_le32(image, 0x20 + 4 * static_cast<std::size_t>(track),
                 static_cast<std::uint32_t>(image.size()));
        for (int record : interleave) {
            std::array<std::uint8_t, 16> sector{};
            sector[0] = static_cast<std::uint8_t>(track / head_count);
            sector[1] = static_cast<std::uint8_t>(track % head_count);
            sector[2] = static_cast<std::uint8_t>(record);
            sector[3] = size_code_1024;
            put_le16(sector, 4, sectors_per_track);
            put_le16(sector, 14, unit_size);
            image.insert(image.end(), sector.begin(), sector.end());
            const auto data = sector_of(disk, track, record);
            image.insert(image.end(), data.begin(), data.end());
        }
    }
    put_le32(image, 0x1C, static_cast<std::uint32_t>(image.size()));
    return image;
}

// NFD revision 0: the mark "T98FDDIMAGE.R0", a comment, the header size,
// the number of heads, and 163 tracks x 26 sector IDs (C, H, R, N, MFM flag,
// deleted mark, status, ST0-ST2, PDA 0x90 for 2HD; C 0xFF: unused), then
// the sectors' data in the table's order.
byte_vector make_nfd(const byte_vector& disk) {
    constexpr int table_tracks = 163;
    constexpr int table_entries = 26;
    constexpr std::size_t header_size = 0x120 + std::size_t{table_tracks} * table_entries * 16;
    byte_vector image(header_size, 0);
    std::memcpy(image.data(), "T98FDDIMAGE.R0", 14);
    std::memcpy(image.data() + 0x10, "Varnholm sample disk", 20);
    put_le32(image, 0x110, static_cast<std::uint32_t>(header_size));
    image[0x115] = head_count;
    for (int track = 0; track < table_tracks; ++track) {
        for (int entry = 0; entry < table_entries; ++entry) {
            const std::size_t at = 0x120 + (std::size_t{static_cast<unsigned>(track)} * table_entries +
                                            static_cast<unsigned>(entry)) *
                                               16;
            if (track >= track_count || entry >= sectors_per_track) {
                image[at] = 0xFF;
                continue;
            }
            const int record = interleave[static_cast<std::size_t>(entry)];
            image[at] = static_cast<std::uint8_t>(track / head_count);
            image[at + 1] = static_cast<std::uint8_t>(track % head_count);
            image[at + 2] = static_cast<std::uint8_t>(record);
            image[at + 3] = size_code_1024;
            image[at + 4] = 1;    // MFM
            image[at + 10] = 0x90; // 2HD
            const auto data = sector_of(disk, track, record);
            image.insert(image.end(), data.begin(), data.end());
        }
    }
    return image;
}

// FDD (Virtual98): the mark "VFD1.00", a comment, and 160 tracks x 26
// entries of 12 bytes (C, H, R, N, fill byte, deleted mark, MFM flag, HD
// flag, data offset; C 0xFF: unused). A sector of one repeated byte is not
// stored: its offset is 0xFFFFFFFF and its fill byte says what it holds.
byte_vector make_fdd(const byte_vector& disk) {
    constexpr int table_tracks = 160;
    constexpr int table_entries = 26;
    constexpr std::size_t header_size = 0xC3FC;
    byte_vector image(header_size, 0);
    std::memcpy(image.data(), "VFD1.00", 7);
    std::memcpy(image.data() + 0x08, "Varnholm sample disk", 20);
    for (int track = 0; track < table_tracks; ++track) {
        for (int entry = 0; entry < table_entries; ++entry) {
            const std::size_t at = 0xDC + (std::size_t{static_cast<unsigned>(track)} * table_entries +
                                           static_cast<unsigned>(entry)) *
                                              12;
            if (track >= track_count || entry >= sectors_per_track) {
                image[at] = 0xFF;
                continue;
            }
            const int record = entry + 1;
            const auto data = sector_of(disk, track, record);
            const bool uniform = std::all_of(data.begin(), data.end(),
                                             [&](std::uint8_t b) { return b == data[0]; });
            image[at] = static_cast<std::uint8_t>(track / head_count);
            image[at + 1] = static_cast<std::uint8_t>(track % head_count);
            image[at + 2] = static_cast<std::uint8_t>(record);
            image[at + 3] = size_code_1024;
            image[at + 4] = data[0];
            image[at + 6] = 1; // MFM
            image[at + 7] = 1; // HD
            if (uniform) {
                put_le32(image, at + 8, 0xFFFFFFFF);
            } else {
                put_le32(image, at + 8, static_cast<std::uint32_t>(image.size()));
                image.insert(image.end(), data.begin(), data.end());
            }
        }
    }
    return image;
}

// DIM (X68000): type 0 for 2HD, a present flag per track, the mark
// "DIFC HEADER  ", then every track's 8 sectors in order.
byte_vector make_dim(const byte_vector& disk) {
    byte_vector image(256, 0);
    for (int track = 0; track < track_count; ++track) {
        image[1 + static_cast<std::size_t>(track)] = 1;
    }
    std::memcpy(image.data() + 0xAB, "DIFC HEADER  ", 13);
    image.insert(image.end(), disk.begin(), disk.begin() + static_cast<std::ptrdiff_t>(track_count * track_size));
    return image;
}

// --- output ---------------------------------------------------------------

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Writes the parts one after another; a short write or a failed close
// removes the half-written file and counts as failure.
int write_file(const std::filesystem::path& path,
               std::initializer_list<std::span<const std::uint8_t>> parts) {
    const std::string name = path.string();
    file_ptr file(std::fopen(name.c_str(), "wb"));
    if (!file) {
        std::printf("can't open '%s'\n", name.c_str());
        return -1;
    }
    bool ok = true;
    for (const auto& part : parts)
        if (ok && std::fwrite(part.data(), 1, part.size(), file.get()) != part.size())
            ok = false;
    if (std::fclose(file.release()) != 0)
        ok = false;
    if (!ok) {
        std::printf("write error '%s'\n", name.c_str());
        std::remove(name.c_str());
        return -1;
    }
    std::printf("wrote %s\n", name.c_str());
    return 0;
}

int run(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT_DIR\n", stdout);
        return 1;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir, error)) {
        std::printf("can't create directory '%s'\n", argv[1]);
        return 1;
    }

    std::vector<std::uint8_t> disk;
    if (build_disk(disk) < 0)
        return 1;
    const std::vector<std::uint8_t> header = make_fdi_header();
    const byte_vector d88 = make_d88(disk);
    const byte_vector nfd = make_nfd(disk);
    const byte_vector fdd = make_fdd(disk);
    const byte_vector dim = make_dim(disk);
    const std::vector<std::uint8_t> ega = make_tile_file(4, ega_scheme);
    const std::vector<std::uint8_t> cga = make_tile_file(2, cga_scheme);
    if (ega.size() != ega_tiles_size || cga.size() != cga_tiles_size) {
        std::fputs("internal error: tile file size\n", stdout);
        return 1;
    }

    if (write_file(dir / "KZ_Varnholm.fdi", {header, disk}) < 0 ||
        write_file(dir / "kz-varnholm.xdf", {disk}) < 0 ||
        write_file(dir / "TILES.16", {ega}) < 0 || write_file(dir / "TILES.4", {cga}) < 0 ||
        write_file(dir / "KZ_Varnholm.hdm", {disk}) < 0 ||
        write_file(dir / "KZ_Varnholm.d88", {d88}) < 0 ||
        write_file(dir / "KZ_Varnholm.nfd", {nfd}) < 0 ||
        write_file(dir / "KZ_Varnholm.fdd", {fdd}) < 0 ||
        write_file(dir / "kz-varnholm.dim", {dim}) < 0)
        return 1;
    return 0;
}

} // namespace
} // namespace kz

int main(int argc, char** argv) {
    try {
        const int status = kz::run(argc, argv);
        if (std::fflush(stdout) != 0)
            return 1;
        return status;
    } catch (const std::bad_alloc&) {
        std::fputs("memory exhaust!\n", stdout);
        return 1;
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
}

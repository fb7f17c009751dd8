// Drawing the sample's shapes and tiles, and packing them as the game's
// files hold them.
#include "drawing.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kz::sample {
namespace {

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

// A shape file: each of its 256 shapes drawn by draw(canvas, number) and
// packed in the given number of planes, one shape after another.
template <typename Draw>
std::vector<std::uint8_t> make_shape_file(int planes, Draw draw) {
    const std::size_t record = static_cast<std::size_t>(planes) * plane_bytes;
    std::vector<std::uint8_t> data(record * shape_count, 0);
    for (int n = 0; n < shape_count; ++n) {
        canvas c = make_canvas(shape_size);
        draw(c, n);
        const std::size_t at = static_cast<std::size_t>(n) * record;
        pack_planar(c, planes, std::span(data).subspan(at, record));
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

} // namespace

std::vector<std::uint8_t> make_tiles_ch() {
    return make_shape_file(tiles_ch_planes,
                           [](canvas& c, int n) { draw_landform(c, n, shape_scheme); });
}

std::vector<std::uint8_t> make_npc_ch() {
    return make_shape_file(npc_ch_planes, draw_figure);
}

std::vector<std::uint8_t> make_ega_tiles() {
    return make_tile_file(4, ega_scheme);
}

std::vector<std::uint8_t> make_cga_tiles() {
    return make_tile_file(2, cga_scheme);
}

} // namespace kz::sample

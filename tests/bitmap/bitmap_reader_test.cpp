#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <climits>

#include "bitmap_test_support.h"

namespace kz::test {
namespace {

bytes contents(const buffer_slot& slot) {
    return bytes(slot.data, slot.data + slot.size);
}

// Mutations of a good 512 x 1024 4-bit header, the result of the check and
// everything it prints, in order.
TEST(check_bitmap_header, reports_each_fault_in_its_own_words) {
    using H = bitmap_header;
    const auto sized = [](std::uint32_t width, std::int32_t height, int bits, bool zero = false) {
        return [=](H& h) {
            make_bitmap_header(&h, width, height, std::uint16_t(bits));
            h.image_size = zero ? 0 : h.image_size;
        };
    };
    const auto range = [](const std::string& size) {
        return "error: " + check + "bitmap size " + size + " out of range\n";
    };
    const std::string error = "error: " + check;
    // clang-format off
    const std::tuple<const char*, std::function<void(H&)>, int, std::string> cases[] = {
        {"good", [](H&) {}, 0, ""},
        {"v4_header", [](H& h) { h.header_size = 108; }, -1,
         error + "not supported header type - support only Windows V3\n"},
        {"two_planes", [](H& h) { h.planes = 2; }, -1, ""},
        {"bitfields", [](H& h) { h.compression = 3; }, -1, error + "not support compression\n"},
        {"two_bits", [](H& h) { h.bit_count = 2; }, -1, error + "unknown bit count\n"},
        {"8_bits_16_entries", [&](H& h) { sized(512, 1024, 8)(h), h.data_offset = 118; }, -1,
         error + "offset size 0x76 != 0x436\n"},
        {"zero_data_length", [](H& h) { h.image_size = 0; }, 1, zero_corrected + "0x40000\n"},
        {"wrong_data_length", [](H& h) { h.image_size = 0xFFFFFFFF; }, -1,
         error + "data length 0xFFFFFFFF != 0x40000\n"},
        {"long_file", [](H& h) { h.file_size = 0xFFFFFFFF; }, 1,
         "warning: " + check + "file length 0xFFFFFFFF > 0x40076\n"},
        {"zero_data_length_and_long_file", [](H& h) { h.image_size = 0, h.file_size = 0x40077; }, 2,
         zero_corrected + "0x40000\nwarning: " + check + "file length 0x40077 > 0x40076\n"},
        {"short_file", [](H& h) { h.file_size = 0x40075; }, -1,
         error + "file length 0x40075 < 0x40076\n"},
        {"top_down", [](H& h) { h.height = -1024; }, -1,
         error + "data length 0x40000 != 0xFFFC0000\n"},
        // A top-down mask whose data length is 0: mended to the format's
        // number, then refused by the file length, as the format refuses it.
        {"top_down_8_bits_zero_data_length",
         [](H& h) {
             make_bitmap_header(&h, 512, -1024, 8), h.image_size = 0, h.file_size = 0x80436;
         },
         -1, zero_corrected + "0xFFF80000\n" + error + "file length 0x80436 < 0xFFF80436\n"},
        // The long-file warning ends the format's tests, not the range test.
        {"long_file_of_no_pixels", [&](H& h) { sized(0, 1024, 4, true)(h), h.file_size = ~0u; }, -1,
         zero_corrected + "0x0\nwarning: " + check + "file length 0xFFFFFFFF > 0x76\n" +
         range("0 x 1024")},
        // Sizes that would overflow, or that no file could hold.
        {"width_0", sized(0, 1024, 4), -1, zero_corrected + "0x0\n" + range("0 x 1024")},
        {"height_0", sized(512, 0, 4), -1, zero_corrected + "0x0\n" + range("512 x 0")},
        {"height_ffffffff", sized(512, -1, 4), -1, range("512 x -1")},
        {"height_80000000", sized(512, INT_MIN, 4), -1,
         zero_corrected + "0x0\n" + range("512 x -2147483648")},
        {"height_7fffffff", sized(512, INT_MAX, 4), -1, range("512 x 2147483647")},
        {"width_7ffffffe_height_1", sized(INT_MAX - 1, 1, 4), 0, ""},
        {"width_7ffffffe_height_2", sized(INT_MAX - 1, 2, 4), -1, range("2147483646 x 2")},
        // From here the format's 32-bit row size wraps: its numbers, not the
        // true sizes, decide the messages.
        {"width_7fffffff_height_1", sized(INT_MAX, 1, 4), -1,
         error + "data length 0x40000000 != 0xC0000000\n"},
        {"width_7fffffff_height_2", sized(INT_MAX, 2, 4), -1, range("2147483647 x 2")},
        {"width_80000000", sized(0x80000000, 1, 4, true), -1,
         zero_corrected + "0xC0000004\n" + error + "file length 0x40000076 < 0xC000007A\n"},
        {"width_ffffffff", sized(0xFFFFFFFF, 1, 8), -1,
         zero_corrected + "0x0\n" + range("4294967295 x 1")},
        {"image_size_over_2_gib", sized(0x20000000, 1, 32), -1, range("536870912 x 1")},
        {"pixels_over_2_gib", sized(0x40000000, 4, 1), -1, range("1073741824 x 4")},
        {"file_over_2_gib", sized(0x7FFFFC00, 1, 8), -1, range("2147482624 x 1")},
    };
    // clang-format on
    for (const auto& [name, mutate, result, printed] : cases) {
        bitmap_header h;
        ASSERT_EQ(make_bitmap_header(&h, 512, 1024, 4), 0);
        mutate(h);
        int got = 0;
        EXPECT_EQ(printed_by([&] { got = check_bitmap_header(&h); }), printed) << name;
        EXPECT_EQ(got, result) << name;
    }
}

// The data length that the check expects is the format's own 32-bit number:
// the row size in signed 32-bit arithmetic (wrapping, divisions truncating)
// times the signed height, modulo 2^32. Any other data length is refused
// with that number. A header that gives exactly that number and the file
// length that goes with it passes the format's tests, and is then refused as
// out of range unless its true sizes are those numbers.
TEST(check_bitmap_header, data_length_of_the_widest_rows_is_the_format_s_wrapped_number) {
    const struct {
        std::uint32_t width;
        std::int32_t height;
        int bits;
        std::uint32_t length;
        bool readable;
    } cases[] = {
        {0x80000000, 1024, 1, 0x1000, false},
        {0x7FFFFFFF, 1, 1, 0xF0000004, false},
        {0x7FFFFFF8, 1, 1, 0x10000000, true}, // the widest 1-bit row that does not wrap
        {0xFFFFFFFF, 1, 1, 0x0, false},
        {0x7FFFFFFF, 1025, 4, 0xC0000000, false},
        {0x7FFFFFFE, 1, 4, 0x40000000, true}, // the widest 4-bit row that does not wrap
        {0x80000000, 1, 4, 0xC0000004, false},
        {0xFFFFFFFF, 1, 4, 0x0, false},
        {0x7FFFFFFF, 1, 8, 0x80000000, false},
        {0x80000000, 1, 8, 0x80000000, false},
        {0xFFFFFFFF, 1, 8, 0x0, false},
        {0x80000000, 1024, 16, 0x0, false},
        {0x7FFFFFFF, 1, 16, 0x0, false},
        {0xFFFFFFFF, 1, 16, 0x0, false},
        {0x7FFFFFFF, 1, 24, 0x80000000, false},
        {0x80000000, 3, 24, 0x80000000, false},
        {0xFFFFFFFF, 1, 24, 0x0, false},
        {0x7FFFFFFF, 1, 32, 0xFFFFFFFC, false},
        {0x80000000, 1, 32, 0x0, false},
        {0xFFFFFFFF, 2, 32, 0xFFFFFFF8, false},
        // top-down heights
        {512, -1024, 8, 0xFFF80000, false},
        {0x7FFFFFFF, -1, 4, 0x40000000, false},
        {0x80000000, -1024, 1, 0xFFFFF000, false},
        {0xFFFFFFFF, -1, 32, 0x4, false},
        {0x7FFFFFFF, INT_MIN, 24, 0x0, false},
    };
    const auto hex = [](std::uint32_t value) {
        std::array<char, 16> text{};
        std::snprintf(text.data(), text.size(), "0x%X", value);
        return std::string(text.data());
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.width << " x " << std::dec << c.height
                                        << " at " << c.bits << " bits");
        bitmap_header h;
        ASSERT_EQ(make_bitmap_header(&h, c.width, c.height, std::uint16_t(c.bits)), 0);
        h.image_size = 1; // no row size gives it: rows are whole multiples of 4 bytes
        int result = 0;
        EXPECT_EQ(printed_by([&] { result = check_bitmap_header(&h); }),
                  "error: " + check + "data length 0x1 != " + hex(c.length) + "\n");
        EXPECT_EQ(result, -1);

        // A data length of 0 is the one that is mended rather than compared.
        h.image_size = c.length;
        h.file_size = c.length + h.data_offset;
        const std::string mended = c.length == 0 ? zero_corrected + "0x0\n" : "";
        const std::string out_of_range = "error: " + check + "bitmap size " +
                                         std::to_string(c.width) + " x " +
                                         std::to_string(c.height) + " out of range\n";
        EXPECT_EQ(printed_by([&] { result = check_bitmap_header(&h); }),
                  mended + (c.readable ? "" : out_of_range));
        EXPECT_EQ(result, c.readable ? 0 : -1);
    }
}

// A good 5 x 4 4-bit file: 54 header bytes, 64 of palette, 4 rows of 4 bytes.
const bytes good_pixels = make_picture(5, 4, 4);
bytes good_file() {
    return bitmap_file(5, 4, 4, good_pixels);
}

// Damaged files fail with their message and get no pixel buffer, however
// large the picture their header claims; a mended one is read, and reading
// stops after the last row.
TEST(read_bitmap, damaged_files_fail_cleanly_without_allocating_what_they_claim) {
    const bytes good = good_file();
    const auto cut = [&](std::size_t n) { return bytes(good.begin(), good.begin() + n); };
    const auto set = [&](std::size_t at, std::uint8_t value) {
        bytes file = good;
        file[at] = value;
        return file;
    };
    const auto claiming = [](std::uint32_t width, std::int32_t height, std::uint16_t bits) {
        bitmap_header h;
        make_bitmap_header(&h, width, height, bits);
        bytes file = written_by([&](std::FILE* s) { write_bitmap_header(s, &h); });
        file.resize(file.size() + 164, 0x11);
        return file;
    };
    bytes mended = good;
    put_le32(mended.data() + 34, 0);   // data length 0
    put_le32(mended.data() + 2, 0x88); // two bytes more than the 0x86 needed
    mended.insert(mended.end(), {0xAB, 0xCD});
    const std::tuple<const char*, bytes, std::string> cases[] = {
        {"short_header", cut(53), header_refused},
        {"not_bm", set(1, 'A'), header_refused},
        {"two_planes", set(26, 2), header_refused},
        {"short_palette", cut(54 + 63), "error: read_bitmap() - can't read palette\n"},
        {"no_rows", cut(54 + 64), data_short},
        {"short_rows", cut(54 + 64 + 15), data_short},
        {"huge_4_bit", claiming(INT_MAX - 1, 1, 4), data_short},
        {"huge_1_bit", claiming(INT_MAX - 7, 1, 1), data_short},
        {"huge_24_bit", claiming(20000, 20000, 24), data_short},
        {"huge_32_bit", claiming(16384, 16384, 32), data_short},
        {"mended", mended,
         zero_corrected + "0x10\nwarning: " + check + "file length 0x88 > 0x86\n"},
    };
    for (const auto& [name, file, printed] : cases) {
        file_ptr stream = stream_of(file);
        const read_result r = read_from(stream.get());
        const bool good_one = std::string(name) == "mended";
        EXPECT_EQ(std::tuple(r.result, r.printed), std::tuple(good_one ? 0 : -1, printed)) << name;
        EXPECT_EQ(r.pixels.data != nullptr, good_one) << name;
        EXPECT_TRUE(!good_one || std::ftell(stream.get()) == 0x86) << name;
    }
}

TEST(read_bitmap, slots_are_filled_in_place_or_refused_when_too_small) {
    bitmap_header header;
    int result = 0;
    file_ptr stream = stream_of(good_file());
    EXPECT_EQ(printed_by([&] { result = read_bitmap(stream.get(), &header, nullptr, nullptr, 0); }),
              "");
    EXPECT_EQ(std::tuple(result, std::ftell(stream.get())), std::tuple(-3, 0));

    // The caller's palette and pixel buffers are filled; nothing is allocated.
    bytes palette(64), pixels(20);
    read_result r = read_from(stream.get(), borrowed_slot(palette.data(), 64),
                              borrowed_slot(pixels.data(), 20));
    EXPECT_EQ(std::tuple(r.result, palette, pixels), std::tuple(0, test_palette(16), good_pixels));
    EXPECT_TRUE(r.palette.owned == nullptr && r.pixels.owned == nullptr);

    // An offered buffer is filled when the picture fits, else set aside
    // untouched for a new one.
    for (const std::size_t offered : {20, 64, 19}) {
        bytes buffer(offered, 0xEE);
        r = read_from(stream_of(good_file()).get(), {}, offered_slot(buffer.data(), offered));
        const bool fits = offered >= 20;
        EXPECT_EQ(std::tuple(r.result, r.pixels.data == buffer.data(), r.pixels.owned != nullptr),
                  std::tuple(0, fits, !fits));
        EXPECT_EQ(bytes(r.pixels.data, r.pixels.data + 20), good_pixels);
        EXPECT_EQ(fits ? bytes(buffer.begin() + 20, buffer.end()) : buffer,
                  bytes(fits ? offered - 20 : offered, 0xEE));
    }

    bytes small(19, 0xEE);
    r = read_from(stream_of(good_file()).get(), {}, borrowed_slot(small.data(), 19));
    EXPECT_EQ(std::tuple(r.result, r.printed, small),
              std::tuple(-1, "error: read_bitmap() - pixel buffer too small\n", bytes(19, 0xEE)));

    // From a pipe, which cannot tell its length or skip: a record that the
    // caller read and checked still gets the size test, and without a
    // palette slot the palette is read and dropped.
    const bytes file = good_file();
    std::array<int, 2> fds{};
#ifdef _WIN32
    ASSERT_EQ(_pipe(fds.data(), 65536, _O_BINARY), 0);
    ASSERT_EQ(write(fds[1], file.data(), static_cast<unsigned>(file.size())), int(file.size()));
#else
    ASSERT_EQ(pipe(fds.data()), 0);
    ASSERT_EQ(write(fds[1], file.data(), file.size()), ssize_t(file.size()));
#endif
    close(fds[1]);
    stream.reset(fdopen(fds[0], "rb"));
    buffer_slot slot;
    ASSERT_EQ(read_bitmap_header(stream.get(), &header), 0);
    bitmap_header absurd = header;
    absurd.width = 0;
    EXPECT_EQ(printed_by([&] { result = read_bitmap(stream.get(), &absurd, nullptr, &slot, 1); }),
              header_refused);
    EXPECT_EQ(std::tuple(result, read_bitmap(stream.get(), &header, nullptr, &slot, 1)),
              std::tuple(-1, 0));
    EXPECT_EQ(contents(slot), good_pixels);
}

} // namespace
} // namespace kz::test

// Pixel-depth conversion with sizes, bit counts, palettes and target slots
// chosen by the fuzzer. A conversion that succeeds must give palette indices
// that exist in the target palette.
#include "bitmap/bitmap.h"
#include "fuzz/fuzz_input.h"

#include <array>

using namespace kz;
using namespace kz::fuzz;

namespace {

// Mostly the bit counts the format has, sometimes anything at all.
int choose_bits(std::uint8_t choice) {
    static constexpr std::array<int, 6> supported = {1, 4, 8, 16, 24, 32};
    if (choice < 0xF0) {
        return supported[choice % supported.size()];
    }
    return static_cast<std::int8_t>(choice << 4) >> 4; // -8..7
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_cursor input{std::span(data, size)};
    const std::uint8_t mode = input.take_byte();
    // Signed 16-bit sizes, widened now and then to reach the overflow checks.
    int width = static_cast<std::int16_t>(input.take_u16());
    int height = static_cast<std::int16_t>(input.take_u16());
    if (mode & 0x40) {
        width *= 65535;
    }
    if (mode & 0x80) {
        height *= 65535;
    }
    const int source_bits = choose_bits(input.take_byte());
    const int target_bits = choose_bits(input.take_byte());
    const std::uint16_t own_size = input.take_u16();

    // Palettes: taken from the input when asked, else absent (which is
    // wrong for indexed pixels and must be refused, not followed).
    std::array<std::uint8_t, max_palette_entries * palette_entry_size> source_palette{};
    std::array<std::uint8_t, max_palette_entries * palette_entry_size> target_palette{};
    const std::uint8_t* source_palette_pointer = nullptr;
    const std::uint8_t* target_palette_pointer = nullptr;
    if (mode & 0x01) {
        const auto part = input.take(source_palette.size());
        std::copy(part.begin(), part.end(), source_palette.begin());
        source_palette_pointer = source_palette.data();
    }
    if (mode & 0x02) {
        const auto part = input.take(target_palette.size());
        std::copy(part.begin(), part.end(), target_palette.begin());
        target_palette_pointer = target_palette.data();
    }

    std::vector<std::uint8_t> own(own_size);
    buffer_slot target;
    if (mode & 0x04) {
        target = borrowed_slot(own.data(), own.size());
    }
    // An empty source span (no data pointer) is refused as well.
    const std::vector<std::uint8_t> source(input.bytes.begin(), input.bytes.end());
    const std::span<const std::uint8_t> source_span =
        (mode & 0x08) ? std::span<const std::uint8_t>() : std::span(source);

    const int result = convert_bitmap(width, height, source_bits, source_palette_pointer,
                                      source_span, target_bits, target_palette_pointer, &target);
    if (result != 0) {
        require(result == -1 || result == -2, "convert_bitmap fails with -1 or -2");
        return 0;
    }
    require(width >= 0 && height >= 0, "negative sizes are refused");
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (target_bits <= 8) {
        require(target.size >= count, "the target holds every pixel");
        const unsigned entries = 1u << target_bits;
        for (std::size_t i = 0; i < count; ++i) {
            require(target.data[i] < entries, "converted pixels are target palette indices");
        }
    }
    return 0;
}

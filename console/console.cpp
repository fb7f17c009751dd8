// The overwrite question and the bitmap output file of the command-line tools.
#include "console/console.h"

#include "bitmap/bitmap.h"
#include "bitmap/png.h"
#include "io/output_file.h"
#include "io/path.h"
#include "terminal/terminal.h"

#include <cstdio>

namespace kz {

int ask_yes_no(const char* question) {
    return ask_yes_no_from(stdin, question);
}

// One deciding character answers; anything else, line ends included, is
// passed over without a new prompt. The rest of the line stays unread.
int ask_yes_no_from(std::FILE* input, const char* question) {
    print_message("%s (Y or N): ", question);
    std::fflush(stdout);
    for (;;) {
        const int c = std::fgetc(input);
        if (c == EOF) {
            return 0;
        }
        if (c == 'Y' || c == 'y') {
            return 1;
        }
        if (c == 'N' || c == 'n') {
            return 0;
        }
    }
}

int refuse_output_over_input(const char* output, std::initializer_list<const char*> inputs) {
    for (const char* input : inputs) {
        if (output != nullptr && input != nullptr && same_file(output, input)) {
            print_message("can't write over input '%s'\n", output);
            return -1;
        }
    }
    return 0;
}

int write_bitmap_file(const char* path, std::uint32_t width, std::int32_t height, int bit_count,
                      const std::uint8_t* palette, const std::uint8_t* pixels) {
    if (path_exists(path)) {
        print_message("already exists '%s'\n", path);
        if (ask_yes_no("overwrite ?") < 1) {
            return -1;
        }
    }
    output_file out;
    if (open_output_file(&out, path) != 0) {
        return -1;
    }
    if (is_png_name(path)) {
        // A top-down (negative) height has no meaning here: write_png refuses 0.
        const auto rows = height > 0 ? static_cast<std::uint32_t>(height) : 0u;
        if (write_png(out.stream, width, rows, bit_count, palette, pixels) < 0) {
            print_message("write error '%s'\n", path);
            discard_output_file(&out);
            return -1;
        }
        return commit_output_file(&out);
    }
    // An unsupported bit count leaves the header incomplete; write_bitmap
    // refuses it, so the result needs no test here.
    bitmap_header header;
    const auto bits = bit_count >= 0 && bit_count <= 0xFFFF ? static_cast<std::uint16_t>(bit_count)
                                                            : std::uint16_t{0};
    make_bitmap_header(&header, width, height, bits);
    if (write_bitmap(out.stream, &header, palette, pixels) < 0) {
        print_message("write error '%s'\n", path);
        discard_output_file(&out);
        return -1;
    }
    return commit_output_file(&out);
}

} // namespace kz

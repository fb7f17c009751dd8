// The overwrite question and the bitmap output file of the command-line tools.
#include "console/console.h"

#include "bitmap/picture.h"
#include "disk/disk.h"
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

int refuse_output_over_disk_image(const char* output) {
    if (output != nullptr && holds_disk_image(output)) {
        print_message("can't write over disk image '%s'\n", output);
        return -1;
    }
    return 0;
}

int write_bitmap_file(const char* path, std::uint32_t width, std::int32_t height, int bit_count,
                      const std::uint8_t* palette, const std::uint8_t* pixels) {
    return write_picture_file(path, picture_image{width, height, bit_count, palette, pixels});
}

int write_picture_file(const char* path, const picture_image& image) {
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
    if (write_picture(out.stream, picture_format_for_name(path), image) < 0) {
        print_message("write error '%s'\n", path);
        discard_output_file(&out);
        return -1;
    }
    return commit_output_file(&out);
}

} // namespace kz

// The containers of the plain disk: FDI, whose header must describe it, and
// the raw disk, known by its length alone.
#include "container_images.h"

namespace kz::test {
namespace {

using enum container_result;
using enum sector_state;

TEST(fdi_container, each_fault_gives_its_result_message_and_units) {
    check_cases({
        {"fdi_header_that_describes_the_disk", [] { return fdi(test_disk()); }, "FDI", found, ""},
        {"fdi_header_of_another_size_puts_the_disk_after_it",
         [] {
             fdi_fields longer;
             longer.header_size = 8192;
             return fdi(test_disk(), longer);
         },
         "FDI", found, ""},
        {"fdi_of_a_1_44_mb_disk_is_another_kind_of_disk",
         [] {
             const fdi_fields hd{0, 0x30, 4096, 1474560, 512, 18, 2, 80};
             return fdi(bytes(1474560, 0xF6), hd);
         },
         "FDI", other_disk, "not a 2HD disk of 1024-byte sectors 'img'\n"},
        {"fdi_longer_than_its_header_and_data_is_no_fdi",
         [] { return edited(fdi(test_disk()), [](bytes& file) { file.push_back(0); }); }, "", not_this,
         ""},
        {"fdi_with_its_reserved_field_set_is_no_fdi",
         [] {
             fdi_fields reserved;
             reserved.reserved = 1;
             return fdi(test_disk(), reserved);
         },
         "", not_this, ""},
        {"fdi_of_an_unknown_sector_size_is_no_fdi",
         [] {
             fdi_fields odd;
             odd.sector_size = 1000;
             odd.data_size = 1000 * 8 * 2 * 77;
             return fdi(bytes(1000 * 8 * 2 * 77, 0), odd);
         },
         "", not_this, ""},
    });
}

TEST(raw_container, each_fault_gives_its_result_message_and_units) {
    check_cases({
        {"raw_disk_of_exactly_its_length", [] { return test_disk(); }, "raw", found, ""},
        {"raw_disk_one_byte_longer_is_no_raw_disk",
         [] { return edited(test_disk(), [](bytes& file) { file.push_back(0); }); }, "", not_this, ""},
    });
}

} // namespace
} // namespace kz::test

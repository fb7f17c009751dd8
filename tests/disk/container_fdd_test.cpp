// FDD files in memory: data in any order, sectors kept only as a fill
// byte, and data offsets that leave the file or share bytes.
#include "container_images.h"

namespace kz::test {
namespace {

using enum container_result;
using enum sector_state;

bytes fdd_with(const std::function<void(bytes&)>& edit) {
    bytes file = fdd(test_disk());
    edit(file);
    return file;
}

TEST(fdd_container, each_fault_gives_its_result_message_and_units) {
    check_cases({
        {"fdd_data_in_another_order_than_the_table_is_found_by_its_entries",
         [] { return fdd(test_disk()); }, "FDD", found, ""},
        {"fdd_mark_of_version_1_01_is_fdd_too",
         [] { return fdd_with([](bytes& file) { file[6] = '1'; }); }, "FDD", found, ""},
        {"fdd_mark_followed_by_more_text_is_no_fdd",
         [] { return fdd_with([](bytes& file) { file[7] = ' '; }); }, "", not_this, ""},
        {"fdd_sector_kept_as_a_fill_byte_reads_as_that_byte",
         [] { return fdd(test_disk(), {{50, 0xE5}, {51, 0x00}}); }, "FDD", found, "",
         {{50, 50, filled, sector_lock::none, 0xE5}, {51, 51, filled}}},
        {"fdd_data_offset_outside_the_file_is_missing",
         [] { return fdd_with([](bytes& file) { put_le(file, fdd_entry(60) + 8, 0x7FFFF000, 4); }); },
         "FDD", found, "", {{60, 60, missing}}},
        {"fdd_two_sectors_sharing_their_data_are_both_overlapping",
         [] {
             return fdd_with([](bytes& file) {
                 put_le(file, fdd_entry(61) + 8, get_le(file, fdd_entry(62) + 8, 4), 4);
             });
         },
         "FDD", found, "", {{61, 62, overlapping}}},
        {"fdd_data_offset_into_the_table_is_overlapping",
         [] { return fdd_with([](bytes& file) { put_le(file, fdd_entry(63) + 8, 0x100, 4); }); }, "FDD",
         found, "", {{63, 63, overlapping}}},
        {"fdd_file_too_short_for_its_table_is_broken",
         [] { return fdd_with([](bytes& file) { file.resize(0x1000); }); }, "FDD", broken,
         "broken disk image header 'img'\n"},
        {"fdd_sector_of_512_bytes_on_the_disk_is_another_kind_of_disk",
         [] { return fdd_with([](bytes& file) { file[fdd_entry(70) + 3] = 2; }); }, "FDD", other_disk,
         "not a 2HD disk of 1024-byte sectors 'img'\n"},
    });
}

} // namespace
} // namespace kz::test

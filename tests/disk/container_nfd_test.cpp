// NFD files of both revisions in memory: their tables and maps, the
// controller's status bytes, special reads, and headers that contradict
// themselves or the file.
#include "container_images.h"

namespace kz::test {
namespace {

using enum container_result;
using enum sector_state;

const std::string broken_header = "broken disk image header 'img'\n";
const std::string another_kind = "not a 2HD disk of 1024-byte sectors 'img'\n";

bytes nfd0_with(const std::function<void(bytes&)>& edit) {
    bytes file = nfd0(test_disk());
    edit(file);
    return file;
}

bytes nfd1_with(const std::function<void(bytes&)>& edit) {
    bytes file = nfd1(test_disk());
    edit(file);
    return file;
}

std::size_t nfd1_map(const bytes& file, int track) {
    return static_cast<std::size_t>(get_le(file, 0x120 + 4 * static_cast<std::size_t>(track), 4));
}

// Sector data of revision 1 without special reads lies in unit order.
std::size_t nfd1_place(const bytes& file, int unit) {
    return static_cast<std::size_t>(get_le(file, 0x110, 4)) + static_cast<std::size_t>(unit) * disk_unit_size;
}

// Every track entry names one map holding 65,535 special reads of 256 x
// 0xFFFFFFFF bytes each: summed for each track, the data would pass 2^63.
bytes nfd1_one_map_for_every_track() {
    constexpr std::uint32_t specials = 65535;
    bytes map;
    append_le(map, 8, 2);
    append_le(map, specials, 2);
    map.resize(16, 0);
    for (int r = 1; r <= 8; ++r) {
        append(map, {0, 0, static_cast<std::uint8_t>(r), 3, 1, 0, 0, 0, 0, 0, 0, 0x90, 0, 0, 0, 0});
    }
    for (std::uint32_t i = 0; i < specials; ++i) {
        append(map, {0x46, 0, 0, 9, 3, 0, 0x40, 0x20, 0x20, 255, 0xFF, 0xFF, 0xFF, 0xFF, 0x90, 0});
    }
    bytes file(0x3C0, 0);
    const std::string mark = "T98FDDIMAGE.R1";
    std::copy(mark.begin(), mark.end(), file.begin());
    put_le(file, 0x110, 0x3C0 + map.size(), 4);
    file[0x115] = 2;
    for (int t = 0; t < 164; ++t) {
        put_le(file, 0x120 + 4 * static_cast<std::size_t>(t), 0x3C0, 4);
    }
    append(file, map);
    file.insert(file.end(), test_disk().begin(), test_disk().begin() + track_bytes);
    return file;
}

// A raw disk that begins with the NFD mark and a header size past its end.
bytes raw_disk_with_an_nfd_mark() {
    bytes disk = test_disk();
    const std::string mark = "T98FDDIMAGE.R0";
    std::fill_n(disk.begin(), 16, 0);
    std::copy(mark.begin(), mark.end(), disk.begin());
    put_le(disk, 0x110, disk.size() + 1, 4);
    return disk;
}

TEST(nfd_container, each_fault_gives_its_result_message_and_units) {
    check_cases({
        {"nfd0_sectors_lie_in_table_order_past_unused_entries", [] { return nfd0(test_disk()); }, "NFD",
         found, ""},
        {"nfd0_controller_status_marks_crc_errors_and_missing_data",
         [] {
             return nfd0_with([](bytes& file) {
                 file[nfd0_entry(3) + 8] = 0x20; // ST1: data error
                 file[nfd0_entry(4) + 9] = 0x20; // ST2: data error in the data field
                 file[nfd0_entry(5) + 8] = 0x01; // ST1: no address mark
                 file[nfd0_entry(6) + 8] = 0x04; // ST1: no data
                 file[nfd0_entry(7) + 9] = 0x01; // ST2: no data address mark
             });
         },
         "NFD", found, "", {{3, 4, crc_error}, {5, 7, no_data}}},
        {"nfd0_sector_with_the_id_of_another_track_still_takes_its_place_in_the_data",
         [] { return nfd0_with([](bytes& file) { file[nfd0_entry(17)] = 9; }); }, "NFD", found, "",
         {{17, 17, missing}}},
        {"nfd0_data_cut_short_leaves_the_rest_missing",
         [] { return nfd0_with([](bytes& file) { file.resize(nfd0_place(700) + 10); }); }, "NFD", found,
         "", {{700, disk_units - 1, missing}}},
        {"nfd0_header_size_past_the_end_is_broken",
         [] { return nfd0_with([](bytes& file) { put_le(file, 0x110, file.size() + 1, 4); }); }, "NFD",
         broken, broken_header},
        {"nfd0_file_too_short_for_its_table_is_broken",
         [] { return nfd0_with([](bytes& file) { file.resize(0x1000); }); }, "NFD", broken, broken_header},
        {"nfd0_header_size_inside_its_table_is_broken",
         [] { return nfd0_with([](bytes& file) { put_le(file, 0x110, 0x200, 4); }); }, "NFD", broken,
         broken_header},
        {"nfd0_size_code_past_7_is_broken",
         [] { return nfd0_with([](bytes& file) { file[nfd0_entry(0) + 3] = 8; }); }, "NFD", broken,
         broken_header},
        {"nfd0_sector_of_256_bytes_on_the_disk_is_another_kind_of_disk",
         [] { return nfd0_with([](bytes& file) { file[nfd0_entry(9) + 3] = 1; }); }, "NFD", other_disk,
         another_kind},
        {"nfd0_mark_followed_by_more_text_is_no_nfd",
         [] { return nfd0_with([](bytes& file) { file[14] = 'x'; }); }, "", not_this, ""},
        {"nfd_mark_on_a_raw_disk_whose_header_does_not_agree_gives_way_to_the_raw_disk",
         raw_disk_with_an_nfd_mark, "raw", found, "", {}, 1, 0, raw_disk_with_an_nfd_mark},
        {"nfd1_sectors_lie_track_after_track_behind_their_maps", [] { return nfd1(test_disk()); }, "NFD",
         found, ""},
        {"nfd1_special_read_locks_its_sector_and_its_data_is_passed_over",
         [] {
             nfd1_special twice{1, disk_unit_size, bytes(2 * disk_unit_size, 0x5A)};
             return nfd1(test_disk(), {{40, twice}});
         },
         "NFD", found, "", {{40, 40, stored, sector_lock::special_read}}},
        {"nfd1_track_map_outside_the_file_leaves_its_track_and_the_later_ones_missing",
         [] { return nfd1(test_disk(), {}, {{7, 0x7FFFFFF0}}); }, "NFD", found, "",
         {{56, disk_units - 1, missing}}},
        {"nfd1_track_map_over_sector_data_makes_that_sector_overlapping",
         [] {
             return nfd1_with([](bytes& file) {
                 const std::size_t map = nfd1_map(file, 5);
                 const std::size_t moved = nfd1_place(file, 900);
                 std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(map), 16 + 8 * 16,
                             file.begin() + static_cast<std::ptrdiff_t>(moved));
                 put_le(file, 0x120 + 4 * 5, moved, 4);
             });
         },
         "NFD", found, "", {{900, 900, overlapping}},
         1, 0,
         [] {
             bytes disk = test_disk();
             const bytes file = nfd1(disk);
             std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(nfd1_map(file, 5)), 16 + 8 * 16,
                         disk.begin() + 900 * disk_unit_size);
             return disk;
         }},
        {"nfd1_tracks_sharing_one_map_of_huge_special_reads_read_it_once_without_overflow",
         nfd1_one_map_for_every_track, "NFD", found, "", {{8, disk_units - 1, missing}}},
        {"nfd1_file_too_short_for_its_track_table_is_broken",
         [] { return nfd1_with([](bytes& file) { file.resize(0x300); }); }, "NFD", broken, broken_header},
        {"nfd1_header_size_inside_its_track_table_is_broken",
         [] { return nfd1_with([](bytes& file) { put_le(file, 0x110, 0x200, 4); }); }, "NFD", broken,
         broken_header},
        {"nfd1_size_code_past_7_is_broken",
         [] { return nfd1_with([](bytes& file) { file[nfd1_map(file, 2) + 16 + 3] = 9; }); }, "NFD",
         broken, broken_header},
    });
}

} // namespace
} // namespace kz::test

// DIM and DCP files in memory, which lay their tracks out by one present
// flag each: tracks left out, flags that the file's length overrules, and
// headers that are no header of theirs.
#include "container_images.h"

namespace kz::test {
namespace {

using enum container_result;
using enum sector_state;

unit_rule absent_track(int track) {
    return track_rule(track, filled, sector_lock::absent_track);
}

TEST(dim_container, each_fault_gives_its_result_message_and_units) {
    check_cases({
        {"dim_every_track_in_order", [] { return dim(test_disk()); }, "DIM", found, ""},
        {"dim_tracks_left_out_move_the_later_ones_up_and_cannot_change",
         [] { return dim(test_disk(), {3, 100}); }, "DIM", found, "", {absent_track(3), absent_track(100)}},
        {"dim_file_with_room_for_every_track_holds_each_at_its_place_whatever_its_flag",
         [] { return dim(test_disk(), {3}, true); }, "DIM", found, ""},
        {"dim_cut_short_leaves_the_tracks_past_the_end_missing",
         [] { return edited(dim(test_disk()), [](bytes& file) { file.resize(256 + 400 * 1024 + 100); }); },
         "DIM", found, "", {{400, disk_units - 1, missing}}},
        {"dim_track_flag_other_than_0_or_1_is_broken",
         [] { return edited(dim(test_disk()), [](bytes& file) { file[1 + 5] = 2; }); }, "DIM", broken,
         "broken disk image header 'img'\n"},
        {"dim_of_another_type_than_2hd_is_another_kind_of_disk",
         [] { return dim(test_disk(), {}, false, 1); }, "DIM", other_disk,
         "not a 2HD disk of 1024-byte sectors 'img'\n"},
        {"dim_without_its_mark_is_no_dim",
         [] { return edited(dim(test_disk()), [](bytes& file) { file[0xAB] = 'd'; }); }, "", not_this,
         ""},
    });
}

TEST(dcp_container, each_fault_gives_its_result_message_and_units) {
    std::set<int> last_tracks;
    for (int t = 140; t < disk_tracks; ++t) {
        last_tracks.insert(t);
    }
    std::vector<unit_rule> left_out;
    for (int t : last_tracks) {
        left_out.push_back(absent_track(t));
    }
    check_cases({
        {"dcp_every_track_in_order", [] { return dcp(test_disk()); }, "DCP", found, ""},
        {"dcp_tracks_left_out_move_the_later_ones_up_and_cannot_change",
         [&] { return dcp(test_disk(), last_tracks); }, "DCP", found, "", left_out},
        {"dcp_file_of_every_track_holds_each_at_its_place_whatever_its_flag",
         [] {
             return edited(dcp(test_disk()), [](bytes& file) {
                 file[1 + 5] = 0;
                 file[161] = 0;
             });
         },
         "DCP", found, ""},
        {"dcp_file_longer_than_its_flags_promise_is_no_dcp",
         [] { return edited(dcp(test_disk()), [](bytes& file) { file.push_back(0); }); }, "", not_this,
         ""},
        {"dcp_track_flag_other_than_0_or_1_is_no_dcp",
         [] { return edited(dcp(test_disk()), [](bytes& file) { file[1 + 9] = 2; }); }, "", not_this, ""},
        {"dcp_flag_of_a_track_past_the_disk_is_no_dcp",
         [] { return edited(dcp(test_disk()), [](bytes& file) { file[1 + 155] = 1; }); }, "", not_this,
         ""},
        {"dcp_media_byte_of_another_disk_is_no_dcp",
         [] { return edited(dcp(test_disk()), [](bytes& file) { file[0] = 0x02; }); }, "", not_this, ""},
    });
}

} // namespace
} // namespace kz::test

// D88 files in memory: what recognition makes of each way real files differ
// from the plain layout, and of each way a header can fail to be one.
#include "container_images.h"

namespace kz::test {
namespace {

using enum container_result;
using enum sector_state;

bytes plain_d88() {
    return d88(d88_tracks_of(test_disk()));
}

// The D88 of the test disk with one sector changed by edit.
bytes d88_with(int unit, const std::function<void(d88_sector&)>& edit) {
    d88_tracks tracks = d88_tracks_of(test_disk());
    for (d88_sector& s : tracks[unit / 8]) {
        if (s.r == unit % 8 + 1) {
            edit(s);
        }
    }
    return d88(tracks);
}

bytes with_track_offset(bytes file, int track, std::uint64_t offset) {
    put_le(file, 0x20 + 4 * static_cast<std::size_t>(track), offset, 4);
    return file;
}

const std::string another_kind = "not a 2HD disk of 1024-byte sectors 'img'\n";

TEST(d88_container, each_fault_gives_its_result_message_and_units) {
    check_cases({
        {"d88_sectors_and_tracks_out_of_order_are_found_by_their_ids",
         [] {
             d88_options backwards;
             backwards.tracks_backwards = true;
             return d88(d88_tracks_of(test_disk(), {8, 3, 5, 1, 7, 2, 6, 4}), backwards);
         },
         "D88", found, ""},
        {"d88_old_header_of_160_track_entries_reads_like_the_new",
         [] {
             d88_options old;
             old.old_header = true;
             return d88(d88_tracks_of(test_disk()), old);
         },
         "D88", found, ""},
        {"d88_sector_counts_stored_wrongly_do_not_matter",
         [] {
             d88_options swapped;
             swapped.big_endian_counts = true;
             return d88(d88_tracks_of(test_disk()), swapped);
         },
         "D88", found, ""},
        {"d88_track_offset_past_the_file_leaves_its_sectors_missing",
         [] {
             const bytes file = plain_d88();
             return with_track_offset(file, 5, file.size() + 0x10000);
         },
         "D88", found, "", {track_rule(5, missing)}},
        {"d88_sector_running_past_its_track_is_left_out",
         [] {
             bytes file = plain_d88();
             put_le(file, d88_place(file, 31) - 2, 1024 + 16 + 1, 2);
             return file;
         },
         "D88", found, "", {{31, 31, missing}}},
        {"d88_sector_status_tells_good_and_deleted_data_from_damage",
         [] {
             d88_tracks tracks = d88_tracks_of(test_disk());
             const std::uint8_t statuses[] = {0x10, 0xA0, 0xB0, 0xE0, 0xF0};
             for (int i = 0; i < 5; ++i) {
                 tracks[1][static_cast<std::size_t>(i)].status = statuses[i];
             }
             return d88(tracks);
         },
         "D88", found, "", {{9, 10, crc_error}, {11, 12, no_data}}},
        {"d88_sector_shorter_than_1024_bytes_has_no_data_and_the_next_is_still_found",
         [] { return d88_with(20, [](d88_sector& s) { s.data.resize(512); }); }, "D88", found, "",
         {{20, 20, no_data}}},
        {"d88_sector_stored_twice_is_duplicated",
         [] {
             d88_tracks tracks = d88_tracks_of(test_disk());
             tracks[3].push_back(tracks[3][6]);
             return d88(tracks);
         },
         "D88", found, "", {{30, 30, duplicated}}},
        {"d88_sector_with_the_id_of_another_track_is_not_taken_for_it",
         [] { return d88_with(18, [](d88_sector& s) { s.c = 5; }); }, "D88", found, "",
         {{18, 18, missing}}},
        {"d88_cut_inside_a_sector_keeps_the_sectors_before_it",
         [] {
             bytes file = plain_d88();
             file.resize(d88_place(file, 500) + 100);
             return file;
         },
         "D88", found, "", {{500, disk_units - 1, missing}}},
        {"d88_disk_without_tracks_has_every_unit_missing",
         [] { return d88({}); }, "D88", found, "", {{0, disk_units - 1, missing}}},
        {"d88_of_a_2dd_disk_is_another_kind_of_disk",
         [] {
             d88_options dd;
             dd.media = 0x10;
             return d88(d88_tracks_of(test_disk()), dd);
         },
         "D88", other_disk, another_kind},
        {"d88_sector_of_256_bytes_on_the_disk_is_another_kind_of_disk",
         [] { return d88_with(40, [](d88_sector& s) { s.n = 1; }); }, "D88", other_disk, another_kind},
        {"d88_disks_one_after_another_each_from_its_own_start",
         [] {
             bytes file = d88(d88_tracks_of(test_disk(), {2, 1, 3, 4, 5, 6, 7, 8}));
             append(file, plain_d88());
             append(file, d88({}));
             return file;
         },
         "D88", found, "", {}, 3, 1},
        {"d88_disk_of_another_kind_among_several_is_left_out",
         [] {
             d88_options dd;
             dd.media = 0x10;
             bytes file = d88(d88_tracks_of(test_disk()), dd);
             append(file, plain_d88());
             return file;
         },
         "D88", found, "", {}, 1, 0},
        {"d88_named_like_an_fdd_mark_reads_as_d88",
         [] {
             d88_options named;
             named.name = "VFD1.01 backup";
             return d88(d88_tracks_of(test_disk()), named);
         },
         "D88", found, ""},
        {"d88_named_like_an_nfd_mark_reads_as_d88",
         [] {
             d88_options named;
             named.name = "T98FDDIMAGE.R1";
             return d88(d88_tracks_of(test_disk()), named);
         },
         "D88", found, ""},
        {"d88_one_offset_for_every_track_takes_each_sector_for_the_track_its_id_names",
         [] {
             bytes file = plain_d88();
             for (int t = 0; t < 164; ++t) {
                 put_le(file, 0x20 + 4 * static_cast<std::size_t>(t), 0x2B0, 4);
             }
             return file;
         },
         "D88", found, ""},
        {"d88_many_disks_without_tracks_before_the_one_with_them",
         [] {
             bytes file;
             for (int i = 0; i < 1000; ++i) {
                 d88_options old;
                 old.old_header = true;
                 append(file, d88({}, old));
             }
             append(file, plain_d88());
             return file;
         },
         "D88", found, "", {}, 1001, 1000},
        {"d88_first_track_not_at_the_header_end_is_no_d88",
         [] { return with_track_offset(plain_d88(), 0, 0x2C0); }, "", not_this, ""},
        {"d88_disk_size_short_of_its_header_is_no_d88",
         [] {
             d88_options small;
             small.size = 0x100;
             return d88(d88_tracks_of(test_disk()), small);
         },
         "", not_this, ""},
        {"d88_unknown_media_byte_is_no_d88",
         [] {
             d88_options unknown;
             unknown.media = 0x50;
             return d88(d88_tracks_of(test_disk()), unknown);
         },
         "", not_this, ""},
    });
}

} // namespace
} // namespace kz::test

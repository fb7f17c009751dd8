// Loading images and unpacking the FAT.
#include "disk/disk.h"
#include "disk_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace kz::test {
namespace {

void expect_empty(const disk_image& disk) {
    EXPECT_EQ(disk.disk_offset, 0);
    EXPECT_EQ(disk.image_length, 0);
    EXPECT_EQ(disk.fat_entry_count, 0);
    EXPECT_TRUE(disk.image.empty());
    EXPECT_TRUE(disk.fat.empty());
}

TEST(load_disk_image, fdi_and_xdf_of_one_disk_give_the_same_fat) {
    scratch_dir dir;
    const bytes xdf = make_xdf(dir);
    const bytes fdi = make_fdi(xdf);
    write_file(dir.file("d.xdf"), xdf);
    write_file(dir.file("d.fdi"), fdi);

    disk_image from_xdf;
    disk_image from_fdi;
    ASSERT_EQ(load_disk_image(&from_xdf, dir.file("d.xdf").c_str(), xdf_disk_offset), 0);
    ASSERT_EQ(load_disk_image(&from_fdi, dir.file("d.fdi").c_str(), fdi_disk_offset), 0);

    EXPECT_EQ(from_fdi.disk_offset, 4096);
    EXPECT_EQ(from_xdf.image_length, 1232 * 1024);
    EXPECT_EQ(from_fdi.image_length, 1232 * 1024 + 4096);
    EXPECT_EQ(from_fdi.image, fdi);
    EXPECT_EQ(from_xdf.fat_entry_count, 1232);
    EXPECT_EQ(from_fdi.fat_entry_count, 1232);
    EXPECT_EQ(from_xdf.fat, from_fdi.fat);
    // Media byte 0xFE and the filler, as mkfs.fat stored them.
    EXPECT_EQ(from_xdf.fat.at(0), 0xFFE);
    EXPECT_EQ(from_xdf.fat.at(1), 0xFFF);

    release_disk_image(&from_fdi);
    expect_empty(from_fdi);
}

TEST(load_disk_image, trailing_part_unit_is_kept_but_not_counted) {
    scratch_dir dir;
    bytes xdf = make_xdf(dir);
    xdf.resize(xdf.size() + 700, 0x5A);
    write_file(dir.file("d.xdf"), xdf);
    disk_image disk;
    ASSERT_EQ(load_disk_image(&disk, dir.file("d.xdf").c_str(), 0), 0);
    EXPECT_EQ(disk.fat_entry_count, 1232);
    EXPECT_EQ(disk.image, xdf);
}

struct fat_case {
    const char* what;
    std::vector<std::uint8_t> fat_bytes;
    std::size_t image_length;
    std::vector<std::int32_t> entries;
};

class decode_fat12_table : public testing::TestWithParam<fat_case> {};

TEST_P(decode_fat12_table, unpacks_low_nibble_first_and_stays_inside_image) {
    const fat_case& c = GetParam();
    // Exactly image_length bytes on the heap, so a read past the end is caught
    // by the sanitizer build.
    bytes image(c.image_length, 0);
    for (std::size_t i = 0; i < c.fat_bytes.size() && 1024 + i < image.size(); ++i) {
        image[1024 + i] = c.fat_bytes[i];
    }
    std::int32_t count = -7;
    std::vector<std::int32_t> fat;
    ASSERT_TRUE(decode_fat12(image, 0, &count, &fat));
    EXPECT_EQ(count, static_cast<std::int32_t>(c.entries.size()));
    EXPECT_EQ(fat, c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    fat_bytes, decode_fat12_table,
    testing::Values(fat_case{"small_values", {0x03, 0x40, 0x00, 0x00}, 3 * 1024, {0x003, 0x004, 0}},
                    fat_case{"all_ones",
                             {0xFF, 0xFF, 0xFF, 0x21, 0x43},
                             4 * 1024,
                             {0xFFF, 0xFFF, 0x321, 0x004}},
                    fat_case{"odd_count_drops_last_half",
                             {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC},
                             4 * 1024 - 1,
                             {0x412, 0x563, 0xA78}},
                    fat_case{"bytes_past_image_read_as_zero", {}, 1024, {0}}),
    [](const testing::TestParamInfo<fat_case>& info) { return std::string(info.param.what); });

TEST(decode_fat12, image_shorter_than_offset_reports_memory_exhaust_without_line_end) {
    const bytes image(100, 0xAA);
    std::int32_t count = 5;
    std::vector<std::int32_t> fat;
    bool ok = true;
    const std::string out = capture_stdout([&] { ok = decode_fat12(image, 4096, &count, &fat); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "memory exhaust!");
    EXPECT_EQ(count, (100 - 4096) / 1024);
    EXPECT_TRUE(fat.empty());
}

// Every length that cannot hold the root directory is refused before any
// look-up can run off the end: each unit boundary, odd lengths, and for the
// FDI layout lengths shorter than the header itself.
struct short_case {
    std::int32_t offset;
    std::size_t length;
};

class short_image : public testing::TestWithParam<short_case> {};

TEST_P(short_image, is_refused_with_its_length) {
    const short_case c = GetParam();
    scratch_dir dir;
    static bytes full; // one real disk per test process is plenty
    if (full.empty()) {
        full = make_fdi(make_xdf(dir));
    }
    const auto first = full.begin() + (c.offset == 0 ? 4096 : 0);
    const bytes truncated(first, first + static_cast<std::ptrdiff_t>(c.length));
    const std::string path = dir.file("short.img");
    write_file(path, truncated);

    disk_image disk;
    int result = 0;
    const std::string out =
        capture_stdout([&] { result = load_disk_image(&disk, path.c_str(), c.offset); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, "disk image too short '" + path + "' " + std::to_string(c.length) + " < " +
                       std::to_string(c.offset + 11264) + "\n");
    expect_empty(disk);
}

std::vector<short_case> short_cases() {
    std::vector<short_case> cases;
    for (std::int32_t offset : {0, 4096}) {
        for (std::size_t units = 1; units <= 10; ++units) {
            cases.push_back({offset, static_cast<std::size_t>(offset) + units * 1024});
        }
        for (std::size_t extra : {1u, 1027u, 5121u, 11263u}) {
            cases.push_back({offset, static_cast<std::size_t>(offset) + extra});
        }
    }
    for (std::size_t length : {1u, 100u, 1024u, 4095u, 4096u}) {
        cases.push_back({4096, length});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(lengths, short_image, testing::ValuesIn(short_cases()));

TEST(load_disk_image, image_of_exactly_the_root_directory_loads_and_finds_no_cluster) {
    scratch_dir dir;
    bytes xdf = make_xdf(dir);
    xdf.resize(11264);
    write_file(dir.file("root.xdf"), xdf);
    disk_image disk;
    ASSERT_EQ(load_disk_image(&disk, dir.file("root.xdf").c_str(), 0), 0);
    EXPECT_EQ(disk.fat_entry_count, 11);
    std::vector<std::uint8_t> buffer(10);
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(read_disk_file(&disk, "ODD.BIN", buffer, 1), -1); });
    EXPECT_EQ(out, "file size mismatch 'ODD.BIN' 3000 != 10 ... ignored\nfat error 'ODD.BIN'\n");
}

TEST(load_disk_image, unreadable_files_are_reported_and_leave_record_empty) {
    scratch_dir dir;
    write_file(dir.file("empty.xdf"), {});
    // Larger than a 32-bit length can hold; sparse, so it costs no space.
    const std::string huge = dir.file("huge.xdf");
    write_file(huge, {});
    ASSERT_EQ(::truncate(huge.c_str(), 0x80000000LL), 0);

    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {dir.file("missing.xdf"), "open error '" + dir.file("missing.xdf") + "'\n"},
        {dir.file("empty.xdf"), "read error '" + dir.file("empty.xdf") + "'\n"},
        {huge, "disk image too large '" + huge + "'\n"},
    };
    for (const auto& c : cases) {
        disk_image disk;
        disk.image_length = 12; // loading must clear what was there
        int result = 0;
        const std::string out =
            capture_stdout([&] { result = load_disk_image(&disk, c.path.c_str(), 4096); });
        EXPECT_EQ(result, -1) << c.path;
        EXPECT_EQ(out, c.message);
        expect_empty(disk);
    }
}

TEST(load_disk_image, loading_again_replaces_the_previous_image) {
    scratch_dir dir;
    const bytes xdf = make_xdf(dir);
    write_file(dir.file("d.xdf"), xdf);
    write_file(dir.file("d.fdi"), make_fdi(xdf));
    disk_image disk;
    ASSERT_EQ(load_disk_image(&disk, dir.file("d.fdi").c_str(), 4096), 0);
    ASSERT_EQ(load_disk_image(&disk, dir.file("d.xdf").c_str(), 0), 0);
    EXPECT_EQ(disk.disk_offset, 0);
    EXPECT_EQ(disk.image, xdf);
    EXPECT_EQ(disk.fat.size(), 1232u);
}

} // namespace
} // namespace kz::test

// Looking files up, reading and replacing them along their chains, and
// writing the image back, on images made by mkfs.fat and mcopy.
#include "disk/disk.h"
#include "disk_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kz::test {
namespace {

TEST(make_dir_name, pads_name_and_extension_and_reports_leftovers) {
    const struct {
        const char* name;
        const char* dir_form;
        int result;
    } cases[] = {
        {"TILES.CH", "TILES   CH ", 0},
        {"NPC.CH", "NPC     CH ", 0},
        {"ABCDEFGH.IJ", "ABCDEFGHIJ ", 0},
        {"tiles.ch", "tiles   ch ", 0},
        {"ABCDEFGHI", "ABCDEFGH   ", -1},
        {"ABCDEFGHI.CH", "ABCDEFGH   ", -1},
        {"A.BCDE", "A       BCD", -1},
        {"A.B.C", "A       B.C", 0},
        {"", "           ", 0},
        {"NOEXT", "NOEXT      ", 0},
        {"TRAIL.", "TRAIL      ", 0},
    };
    for (const auto& c : cases) {
        char dst[dir_name_length + 1];
        std::memset(dst, '#', sizeof dst);
        EXPECT_EQ(make_dir_name(dst, c.name), c.result) << c.name;
        EXPECT_EQ(std::string(dst, 11), c.dir_form) << c.name;
        EXPECT_EQ(dst[11], '\0') << c.name;
    }
}

// Byte positions inside the disk data, independent of the code under test.
std::size_t entry_position(const bytes& img, std::int32_t offset, const char* dir_form) {
    for (std::size_t pos = offset + 5120u; pos < offset + 11264u; pos += 32) {
        if (std::memcmp(img.data() + pos, dir_form, 11) == 0) {
            return pos;
        }
    }
    ADD_FAILURE() << "no entry " << dir_form;
    return offset + 5120u;
}

void set_le(bytes& img, std::size_t pos, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        img[pos + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void set_fat_entry(bytes& img, std::int32_t offset, int n, int value) {
    const std::size_t pos = offset + 1024u + n * 3u / 2;
    if (n % 2 == 0) {
        img[pos] = static_cast<std::uint8_t>(value);
        img[pos + 1] = static_cast<std::uint8_t>((img[pos + 1] & 0xF0) | (value >> 8));
    } else {
        img[pos] = static_cast<std::uint8_t>((img[pos] & 0x0F) | (value << 4));
        img[pos + 1] = static_cast<std::uint8_t>(value >> 4);
    }
}

// The loaded fixture, once per image kind.
class disk_files : public testing::TestWithParam<std::int32_t> {
  protected:
    void SetUp() override {
        offset = GetParam();
        const bytes xdf = make_xdf(dir);
        original = offset == 0 ? xdf : make_fdi(xdf);
        ASSERT_EQ(load(original, &disk), 0);
    }

    int load(const bytes& img, disk_image* into) {
        const std::string path = dir.file("in.img");
        write_file(path, img);
        return load_disk_image(into, path.c_str(), offset);
    }

    std::vector<int> chain_of(const char* dir_form) {
        const std::size_t pos = entry_position(original, offset, dir_form);
        std::vector<int> chain{original[pos + 26] | original[pos + 27] << 8};
        while (disk.fat.at(chain.back()) < 0xFF8 && chain.size() < 1232) {
            chain.push_back(disk.fat.at(chain.back()));
        }
        return chain;
    }

    // The disk data alone, where mtools and fsck.fat expect it.
    std::string as_xdf_file(const bytes& img, const char* name) {
        const std::string path = dir.file(name);
        write_file(path, bytes(img.begin() + offset, img.end()));
        return path;
    }

    bytes mcopy_out(const std::string& xdf_path, const char* name) {
        const std::string host = dir.file(std::string("out_") + name);
        EXPECT_EQ(run(std::string(KZ_MCOPY) + " -n -i " + quote(xdf_path) + " ::" + name + " " +
                      quote(host)),
                  0);
        return read_file(host);
    }

    scratch_dir dir;
    std::int32_t offset = 0;
    bytes original;
    disk_image disk;
};

INSTANTIATE_TEST_SUITE_P(image_kinds, disk_files, testing::Values(fdi_disk_offset, xdf_disk_offset),
                         [](const auto& info) { return info.param == 0 ? "xdf" : "fdi"; });

TEST_P(disk_files, reads_every_file_as_mcopy_stored_it) {
    for (const auto& f : fixture_files()) {
        bytes buffer(f.size);
        int result = -1;
        const std::string out =
            capture_stdout([&] { result = read_disk_file(&disk, f.name, buffer, 1); });
        EXPECT_EQ(result, 0) << f.name;
        EXPECT_EQ(out, "");
        EXPECT_TRUE(buffer == fixture_content(f.name)) << f.name;
    }
    // The fixture is only worth something if FRAG.BIN really jumps.
    const std::vector<int> chain = chain_of("FRAG    BIN");
    ASSERT_EQ(chain.size(), 5u);
    EXPECT_NE(chain[3], chain[2] + 1);
}

TEST_P(disk_files, name_case_matters_only_without_ignore_case) {
    const struct {
        const char* name;
        int ignore_case;
        bool found;
    } cases[] = {
        {"TILES.CH", 0, true}, {"tiles.ch", 0, false}, {"Tiles.cH", 0, false},
        {"TILES.CH", 1, true}, {"tiles.ch", 1, true},  {"tILeS.Ch", 1, true},
        {"TILES.C", 1, false}, {"TILE.CH", 1, false},
    };
    for (const auto& c : cases) {
        char dir_form[dir_name_length + 1];
        ASSERT_EQ(make_dir_name(dir_form, c.name), 0);
        root_entry entry;
        EXPECT_EQ(find_root_entry(&disk, dir_form, c.ignore_case, &entry) == 0, c.found)
            << c.name << " ignore_case " << c.ignore_case;
        if (c.found) {
            EXPECT_EQ(entry.size, 98304);
            EXPECT_EQ(entry.first_cluster, 2);
        }
    }
}

TEST_P(disk_files, size_check_reads_exactly_the_requested_bytes) {
    const bytes content = fixture_content("ODD.BIN");
    const struct {
        const char* name;
        std::size_t length;
        int result;
        std::string message;
    } cases[] = {
        {"ODD.BIN", 3000, 0, ""},
        {"odd.bin", 2999, 0, "file size mismatch 'odd.bin' 3000 != 2999 ... ignored\n"},
        {"ODD.BIN", 1500, 0, "file size mismatch 'ODD.BIN' 3000 != 1500 ... ignored\n"},
        {"ODD.BIN", 0, 0, "file size mismatch 'ODD.BIN' 3000 != 0 ... ignored\n"},
        {"ODD.BIN", 3001, -1, "file size error 'ODD.BIN' 3000 < 3001\n"},
        {"NOSUCH.BIN", 10, -1, "can't find 'NOSUCH.BIN'\n"},
        {"A.TMP", 10, -1, "can't find 'A.TMP'\n"}, // deleted by mdel
        {"LONGNAME9.BIN", 10, -1, "illegal filename 'LONGNAME9.BIN'\n"},
        {"ODD.BINX", 10, -1, "illegal filename 'ODD.BINX'\n"},
    };
    constexpr std::size_t guard = 64;
    for (const auto& c : cases) {
        bytes buffer(c.length + guard, 0xEE);
        int result = 0;
        const std::string out = capture_stdout(
            [&] { result = read_disk_file(&disk, c.name, std::span(buffer).first(c.length), 1); });
        EXPECT_EQ(result, c.result) << c.name << " " << c.length;
        EXPECT_EQ(out, c.message);
        bytes expected(c.length + guard, 0xEE);
        if (c.result == 0) {
            std::copy_n(content.begin(), c.length, expected.begin());
        }
        EXPECT_TRUE(buffer == expected) << c.name << " " << c.length;
    }
}

// ODD.BIN takes three clusters; each case damages its entry or chain. The
// expected buffer is given as the file's 1024-byte pieces in the order the
// damaged chain delivers them.
struct chain_case {
    const char* what;
    std::function<void(bytes&, std::int32_t, std::size_t entry, const std::vector<int>&)> mutate;
    int result;
    std::vector<int> pieces;
};

TEST_P(disk_files, damaged_chains_end_with_fat_error_and_never_hang) {
    const std::vector<int> chain = chain_of("ODD     BIN");
    ASSERT_EQ(chain.size(), 3u);
    auto first = [](int cluster) {
        return [cluster](bytes& img, std::int32_t, std::size_t entry, const std::vector<int>&) {
            set_le(img, entry + 26, static_cast<std::uint32_t>(cluster), 2);
        };
    };
    auto link = [](int index, int value) {
        return
            [index, value](bytes& img, std::int32_t off, std::size_t, const std::vector<int>& c) {
                set_fat_entry(img, off, c[index], value < 0 ? c[-value - 1] : value);
            };
    };
    const chain_case cases[] = {
        {"first_cluster_free", first(0), -1, {}},
        {"first_cluster_reserved", first(1), -1, {}},
        {"first_cluster_past_image", first(1223), -1, {}},
        {"first_cluster_past_table", first(1232), -1, {}},
        {"first_cluster_ffff", first(0xFFFF), -1, {}},
        {"next_is_free", link(0, 0), -1, {0}},
        {"next_is_reserved", link(0, 1), -1, {0}},
        {"chain_ends_early", link(1, 0xFFF), -1, {0, 1}},
        {"next_is_bad_cluster", link(1, 0xFF7), -1, {0, 1}},
        {"loop_back_to_first", link(1, -1), 0, {0, 1, 0}},
        {"loop_on_itself", link(0, -1), 0, {0, 0, 0}},
    };
    const bytes content = fixture_content("ODD.BIN");
    const std::size_t entry = entry_position(original, offset, "ODD     BIN");
    for (const auto& c : cases) {
        bytes img = original;
        c.mutate(img, offset, entry, chain);
        disk_image damaged;
        ASSERT_EQ(load(img, &damaged), 0) << c.what;
        bytes buffer(3000, 0xEE);
        int result = 0;
        const std::string out =
            capture_stdout([&] { result = read_disk_file(&damaged, "ODD.BIN", buffer, 1); });
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(out, c.result == 0 ? "" : "fat error 'ODD.BIN'\n") << c.what;
        bytes expected(3000, 0xEE);
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const std::size_t n = std::min<std::size_t>(1024, 3000 - i * 1024);
            std::copy_n(content.begin() + c.pieces[i] * 1024, n, expected.begin() + i * 1024);
        }
        EXPECT_TRUE(buffer == expected) << c.what;
    }
}

TEST_P(disk_files, looping_chain_ends_when_the_length_is_used_up) {
    const std::vector<int> chain = chain_of("ODD     BIN");
    bytes img = original;
    const std::size_t entry = entry_position(img, offset, "ODD     BIN");
    set_le(img, entry + 28, 0x7FFFFFFF, 4);
    set_fat_entry(img, offset, chain[1], chain[0]);
    disk_image damaged;
    ASSERT_EQ(load(img, &damaged), 0);
    bytes buffer(4 << 20);
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(read_disk_file(&damaged, "ODD.BIN", buffer, 1), 0); });
    EXPECT_EQ(out, "file size mismatch 'ODD.BIN' 2147483647 != 4194304 ... ignored\n");
    const bytes content = fixture_content("ODD.BIN");
    EXPECT_TRUE(std::equal(buffer.end() - 2048, buffer.end(), content.begin()));
}

TEST_P(disk_files, zero_length_reads_nothing_even_without_a_cluster) {
    bytes img = original;
    const std::size_t entry = entry_position(img, offset, "ODD     BIN");
    set_le(img, entry + 26, 0, 2);
    set_le(img, entry + 28, 0, 4);
    disk_image damaged;
    ASSERT_EQ(load(img, &damaged), 0);
    const std::string out = capture_stdout(
        [&] { EXPECT_EQ(read_disk_file(&damaged, "ODD.BIN", std::span<std::uint8_t>(), 1), 0); });
    EXPECT_EQ(out, "");
}

TEST_P(disk_files, last_cluster_of_the_disk_is_usable) {
    // Unit 1231, the last of the disk, is cluster 1222.
    bytes img = original;
    const std::size_t entry = entry_position(img, offset, "ODD     BIN");
    set_le(img, entry + 26, 1222, 2);
    set_le(img, entry + 28, 1024, 4);
    const bytes marker = pattern(1024, 81);
    std::copy(marker.begin(), marker.end(), img.end() - 1024);
    disk_image edited;
    ASSERT_EQ(load(img, &edited), 0);
    bytes buffer(1024);
    EXPECT_EQ(read_disk_file(&edited, "ODD.BIN", buffer, 1), 0);
    EXPECT_TRUE(buffer == marker);
}

TEST_P(disk_files, earlier_of_two_entries_with_one_name_wins) {
    // Slots 20 and 21 lie behind empty entries, which must not end the search.
    bytes img = original;
    const std::size_t odd = entry_position(img, offset, "ODD     BIN");
    const std::size_t b = entry_position(img, offset, "B       DAT");
    const std::size_t slot20 = offset + 5120u + 20 * 32;
    std::copy_n(img.begin() + odd, 32, img.begin() + slot20);
    std::copy_n(img.begin() + b, 32, img.begin() + slot20 + 32);
    std::memcpy(img.data() + slot20, "DUP     BIN", 11);
    std::memcpy(img.data() + slot20 + 32, "DUP     BIN", 11);
    disk_image edited;
    ASSERT_EQ(load(img, &edited), 0);
    bytes buffer(2048);
    capture_stdout([&] { EXPECT_EQ(read_disk_file(&edited, "dup.bin", buffer, 1), 0); });
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), fixture_content("ODD.BIN").begin()));
}

TEST(find_root_entry, record_shorter_than_its_directory_is_searched_only_as_far_as_it_goes) {
    // Loading refuses such images; a record made by hand must still never be
    // read past its end. Two whole entries fit, the third is cut short.
    disk_image disk;
    disk.image.assign(5120 + 2 * 32 + 20, ' ');
    disk.image_length = static_cast<std::int32_t>(disk.image.size());
    std::memcpy(disk.image.data() + 5120 + 32, "FOUND   BIN", 11);
    char dir_form[dir_name_length + 1];
    root_entry entry;
    ASSERT_EQ(make_dir_name(dir_form, "FOUND.BIN"), 0);
    EXPECT_EQ(find_root_entry(&disk, dir_form, 0, &entry), 0);
    ASSERT_EQ(make_dir_name(dir_form, ""), 0);
    EXPECT_EQ(find_root_entry(&disk, dir_form, 0, &entry), 0); // the blank first entry
    disk.image.resize(5120 + 31);
    disk.image_length = static_cast<std::int32_t>(disk.image.size());
    EXPECT_EQ(find_root_entry(&disk, dir_form, 0, &entry), -1);
    bytes buffer(4);
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(read_disk_file(&disk, "X", buffer, 1), -1); });
    EXPECT_EQ(out, "can't find 'X'\n");
}

TEST_P(disk_files, replacing_with_the_same_bytes_writes_an_identical_image) {
    const std::string out = dir.file("out.img");
    for (const char* name : {"TILES.CH", "NPC.CH", "FRAG.BIN"}) {
        EXPECT_EQ(replace_disk_file(&disk, name, fixture_content(name), 1), 0);
    }
    ASSERT_EQ(write_disk_image(&disk, out.c_str()), 0);
    EXPECT_TRUE(read_file(out) == original);
}

TEST_P(disk_files, replacement_changes_only_the_files_clusters) {
    const bytes fresh = pattern(5000, 77);
    ASSERT_EQ(replace_disk_file(&disk, "frag.bin", fresh, 1), 0);
    const std::string out = dir.file("out.img");
    ASSERT_EQ(write_disk_image(&disk, out.c_str()), 0);
    const bytes written = read_file(out);
    ASSERT_EQ(written.size(), original.size());

    // Header, boot sector, FAT and directory unchanged; the data area differs
    // in no more bytes than the file has.
    const std::size_t data_start = offset + 11264u;
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + data_start, original.begin()));
    std::size_t differing = 0;
    for (std::size_t i = data_start; i < written.size(); ++i) {
        differing += written[i] != original[i];
    }
    EXPECT_LE(differing, 5000u);
    EXPECT_GT(differing, 4900u);

    const std::string xdf = as_xdf_file(written, "check.xdf");
    EXPECT_EQ(run(std::string(KZ_FSCK_FAT) + " -n " + quote(xdf)), 0);
    EXPECT_TRUE(mcopy_out(xdf, "FRAG.BIN") == fresh);
    for (const char* name : {"TILES.CH", "NPC.CH", "ODD.BIN", "B.DAT"}) {
        EXPECT_TRUE(mcopy_out(xdf, name) == fixture_content(name)) << name;
    }
}

TEST_P(disk_files, shorter_replacement_keeps_the_rest_of_the_file) {
    const bytes fresh = pattern(1500, 78);
    const std::string msg =
        capture_stdout([&] { EXPECT_EQ(replace_disk_file(&disk, "ODD.BIN", fresh, 1), 0); });
    EXPECT_EQ(msg, "file size mismatch 'ODD.BIN' 3000 != 1500 ... ignored\n");
    const std::string out = dir.file("out.img");
    ASSERT_EQ(write_disk_image(&disk, out.c_str()), 0);
    bytes expected = fixture_content("ODD.BIN");
    std::copy(fresh.begin(), fresh.end(), expected.begin());
    EXPECT_TRUE(mcopy_out(as_xdf_file(read_file(out), "check.xdf"), "ODD.BIN") == expected);
}

TEST_P(disk_files, refused_replacement_leaves_the_image_unchanged) {
    const struct {
        const char* name;
        std::size_t length;
        std::string message;
    } cases[] = {
        {"ODD.BIN", 3001, "file size error 'ODD.BIN' 3000 < 3001\n"},
        {"MISSING.BIN", 10, "can't find 'MISSING.BIN'\n"},
        {"MUCHTOOLONG.BIN", 10, "illegal filename 'MUCHTOOLONG.BIN'\n"},
    };
    for (const auto& c : cases) {
        const bytes data(c.length, 0x11);
        const std::string out =
            capture_stdout([&] { EXPECT_EQ(replace_disk_file(&disk, c.name, data, 1), -1); });
        EXPECT_EQ(out, c.message);
        EXPECT_TRUE(disk.image == original) << c.name;
    }
}

TEST_P(disk_files, image_can_be_written_over_its_own_file) {
    const std::string path = dir.file("in.img");
    const bytes fresh = pattern(2048, 79);
    ASSERT_EQ(replace_disk_file(&disk, "B.DAT", fresh, 1), 0);
    ASSERT_EQ(write_disk_image(&disk, path.c_str()), 0);
    EXPECT_TRUE(read_file(path) == disk.image);
    EXPECT_TRUE(mcopy_out(as_xdf_file(read_file(path), "check.xdf"), "B.DAT") == fresh);
}

TEST_P(disk_files, unwritable_targets_fail_with_their_message) {
    const std::string missing = dir.file("no/such/dir/out.img");
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {missing, "open error '" + missing + "'\n"},
        {"/dev/full", "write error '/dev/full'\n"},
    };
    for (const auto& c : cases) {
        int result = 0;
        const std::string out =
            capture_stdout([&] { result = write_disk_image(&disk, c.path.c_str()); });
        EXPECT_EQ(result, -1) << c.path;
        EXPECT_EQ(out, c.message);
    }
}

TEST_P(disk_files, failed_write_keeps_the_existing_image) {
    // A child limited to 64 KiB per file cannot write the 1.2 MB image; the
    // old, small file under the name must survive, and no temporary is left.
    const std::string target = dir.file("old.img");
    const bytes old_content = pattern(3000, 80);
    write_file(target, old_content);
    int status = -1;
    const std::string out = capture_stdout([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 * 1024, 64 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const int result = write_disk_image(&disk, target.c_str());
            std::fflush(stdout);
            ::_exit(result == -1 ? 0 : 1);
        }
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            status = -1;
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out, "write error '" + target + "'\n");
    EXPECT_TRUE(read_file(target) == old_content);
    for (const auto& item : std::filesystem::directory_iterator(dir.path)) {
        const std::string name = item.path().filename().string();
        EXPECT_EQ(name.rfind("old.img.", 0), std::string::npos) << name;
    }
}

} // namespace
} // namespace kz::test

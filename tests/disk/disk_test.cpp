// Loading images, looking files up, reading and replacing them along their
// chains and writing the image back, on images made by mkfs.fat and mtools.
#include "disk/container.h"
#include "disk/disk.h"

#include "io/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace kz::test {
namespace {

// Exit status of a shell command, its output thrown away.
int run(const std::string& command) {
    return run_host_command(command + " >/dev/null 2>&1");
}

// Deterministic bytes with no repeats at any cluster-sized period, so that a
// cluster read from the wrong place or in the wrong order shows.
bytes pattern(std::size_t size, std::uint32_t seed) {
    bytes data(size);
    std::mt19937 next(seed);
    std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(next()); });
    return data;
}

// TILES.CH and NPC.CH at the sizes the tools read, ODD.BIN of a size that is
// no multiple of the cluster, and FRAG.BIN, fragmented on purpose: it fills
// the hole that deleting A.TMP leaves and goes on after B.DAT.
const std::map<std::string, bytes> fixture = {{"TILES.CH", pattern(98304, 1)},
                                              {"NPC.CH", pattern(131072, 2)},
                                              {"ODD.BIN", pattern(3000, 3)},
                                              {"B.DAT", pattern(2048, 4)},
                                              {"FRAG.BIN", pattern(5000, 5)}};

// The X68000 layout: 1232 units of 1024 bytes, one reserved unit, two FATs of
// two units, 192 root entries. Gives the image bytes.
bytes make_xdf(const scratch_dir& dir) {
    const std::string img = dir.file("base.xdf");
    const std::string mdel = std::filesystem::path(KZ_MCOPY).parent_path().string() + "/mdel";
    EXPECT_EQ(run(std::string(KZ_MKFS_FAT) + " -C -S 1024 -s 1 -f 2 -F 12 -r 192 -R 1 -M 0xfe " +
                  "-h 0 '" + img + "' 1232"),
              0);
    auto copy_in = [&](const std::string& name, const bytes& data) {
        write_file(dir.file("host"), data);
        EXPECT_EQ(
            run(std::string(KZ_MCOPY) + " -i '" + img + "' '" + dir.file("host") + "' ::" + name),
            0);
    };
    for (const char* name : {"TILES.CH", "NPC.CH", "ODD.BIN"}) {
        copy_in(name, fixture.at(name));
    }
    copy_in("A.TMP", pattern(3000, 6));
    copy_in("B.DAT", fixture.at("B.DAT"));
    EXPECT_EQ(run(mdel + " -i '" + img + "' ::A.TMP"), 0);
    copy_in("FRAG.BIN", fixture.at("FRAG.BIN"));
    // A subdirectory last, so that the files before keep their clusters.
    const std::string mmd = std::filesystem::path(KZ_MCOPY).parent_path().string() + "/mmd";
    EXPECT_EQ(run(mmd + " -i '" + img + "' ::SUB"), 0);
    copy_in("SUB/INNER.BIN", pattern(1500, 7));
    return read_file(img);
}

// An FDI image: a 4096-byte header that no code interprets (an asymmetric
// pattern, so that a header lost or shifted shows), then the same disk.
bytes make_fdi(const bytes& xdf) {
    bytes fdi(4096);
    for (std::size_t i = 0; i < fdi.size(); ++i) {
        fdi[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    fdi.insert(fdi.end(), xdf.begin(), xdf.end());
    return fdi;
}

std::span<const std::uint8_t> image_of(const disk_image& d) {
    return content_bytes(d.content);
}

bool is_empty(const disk_image& d) {
    return d.format == nullptr && d.units.empty() && image_of(d).empty() && d.fat.empty() &&
           d.path.empty();
}

TEST(load_disk_image, fdi_and_xdf_of_one_disk_give_the_same_fat) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    bytes xdf = make_xdf(dir);
    const bytes fdi = make_fdi(xdf);
    xdf.resize(xdf.size() + 700, 0x5A); // a trailing part-unit is kept but not counted
    write_file(dir.file("d.xdf"), xdf);
    write_file(dir.file("d.fdi"), fdi);
    disk_image from_fdi;
    disk_image from_xdf;
    ASSERT_EQ(load_disk_image(&from_fdi, dir.file("d.fdi").c_str(), fdi_disk_offset), 0);
    ASSERT_EQ(load_disk_image(&from_xdf, dir.file("d.fdi").c_str(), fdi_disk_offset), 0);
    ASSERT_EQ(load_disk_image(&from_xdf, dir.file("d.xdf").c_str(), xdf_disk_offset), 0);
    // Neither header describes the disk: both are read at their fixed offset.
    EXPECT_EQ(std::tuple(from_fdi.format, from_fdi.units.front().offset, from_fdi.units.size()),
              std::tuple(nullptr, 4096, 1232u));
    EXPECT_EQ(std::tuple(from_xdf.format, from_xdf.units.front().offset, from_xdf.units.size()),
              std::tuple(nullptr, 0, 1232u));
    EXPECT_TRUE(std::ranges::equal(image_of(from_fdi), fdi) &&
                std::ranges::equal(image_of(from_xdf), xdf));
    EXPECT_EQ(from_xdf.fat, from_fdi.fat);
    // Media byte 0xFE and the filler, as mkfs.fat stored them.
    EXPECT_EQ(from_xdf.fat.at(0), 0xFFE);
    EXPECT_EQ(from_xdf.fat.at(1), 0xFFF);
    release_disk_image(&from_fdi);
    EXPECT_TRUE(is_empty(from_fdi));
}

TEST(decode_fat12, unpacks_low_nibble_first_and_stays_inside_image) {
    const struct {
        bytes fat_bytes;
        std::size_t image_length;
        std::vector<std::int32_t> entries;
    } cases[] = {
        {{0x03, 0x40, 0x00, 0x00}, 3 * 1024, {0x003, 0x004, 0}},
        {{0xFF, 0xFF, 0xFF, 0x21, 0x43}, 4 * 1024, {0xFFF, 0xFFF, 0x321, 0x004}},
        {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, 4 * 1024 - 1, {0x412, 0x563, 0xA78}}, // odd count
        {{}, 1024, {0}}}; // bytes past the image read as 0
    for (const auto& c : cases) {
        // Exactly image_length bytes on the heap, so that the sanitizer build
        // catches a read past the end.
        disk_image disk;
        bytes& image = disk.content.buffer;
        image.assign(c.image_length, 0);
        std::copy_n(c.fat_bytes.begin(), std::min(c.fat_bytes.size(), image.size() - 1024),
                    image.begin() + 1024);
        disk.units = linear_layout(static_cast<std::int64_t>(image.size()), 0).units;
        std::vector<std::int32_t> fat{-7};
        EXPECT_TRUE(decode_fat12(&disk, &fat));
        EXPECT_EQ(fat, c.entries);
    }
}

// Every way a file can fail to be a disk: missing, empty, too large for a
// 32-bit length, or too short to hold the root directory (each unit boundary,
// odd lengths, and for an FDI lengths shorter than the header itself). An
// image that ends with the root directory loads, but holds no cluster.
TEST(load_disk_image, unusable_files_are_reported_and_leave_the_record_empty) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    const bytes fdi = make_fdi(make_xdf(dir));
    std::vector<std::pair<std::int32_t, long long>> cases{{0, -1}, {4096, 0}, {0, 0x80000000LL}};
    for (std::int32_t offset : {0, 4096}) {
        for (long long length = 1024; length <= 11264; length += 1024) {
            cases.emplace_back(offset, offset + length);
        }
        for (long long length : {1, 1027, 5121, 11263}) {
            cases.emplace_back(offset, offset + length);
        }
    }
    for (long long length : {1, 100, 1024, 4095, 4096}) {
        cases.emplace_back(4096, length);
    }
    const std::string path = dir.file("d.img");
    for (const auto& c : cases) {
        const std::int32_t offset = c.first;
        const long long length = c.second;
        SCOPED_TRACE(std::to_string(offset) + " " + std::to_string(length));
        std::filesystem::remove(path);
        std::string message = "disk image too short '" + path + "' " + std::to_string(length) +
                              " < " + std::to_string(offset + 11264) + "\n";
        if (length == -1) {
            message = "open error '" + path + "'\n";
        } else if (length > 0x7FFFFFFF) {
            write_file(path, {});
            std::filesystem::resize_file(path, static_cast<std::uintmax_t>(length)); // sparse
            message = "disk image too large '" + path + "'\n";
        } else {
            const auto first = fdi.begin() + 4096 - offset;
            write_file(path, bytes(first, first + static_cast<std::ptrdiff_t>(length)));
            // The root directory whole: loaded, after a warning that the
            // disk goes on past the file's end.
            message = length == 0 ? "read error '" + path + "'\n"
                      : length == offset + 11264
                          ? "disk image shorter than its disk '" + path + "' " +
                                std::to_string(length) + " < " +
                                std::to_string(offset + 1261568) + " ... read as far as it goes\n"
                          : message;
        }
        const bool loads = length == offset + 11264;
        disk_image disk;
        disk.content.buffer.assign(12, 0); // loading must clear what was there
        int result = 0;
        EXPECT_EQ(capture_stdout([&] { result = load_disk_image(&disk, path.c_str(), offset); }),
                  message);
        EXPECT_EQ(result, loads ? 0 : -1);
        EXPECT_EQ(is_empty(disk), !loads);
        if (loads) {
            bytes buffer(3000);
            EXPECT_EQ(capture_stdout([&] { read_disk_file(&disk, "ODD.BIN", buffer, 1); }),
                      "fat error 'ODD.BIN'\n");
        }
    }
}

// Every image that cannot be read says "read error", as a file read whole
// always did: a folder (which POSIX systems open and Windows does not), and
// a mapped image cut short after loading, whose pages then fault. A read or
// a write-back from it fails instead of handing out zeros as the file's.
TEST(load_disk_image, images_that_cannot_be_read_say_read_error) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    const bytes xdf = make_xdf(dir);
    disk_image disk;
    int result = 0;
    EXPECT_EQ(capture_stdout([&] { result = load_disk_image(&disk, dir.path.c_str(), 0); }),
              "read error '" + dir.path + "'\n");
    EXPECT_EQ(result, -1);
#ifndef _WIN32
    const std::string path = dir.file("cut.xdf");
    write_file(path, xdf);
    ASSERT_EQ(load_disk_image(&disk, path.c_str(), 0), 0);
    std::filesystem::resize_file(path, 11264); // the FAT and directory stay
    bytes buffer(98304);
    EXPECT_EQ(capture_stdout([&] { result = read_disk_file(&disk, "TILES.CH", buffer, 1); }),
              "read error '" + path + "'\n");
    EXPECT_EQ(result, -1);
    const std::string out = dir.file("out.xdf");
    EXPECT_EQ(capture_stdout([&] { result = write_disk_image(&disk, out.c_str()); }),
              "read error '" + path + "'\n");
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(std::filesystem::exists(out));
#endif
}

TEST(make_dir_name, pads_name_and_extension_and_reports_leftovers) {
    const struct {
        const char* name;
        const char* dir_form;
        int result;
    } cases[] = {{"TILES.CH", "TILES   CH ", 0},   {"ABCDEFGH.IJ", "ABCDEFGHIJ ", 0},
                 {"tiles.ch", "tiles   ch ", 0},   {"A.B.C", "A       B.C", 0},
                 {"", "           ", 0},           {"TRAIL.", "TRAIL      ", 0},
                 {"ABCDEFGHI", "ABCDEFGH   ", -1}, {"ABCDEFGHI.CH", "ABCDEFGH   ", -1},
                 {"A.BCDE", "A       BCD", -1}};
    for (const auto& c : cases) {
        char dst[dir_name_length + 1];
        std::memset(dst, '#', sizeof dst);
        EXPECT_EQ(make_dir_name(dst, c.name), c.result) << c.name;
        EXPECT_EQ(std::string(dst, sizeof dst), std::string(c.dir_form) + '\0') << c.name;
    }
}

TEST(find_root_entry, record_shorter_than_its_directory_is_searched_only_as_far_as_it_goes) {
    // Loading refuses such images; a record made by hand must still never be
    // read past its end. One unit of the directory is there, and a part of
    // the next that is no unit.
    disk_image disk;
    disk.content.buffer.assign(6 * 1024 + 20, ' ');
    disk.units = linear_layout(static_cast<std::int64_t>(disk.content.buffer.size()), 0).units;
    std::memcpy(disk.content.buffer.data() + 5120 + 32, "FOUND   BIN", 11);
    root_entry entry;
    EXPECT_EQ(find_root_entry(&disk, "FOUND   BIN", 0, &entry), 0);
    EXPECT_EQ(find_root_entry(&disk, "MISSING BIN", 0, &entry), -1);
}

// The loaded fixture, once per image kind. Positions in the image are found
// here independently of the code under test.
class disk_files : public testing::TestWithParam<std::int32_t> {
  protected:
    void SetUp() override {
        KZ_SKIP_WITHOUT_HOST_TOOLS();
        const bytes xdf = make_xdf(dir);
        original = offset == 0 ? xdf : make_fdi(xdf);
        ASSERT_EQ(load(original, &disk), 0);
    }
    int load(const bytes& img, disk_image* into) {
        write_file(dir.file("in.img"), img);
        return load_disk_image(into, dir.file("in.img").c_str(), offset);
    }
    std::size_t entry_of(const char* dir_form) const {
        std::size_t pos = offset + 5120u;
        while (pos < offset + 11264u && std::memcmp(original.data() + pos, dir_form, 11) != 0) {
            pos += 32;
        }
        return pos;
    }
    std::vector<int> chain_of(const char* dir_form) const {
        const std::size_t pos = entry_of(dir_form);
        std::vector<int> chain{original.at(pos + 26) | original.at(pos + 27) << 8};
        while (disk.fat.at(chain.back()) < 0xFF8 && chain.size() < 1232) {
            chain.push_back(disk.fat.at(chain.back()));
        }
        return chain;
    }
    static void put_le(bytes& img, std::size_t pos, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            img[pos + i] = static_cast<std::uint8_t>(value >> 8 * i);
        }
    }
    void set_fat_entry(bytes& img, int n, std::uint32_t value) const {
        const std::size_t pos = offset + 1024u + n * 3u / 2;
        const std::uint32_t word = img[pos] | img[pos + 1] << 8;
        put_le(img, pos, n % 2 ? (word & 0x000F) | value << 4 : (word & 0xF000) | value, 2);
    }

    scratch_dir dir;
    const std::int32_t offset = GetParam();
    bytes original;
    disk_image disk;
};

INSTANTIATE_TEST_SUITE_P(image_kinds, disk_files, testing::Values(fdi_disk_offset, xdf_disk_offset),
                         [](const auto& info) { return info.param == 0 ? "xdf" : "fdi"; });

TEST_P(disk_files, reads_every_file_as_mcopy_stored_it_and_writes_the_same_back) {
    // The fixture is only worth something if FRAG.BIN really jumps.
    const std::vector<int> chain = chain_of("FRAG    BIN");
    ASSERT_EQ(chain.size(), 5u);
    EXPECT_NE(chain[3], chain[2] + 1);
    for (const auto& file : fixture) {
        const char* name = file.first.c_str();
        bytes buffer(file.second.size());
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(read_disk_file(&disk, name, buffer, 1), 0); }),
                  "");
        EXPECT_TRUE(buffer == file.second) << name;
        EXPECT_EQ(replace_disk_file(&disk, name, buffer, 1), 0);
    }
    ASSERT_EQ(write_disk_image(&disk, dir.file("out.img").c_str()), 0);
    EXPECT_TRUE(read_file(dir.file("out.img")) == original);
}

// Look-up, size check and a copy of exactly the requested bytes. A refused
// replacement, which runs the same checks, must not write before them.
TEST_P(disk_files, size_check_reads_exactly_the_requested_bytes) {
    const struct {
        const char* name;
        int ignore_case;
        std::size_t length;
        std::string message;
    } cases[] = {{"ODD.BIN", 0, 3000, ""},
                 {"oDd.BiN", 1, 3000, ""},
                 {"odd.bin", 1, 2999, "file size mismatch 'odd.bin' 3000 != 2999 ... ignored\n"},
                 {"odd.bin", 0, 3000, "can't find 'odd.bin'\n"},
                 {"Odd.BIN", 0, 3000, "can't find 'Odd.BIN'\n"},
                 {"ODD.BIN", 1, 3001, "file size error 'ODD.BIN' 3000 < 3001\n"},
                 {"OD.BIN", 1, 10, "can't find 'OD.BIN'\n"},
                 {"A.TMP", 1, 10, "can't find 'A.TMP'\n"}, // deleted by mdel
                 {"LONGNAME9.BIN", 1, 10, "illegal filename 'LONGNAME9.BIN'\n"},
                 {"ODD.BINX", 1, 10, "illegal filename 'ODD.BINX'\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool ok = c.message.empty() || c.message.find("mismatch") != std::string::npos;
        bytes buffer(c.length + 64, 0xEE); // a guard behind the requested bytes
        const auto requested = std::span(buffer).first(c.length);
        int result = 0;
        EXPECT_EQ(capture_stdout(
                      [&] { result = read_disk_file(&disk, c.name, requested, c.ignore_case); }),
                  c.message);
        EXPECT_EQ(result, ok ? 0 : -1);
        bytes expected(c.length + 64, 0xEE);
        if (ok) {
            std::copy_n(fixture.at("ODD.BIN").begin(), c.length, expected.begin());
        } else {
            EXPECT_EQ(capture_stdout([&] {
                          result = replace_disk_file(&disk, c.name, requested, c.ignore_case);
                      }),
                      c.message);
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(std::ranges::equal(image_of(disk), original));
        }
        EXPECT_TRUE(buffer == expected);
    }
}

// ODD.BIN takes three clusters; each case sets its first cluster and size and
// may relink one cluster of its chain, then reads `length` bytes. `read` lists
// the clusters whose bytes must arrive, in order.
TEST_P(disk_files, damaged_chains_end_with_fat_error_and_never_hang) {
    const std::vector<int> c = chain_of("ODD     BIN");
    ASSERT_EQ(c.size(), 3u);
    const struct {
        const char* what;
        int first;
        int relink; // index into the chain, or -1
        int next;
        std::size_t length;
        int result;
        std::vector<int> read;
    } cases[] = {{"first_cluster_free", 0, -1, 0, 3000, -1, {}},
                 {"zero_length_needs_no_cluster", 0, -1, 0, 0, 0, {}},
                 {"first_cluster_reserved", 1, -1, 0, 3000, -1, {}},
                 {"first_cluster_past_image", 1223, -1, 0, 3000, -1, {}},
                 {"first_cluster_past_table", 1232, -1, 0, 3000, -1, {}},
                 {"last_cluster_of_the_disk_is_usable", 1222, -1, 0, 3000, -1, {1222}},
                 {"next_is_free", c[0], 0, 0, 3000, -1, {c[0]}},
                 {"chain_ends_early", c[0], 1, 0xFFF, 3000, -1, {c[0], c[1]}},
                 {"chain_past_the_length_is_not_followed", c[0], 1, 0, 2048, 0, {c[0], c[1]}},
                 {"loop_back_to_first", c[0], 1, c[0], 3000, -1, {c[0], c[1]}},
                 {"loop_on_itself", c[0], 0, c[0], 3000, -1, {c[0]}},
                 {"loop_past_the_length_is_not_followed", c[0], 1, c[0], 2048, 0, {c[0], c[1]}}};
    const std::size_t entry = entry_of("ODD     BIN");
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        bytes img = original;
        put_le(img, entry + 26, k.first, 2);
        put_le(img, entry + 28, static_cast<std::uint32_t>(k.length), 4);
        if (k.relink >= 0) {
            set_fat_entry(img, c[k.relink], k.next);
        }
        disk_image damaged;
        ASSERT_EQ(load(img, &damaged), 0);
        bytes buffer(k.length + 64, 0xEE);
        int result = 0;
        const std::string out = capture_stdout([&] {
            result = read_disk_file(&damaged, "ODD.BIN", std::span(buffer).first(k.length), 1);
        });
        EXPECT_EQ(result, k.result);
        EXPECT_EQ(out, k.result ? "fat error 'ODD.BIN'\n" : "");
        bytes expected(k.length + 64, 0xEE);
        for (std::size_t i = 0; i < k.read.size(); ++i) {
            const auto from = original.begin() + offset + (k.read[i] + 9) * 1024;
            std::copy_n(from, std::min<std::size_t>(1024, k.length - i * 1024),
                        expected.begin() + i * 1024);
        }
        EXPECT_TRUE(buffer == expected);

        // Overwriting follows the same chain: a damaged one changes nothing,
        // a sound one reads back as written.
        const bytes data = pattern(k.length, 91);
        const bytes before(image_of(damaged).begin(), image_of(damaged).end());
        EXPECT_EQ(capture_stdout([&] {
                      EXPECT_EQ(replace_disk_file(&damaged, "ODD.BIN", data, 1), k.result);
                  }),
                  out);
        if (k.result != 0) {
            EXPECT_TRUE(std::ranges::equal(image_of(damaged), before));
        } else {
            bytes back(k.length);
            capture_stdout([&] { EXPECT_EQ(read_disk_file(&damaged, "ODD.BIN", back, 1), 0); });
            EXPECT_TRUE(back == data);
        }
    }
}

// ODD.BIN's chain made to meet a cluster that another entry reaches, or
// one that no live entry reaches. A crossing is refused like a broken
// chain, by reading and replacing alike, and the replacement changes
// nothing: the other file's bytes are never handed out or written.
TEST_P(disk_files, chains_that_meet_another_entrys_end_with_fat_error_and_change_nothing) {
    const std::vector<int> odd = chain_of("ODD     BIN");
    const std::vector<int> b_dat = chain_of("B       DAT");
    const std::size_t sub_entry = entry_of("SUB        ");
    const int sub = original.at(sub_entry + 26) | original.at(sub_entry + 27) << 8;
    std::size_t inner_entry = offset + (sub + 9) * 1024u;
    while (std::memcmp(original.data() + inner_entry, "INNER   BIN", 11) != 0) {
        inner_entry += 32;
    }
    const int inner = original.at(inner_entry + 26) | original.at(inner_entry + 27) << 8;
    const std::size_t slot20 = offset + 5120u + 20 * 32;
    const struct {
        const char* fault;
        std::function<void(bytes&)> damage;
        bool refused;
    } cases[] = {
        {"chain_through_another_files_only_clusters",
         [&](bytes& img) { set_fat_entry(img, odd[0], static_cast<std::uint32_t>(b_dat[0])); }, true},
        {"another_files_chain_running_into_the_chain",
         [&](bytes& img) { set_fat_entry(img, b_dat[1], static_cast<std::uint32_t>(odd[1])); }, true},
        {"second_live_entry_with_the_same_first_cluster",
         [&](bytes& img) {
             std::copy_n(img.begin() + entry_of("ODD     BIN"), 32, img.begin() + slot20);
             std::memcpy(img.data() + slot20, "COPY    BIN", 11);
         },
         true},
        {"chain_into_a_file_of_a_subdirectory",
         [&](bytes& img) { set_fat_entry(img, odd[1], static_cast<std::uint32_t>(inner)); }, true},
        {"chain_into_a_subdirectory_itself",
         [&](bytes& img) { set_fat_entry(img, odd[1], static_cast<std::uint32_t>(sub)); }, true},
        {"deleted_entry_with_the_same_first_cluster_owns_nothing",
         [&](bytes& img) {
             std::copy_n(img.begin() + entry_of("ODD     BIN"), 32, img.begin() + slot20);
             img[slot20] = 0xE5;
         },
         false},
        {"chain_through_a_free_cluster_is_no_crossing",
         [&](bytes& img) {
             set_fat_entry(img, odd[0], 1100);
             set_fat_entry(img, 1100, static_cast<std::uint32_t>(odd[1]));
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        bytes img = original;
        c.damage(img);
        disk_image damaged;
        ASSERT_EQ(load(img, &damaged), 0);
        bytes buffer(3000);
        int result = 0;
        const std::string expected = c.refused ? "fat error 'ODD.BIN'\n" : "";
        EXPECT_EQ(capture_stdout([&] { result = read_disk_file(&damaged, "ODD.BIN", buffer, 1); }),
                  expected);
        EXPECT_EQ(result, c.refused ? -1 : 0);
        const bytes data = pattern(3000, 92);
        const bytes before(image_of(damaged).begin(), image_of(damaged).end());
        EXPECT_EQ(capture_stdout([&] { result = replace_disk_file(&damaged, "ODD.BIN", data, 1); }),
                  expected);
        EXPECT_EQ(result, c.refused ? -1 : 0);
        if (c.refused) {
            EXPECT_TRUE(std::ranges::equal(image_of(damaged), before));
        }
    }
}

TEST_P(disk_files, earlier_of_two_entries_with_one_name_wins) {
    // Slots 20 and 21 lie behind empty entries, which must not end the search.
    // The entries they copy are deleted: two live entries may not share
    // clusters.
    bytes img = original;
    const std::size_t slot20 = offset + 5120u + 20 * 32;
    std::copy_n(img.begin() + entry_of("ODD     BIN"), 32, img.begin() + slot20);
    std::copy_n(img.begin() + entry_of("B       DAT"), 32, img.begin() + slot20 + 32);
    img[entry_of("ODD     BIN")] = 0xE5;
    img[entry_of("B       DAT")] = 0xE5;
    std::memcpy(img.data() + slot20, "DUP     BIN", 11);
    std::memcpy(img.data() + slot20 + 32, "DUP     BIN", 11);
    disk_image edited;
    ASSERT_EQ(load(img, &edited), 0);
    bytes buffer(2048);
    capture_stdout([&] { EXPECT_EQ(read_disk_file(&edited, "dup.bin", buffer, 1), 0); });
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), fixture.at("ODD.BIN").begin()));
}

TEST_P(disk_files, replacement_changes_only_the_files_clusters) {
    const bytes frag = pattern(5000, 77);
    const bytes odd = pattern(1500, 78); // shorter: the old tail stays
    ASSERT_EQ(replace_disk_file(&disk, "frag.bin", frag, 1), 0);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(replace_disk_file(&disk, "ODD.BIN", odd, 1), 0); }),
              "file size mismatch 'ODD.BIN' 3000 != 1500 ... ignored\n");
    ASSERT_EQ(write_disk_image(&disk, dir.file("in.img").c_str()), 0); // over its own file
    const bytes written = read_file(dir.file("in.img"));
    ASSERT_EQ(written.size(), original.size());
    // Header, boot sector, FAT and directory unchanged; the data area differs
    // in no more bytes than were replaced.
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + offset + 11264, original.begin()));
    const std::size_t differing =
        std::inner_product(written.begin(), written.end(), original.begin(), std::size_t{0},
                           std::plus<>(), std::not_equal_to<>());
    EXPECT_TRUE(differing > 6400 && differing <= 6500) << differing;

    const std::string xdf = dir.file("check.xdf"); // the disk alone, for fsck.fat and mtools
    write_file(xdf, bytes(written.begin() + offset, written.end()));
    EXPECT_EQ(run(std::string(KZ_FSCK_FAT) + " -n '" + xdf + "'"), 0);
    auto mcopy_out = [&](const std::string& name) {
        EXPECT_EQ(run(std::string(KZ_MCOPY) + " -n -i '" + xdf + "' ::" + name + " '" +
                      dir.file("out.bin") + "'"),
                  0);
        return read_file(dir.file("out.bin"));
    };
    EXPECT_TRUE(mcopy_out("FRAG.BIN") == frag);
    bytes odd_now = fixture.at("ODD.BIN");
    std::copy(odd.begin(), odd.end(), odd_now.begin());
    EXPECT_TRUE(mcopy_out("ODD.BIN") == odd_now);
}

// A missing directory, a full device, and a file size limit that a child
// runs into: after the last the old file under the name must survive, with
// no temporary file left beside it.
TEST_P(disk_files, failed_write_is_reported_and_keeps_the_existing_file) {
    const std::string missing = dir.file("no/such/dir/out.img");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(write_disk_image(&disk, missing.c_str()), -1); }),
              "open error '" + missing + "'\n");
#ifndef _WIN32
    if (dev_full_is_device()) {
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(write_disk_image(&disk, "/dev/full"), -1); }),
                  "write error '/dev/full'\n");
    }
    // Another file than the loaded image, which must stay whole while mapped.
    const std::string target = dir.file("old.img");
    const bytes old_content = pattern(3000, 80);
    write_file(target, old_content);
    EXPECT_EQ(capture_stdout([&] {
                  EXPECT_EQ(in_child([&] {
                                ::signal(SIGXFSZ, SIG_IGN);
                                const rlimit limit{64 * 1024, 64 * 1024};
                                ::setrlimit(RLIMIT_FSIZE, &limit);
                                return write_disk_image(&disk, target.c_str()) == -1 ? 0 : 1;
                            }),
                            0);
              }),
              "write error '" + target + "'\n");
    EXPECT_TRUE(read_file(target) == old_content);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"base.xdf", "host", "in.img", "old.img"}));
#endif
}

} // namespace
} // namespace kz::test

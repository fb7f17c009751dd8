// Reading TILES.CH and NPC.CH out of images made by mkfs.fat and mcopy: the
// bytes, the messages, and what is left loaded afterwards.
#include "console/shape_files.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

namespace kz::test {
namespace {

constexpr std::size_t tiles_ch_size = 98304;
constexpr std::size_t npc_ch_size = 131072;

// Each 1024-byte unit of a file differs from every other, and from the same
// unit of another seed's file, so that a unit read from the wrong place, or
// from the wrong file, shows.
bytes pattern(std::size_t size, std::uint8_t seed) {
    bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 10) * 13 + seed * 101);
    }
    return data;
}

std::string make_disk_command(const std::string& program, const std::string& arguments) {
    return program + " " + arguments + " >/dev/null 2>&1";
}

const bytes tiles = pattern(tiles_ch_size, 1);
const bytes npc = pattern(npc_ch_size, 2);

// A raw X68000-layout disk (units of 1024 bytes, the root directory in units
// 5-10) holding the files; gives its path.
std::string make_disk(const scratch_dir& dir, const std::string& name,
                      const std::map<std::string, bytes>& files) {
    const std::string img = dir.file(name);
    EXPECT_EQ(
        run_host_command(make_disk_command(
            KZ_MKFS_FAT, "-C -S 1024 -s 1 -f 2 -F 12 -r 192 -R 1 -M 0xfe -h 0 '" + img + "' 1232")),
        0);
    for (const auto& [file, data] : files) {
        write_file(dir.file("host"), data);
        EXPECT_EQ(run_host_command(make_disk_command(
                      KZ_MCOPY, "-i '" + img + "' '" + dir.file("host") + "' ::" + file)),
                  0);
    }
    return img;
}

TEST(read_shape_files, reads_both_files_and_releases_the_image_on_every_failure) {
    KZ_SKIP_WITHOUT_HOST_TOOLS();
    scratch_dir dir;
    const std::string both = make_disk(dir, "both.img", {{"TILES.CH", tiles}, {"NPC.CH", npc}});
    const std::string no_npc = make_disk(dir, "tiles.img", {{"TILES.CH", tiles}});
    const std::string no_tiles = make_disk(dir, "npc.img", {{"NPC.CH", npc}});
    const std::string short_tiles =
        make_disk(dir, "short.img",
                  {{"TILES.CH", bytes(tiles.begin(), tiles.end() - 1024)}, {"NPC.CH", npc}});
    const std::string absent = dir.file("absent.img");
    const bytes untouched_tiles(tiles_ch_size, 0xEE);
    const bytes untouched_npc(npc_ch_size, 0xEE);
    const struct {
        const char* fault;
        std::string path;
        int result;
        std::string printed;
        const bytes& tiles_read;
        const bytes& npc_read;
    } cases[] = {
        {"files_read_from_the_wrong_place", both, 0, "", tiles, npc},
        {"missing_npc_ch_left_loaded", no_npc, -1,
         "can't find 'NPC.CH'\nread disk image error '" + no_npc + "/NPC.CH'\n", tiles,
         untouched_npc},
        {"npc_ch_read_after_tiles_ch_failed", no_tiles, -1,
         "can't find 'TILES.CH'\nread disk image error '" + no_tiles + "/TILES.CH'\n",
         untouched_tiles, untouched_npc},
        {"short_tiles_ch_accepted", short_tiles, -1,
         "file size error 'TILES.CH' 97280 < 98304\nread disk image error '" + short_tiles +
             "/TILES.CH'\n",
         untouched_tiles, untouched_npc},
        {"unloadable_image_without_its_own_line", absent, -1,
         "open error '" + absent + "'\nread disk image error '" + absent + "'\n", untouched_tiles,
         untouched_npc},
    };
    for (const auto& c : cases) {
        for (const bool keep : {false, true}) {
            bytes tiles_buffer(tiles_ch_size, 0xEE);
            bytes npc_buffer(npc_ch_size, 0xEE);
            disk_image kept;
            int result = 1;
            const std::string printed = capture_stdout([&] {
                result = read_shape_files(c.path.c_str(), xdf_disk_offset, tiles_buffer, npc_buffer,
                                          keep ? &kept : nullptr);
            });
            EXPECT_EQ(std::tuple(result, printed), std::tuple(c.result, c.printed))
                << c.fault << " keep " << keep;
            EXPECT_TRUE(tiles_buffer == c.tiles_read && npc_buffer == c.npc_read) << c.fault;
            // Kept only when asked for and read: the changer then replaces
            // files in it and writes it back.
            const bool loaded = !content_bytes(kept.content).empty() || !kept.units.empty();
            EXPECT_EQ(loaded, keep && c.result == 0) << c.fault;
        }
    }
}

} // namespace
} // namespace kz::test

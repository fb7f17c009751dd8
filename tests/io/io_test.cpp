// The output step that never costs the user a file, on POSIX systems.
#include "io/output_file.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/xattr.h>

namespace kz::test {
namespace {

const bytes old_content = {'o', 'l', 'd'};

TEST(output_file, commit_replaces_target_and_keeps_its_permission_bits) {
    const struct {
        mode_t existing; // 0: no file yet
        mode_t umask_value;
        mode_t expected;
    } cases[] = {{0640, 022, 0640}, {0604, 077, 0604}, {0, 022, 0644}, {0, 027, 0640}};
    for (const auto& c : cases) {
        scratch_dir dir;
        const std::string target = dir.file("t");
        if (c.existing) {
            write_file(target, old_content);
            ASSERT_EQ(::chmod(target.c_str(), c.existing), 0);
        }
        const mode_t saved = ::umask(c.umask_value);
        EXPECT_EQ(write_new(target), 0);
        ::umask(saved);
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.expected) << std::oct << c.expected;
        EXPECT_EQ(read_file(target), (bytes{'n', 'e', 'w'}));
        EXPECT_EQ(dir.names(), std::set<std::string>{"t"});
    }
}

// A folder's default access list in the kernel's form: version 2, then
// owner, group and others each allowed to read and write.
bool give_default_access_list(const std::string& folder) {
    constexpr std::uint8_t rw = 6;
    constexpr std::uint8_t list[] = {2, 0, 0, 0,                          // version
                                     0x01, 0, rw, 0, 0xFF, 0xFF, 0xFF, 0xFF,  // owner
                                     0x04, 0, rw, 0, 0xFF, 0xFF, 0xFF, 0xFF,  // group
                                     0x20, 0, rw, 0, 0xFF, 0xFF, 0xFF, 0xFF}; // others
    return ::setxattr(folder.c_str(), "system.posix_acl_default", list, sizeof list, 0) == 0;
}

// A new file gets the mode that fopen() gives a file in the same folder, a
// default access list (which the umask then does not cut) included, and
// programs started while it is written do not inherit it.
TEST(output_file, new_file_is_made_as_fopen_makes_it_and_not_inherited) {
    for (const bool access_list : {false, true}) {
        SCOPED_TRACE(access_list ? "folder with a default access list" : "plain folder");
        scratch_dir dir;
        if (access_list && !give_default_access_list(dir.path)) {
            GTEST_SKIP() << "the file system takes no access lists";
        }
        const mode_t saved = ::umask(027);
        std::fclose(std::fopen(dir.file("by_fopen").c_str(), "wb"));
        output_file out;
        ASSERT_EQ(open_output_file(&out, dir.file("t").c_str()), 0);
        EXPECT_NE(::fcntl(::fileno(out.stream), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_EQ(commit_output_file(&out), 0);
        ::umask(saved);
        struct stat made {};
        struct stat by_fopen {};
        ASSERT_EQ(::stat(dir.file("t").c_str(), &made), 0);
        ASSERT_EQ(::stat(dir.file("by_fopen").c_str(), &by_fopen), 0);
        EXPECT_EQ(made.st_mode & 07777, by_fopen.st_mode & 07777);
        EXPECT_EQ(by_fopen.st_mode & 07777, access_list ? 0666u : 0640u);
    }
}

TEST(output_file, replaced_file_keeps_its_owner) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "only root can write another user's file";
    }
    scratch_dir dir;
    const std::string target = dir.file("t");
    write_file(target, old_content);
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    EXPECT_EQ(write_new(target), 0);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
}

// A file with a second name is written in place, so both names show the new
// content; a file with one name gets a complete new file renamed over it.
// Either way the old, longer content is gone.
TEST(output_file, only_a_file_with_one_name_is_replaced_by_rename) {
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "second name" : "one name");
        scratch_dir dir;
        const std::string target = dir.file("t");
        write_file(target, bytes(5000, 'o'));
        if (linked) {
            ASSERT_EQ(::link(target.c_str(), dir.file("t2").c_str()), 0);
        }
        struct stat before {};
        ASSERT_EQ(::stat(target.c_str(), &before), 0);
        EXPECT_EQ(write_new(target), 0);
        struct stat after {};
        ASSERT_EQ(::stat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino == before.st_ino, linked);
        EXPECT_EQ(after.st_nlink, before.st_nlink);
        EXPECT_EQ(read_file(target), (bytes{'n', 'e', 'w'}));
        if (linked) {
            EXPECT_EQ(read_file(dir.file("t2")), (bytes{'n', 'e', 'w'}));
        }
        EXPECT_EQ(dir.names().size(), linked ? 2u : 1u);
    }
}

// A link to a regular file is written through, and the file is not emptied
// before the new content is complete: it may be the very file the program
// is still reading. At the commit it is cut to the new length.
TEST(output_file, symbolic_link_is_written_through_and_stays_a_link) {
    scratch_dir dir;
    const bytes longer(5000, 'o');
    write_file(dir.file("real"), longer);
    ASSERT_EQ(::symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);
    output_file out;
    ASSERT_EQ(open_output_file(&out, dir.file("link").c_str()), 0);
    EXPECT_EQ(read_file(dir.file("real")), longer);
    std::fputs("new", out.stream);
    EXPECT_EQ(commit_output_file(&out), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(dir.file("real")), (bytes{'n', 'e', 'w'}));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"link", "real"}));
}

// Whatever goes wrong, the target keeps its content and no temporary file
// stays, unless the file is written in place (a second name); a failed write
// is reported either way. Each case runs in a child: under a 1 KiB file size
// limit that only the writing runs into, as an ordinary user facing a
// read-only file in a directory that would let it rename over the file, or
// without committing.
TEST(output_file, failure_is_reported_and_keeps_the_target_unless_written_in_place) {
    const struct {
        const char* what;
        mode_t mode;
        bool linked;
        bool commit;
        const char* message;
    } cases[] = {{"write_beyond_size_limit", 0644, false, true, "write error"},
                 {"in_place_write_beyond_size_limit", 0644, true, true, "write error"},
                 {"read_only_target", 0444, false, true, "open error"},
                 {"never_committed", 0644, false, false, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        const std::string target = dir.file("t");
        write_file(target, old_content);
        if (c.linked) {
            ASSERT_EQ(::link(target.c_str(), dir.file("t2").c_str()), 0);
        }
        ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
        ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
        auto attempt = [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (c.mode == 0444 && ::getuid() == 0 && (::setgid(65534) || ::setuid(65534))) {
                return 2;
            }
            output_file file;
            if (open_output_file(&file, target.c_str()) != 0) {
                return 0;
            }
            std::fputs(std::string(2000, 'x').c_str(), file.stream);
            return !c.commit || commit_output_file(&file) == -1 ? 0 : 1;
        };
        const std::string out = capture_stdout([&] { EXPECT_EQ(in_child(attempt), 0); });
        EXPECT_EQ(out, *c.message ? std::string(c.message) + " '" + target + "'\n" : "");
        if (!c.linked) {
            EXPECT_EQ(read_file(target), old_content);
        }
        const std::set<std::string> names =
            c.linked ? std::set<std::string>{"t", "t2"} : std::set<std::string>{"t"};
        EXPECT_EQ(dir.names(), names);
    }
}

TEST(output_file, unopenable_targets_report_the_target_path) {
    scratch_dir dir;
    const std::string missing = dir.file("no/such/t");
    for (const std::string& path : {missing, std::string()}) {
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(write_new(path), -1); }),
                  "open error '" + path + "'\n");
    }
    EXPECT_TRUE(dir.names().empty());
}

} // namespace
} // namespace kz::test

// The output step: temporary file and rename for regular files, in place for
// everything else, and no lost file whatever fails.
#include "console/output_file.h"
#include "console_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kz::test {
namespace {

const bytes old_content = {'o', 'l', 'd', '\n'};
const char new_text[] = "new content\n";

int write_and_commit(const std::string& path) {
    output_file out;
    if (open_output_file(&out, path.c_str()) != 0) {
        return -1;
    }
    if (std::fputs(new_text, out.stream) < 0) {
        return -1;
    }
    return commit_output_file(&out);
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(output_file, commit_replaces_target_and_keeps_its_permission_bits) {
    const struct {
        bool existing;
        mode_t existing_mode;
        mode_t umask_value;
        mode_t expected;
    } cases[] = {
        {true, 0640, 022, 0640},
        {true, 0604, 077, 0604},
        {false, 0, 022, 0644},
        {false, 0, 027, 0640},
    };
    for (const auto& c : cases) {
        scratch_dir dir;
        const std::string target = dir.file("t.bin");
        if (c.existing) {
            write_file(target, old_content);
            ASSERT_EQ(::chmod(target.c_str(), c.existing_mode), 0);
        }
        const mode_t saved = ::umask(c.umask_value);
        const int result = write_and_commit(target);
        ::umask(saved);
        EXPECT_EQ(result, 0);
        const bytes written = read_file(target);
        EXPECT_EQ(std::string(written.begin(), written.end()), new_text);
        EXPECT_EQ(mode_of(target), c.expected) << std::oct << c.expected;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"t.bin"});
    }
}

TEST(output_file, uncommitted_output_leaves_target_untouched) {
    for (bool explicit_discard : {true, false}) {
        scratch_dir dir;
        const std::string target = dir.file("t.bin");
        write_file(target, old_content);
        {
            output_file out;
            ASSERT_EQ(open_output_file(&out, target.c_str()), 0);
            std::fputs(new_text, out.stream);
            std::fflush(out.stream);
            if (explicit_discard) {
                discard_output_file(&out);
                discard_output_file(&out); // harmless twice
            }
        }
        EXPECT_EQ(read_file(target), old_content);
        EXPECT_EQ(dir.names(), std::vector<std::string>{"t.bin"});
    }
}

TEST(output_file, failed_commit_keeps_target_and_removes_temporary) {
    // The data fits the stream's buffer, so the failure comes only when the
    // commit flushes it into a file limited to 1 KiB (which still leaves room
    // for the message in the captured output).
    scratch_dir dir;
    const std::string target = dir.file("t.bin");
    write_file(target, old_content);
    int status = -1;
    const std::string out = capture_stdout([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            output_file file;
            int result = open_output_file(&file, target.c_str());
            if (result == 0) {
                const std::string text(2000, 'x');
                std::fputs(text.c_str(), file.stream);
                result = commit_output_file(&file) == -1 ? 0 : 2;
            }
            std::fflush(stdout);
            ::_exit(result == 0 ? 0 : 1);
        }
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            status = -1;
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out, "write error '" + target + "'\n");
    EXPECT_EQ(read_file(target), old_content);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"t.bin"});
}

TEST(output_file, read_only_file_is_refused_even_in_a_writable_directory) {
    // Runs as an unprivileged user, since root may write anything. The
    // directory lets that user rename over the file; the file itself does not
    // let it be written, and that must decide.
    scratch_dir dir;
    const std::string target = dir.file("t.bin");
    write_file(target, old_content);
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
    int status = -1;
    const std::string out = capture_stdout([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                ::_exit(2);
            }
            output_file file;
            const int result = open_output_file(&file, target.c_str());
            std::fflush(stdout);
            ::_exit(result == -1 ? 0 : 1);
        }
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            status = -1;
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out, "open error '" + target + "'\n");
    EXPECT_EQ(read_file(target), old_content);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"t.bin"});
}

TEST(output_file, symbolic_link_is_written_through_and_stays_a_link) {
    scratch_dir dir;
    const std::string real = dir.file("real.bin");
    const std::string link = dir.file("link.bin");
    write_file(real, old_content);
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    EXPECT_EQ(write_and_commit(link), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    const bytes written = read_file(real);
    EXPECT_EQ(std::string(written.begin(), written.end()), new_text);
}

TEST(output_file, unopenable_and_unwritable_targets_report_the_target_path) {
    scratch_dir dir;
    const std::string missing = dir.file("no/such/t.bin");
    const std::string directory = dir.path;
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {missing, "open error '" + missing + "'\n"},
        {directory, "open error '" + directory + "'\n"},
        {"", "open error ''\n"},
        {"/dev/full", "write error '/dev/full'\n"},
    };
    for (const auto& c : cases) {
        int result = 0;
        const std::string out = capture_stdout([&] { result = write_and_commit(c.path); });
        EXPECT_EQ(result, -1) << c.path;
        EXPECT_EQ(out, c.message);
    }
    EXPECT_TRUE(dir.names().empty());
}

} // namespace
} // namespace kz::test

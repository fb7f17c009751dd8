// The output step on Windows: the old file stays whole, with its attributes,
// until the new one is complete; what cannot be written is refused.
#include "io/output_file.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include <windows.h>

namespace kz::test {
namespace {

const bytes old_content = {'o', 'l', 'd'};
const bytes new_content = {'n', 'e', 'w'};

// The test paths are ASCII, so the narrow and wide names agree.
std::wstring wide(const std::string& path) {
    return std::wstring(path.begin(), path.end());
}

DWORD attributes_of(const std::string& path) {
    return ::GetFileAttributesW(wide(path).c_str());
}

// Another program's handle on the target, with the sharing it allows.
struct held_file {
    HANDLE handle;
    held_file(const std::string& path, DWORD sharing)
        : handle(::CreateFileW(wide(path).c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path;
    }
    ~held_file() { ::CloseHandle(handle); }
};

TEST(output_file, commit_replaces_target_and_keeps_its_attributes) {
    constexpr DWORD none = 0;
    const struct {
        bool existing;
        DWORD set; // besides what Windows sets itself
    } cases[] = {{false, none},
                 {true, none},
                 {true, FILE_ATTRIBUTE_HIDDEN},
                 {true, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN}};
    for (const auto& c : cases) {
        scratch_dir dir;
        const std::string target = dir.file("t");
        if (c.existing) {
            write_file(target, old_content);
            ASSERT_TRUE(::SetFileAttributesW(wide(target).c_str(), c.set | FILE_ATTRIBUTE_ARCHIVE));
        }
        const DWORD before = attributes_of(target);
        EXPECT_EQ(write_new(target), 0);
        EXPECT_EQ(read_file(target), new_content);
        const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        EXPECT_EQ(attributes_of(target) & kept, c.existing ? before & kept : 0)
            << std::hex << c.set;
        EXPECT_EQ(attributes_of(target) & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_EQ(dir.names(), std::set<std::string>{"t"});
    }
}

// Whatever goes wrong, the target keeps its content and no temporary file
// stays: a read-only target and one held without write sharing are refused
// at once; one held without delete sharing, or locked only after the step
// began, cannot be replaced at the end.
TEST(output_file, failure_keeps_the_target_and_leaves_no_temporary) {
    enum when { before_open, before_commit, never };
    const struct {
        const char* what;
        DWORD attributes;
        DWORD sharing; // of the other program's handle; 0xFFFFFFFF: none held
        when held;
        bool commit;
        const char* message;
    } cases[] = {
        {"read_only_attribute", FILE_ATTRIBUTE_READONLY, 0xFFFFFFFF, never, true, "open error"},
        {"held_without_sharing", FILE_ATTRIBUTE_NORMAL, 0, before_open, true, "open error"},
        {"held_for_reading_only", FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, before_open, true,
         "open error"},
        {"held_without_delete_sharing", FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
         before_open, true, "write error"},
        {"locked_after_open", FILE_ATTRIBUTE_NORMAL, 0, before_commit, true, "write error"},
        {"never_committed", FILE_ATTRIBUTE_NORMAL, 0xFFFFFFFF, never, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        const std::string target = dir.file("t");
        write_file(target, old_content);
        ASSERT_TRUE(::SetFileAttributesW(wide(target).c_str(), c.attributes));
        const std::string out = capture_stdout([&] {
            std::unique_ptr<held_file> holder;
            if (c.held == before_open) {
                holder = std::make_unique<held_file>(target, c.sharing);
            }
            output_file file;
            if (open_output_file(&file, target.c_str()) != 0) {
                return;
            }
            std::fputs(std::string(2000, 'x').c_str(), file.stream);
            if (c.held == before_commit) {
                holder = std::make_unique<held_file>(target, c.sharing);
            }
            if (c.commit) {
                EXPECT_EQ(commit_output_file(&file), -1);
            }
        });
        EXPECT_EQ(out, *c.message ? std::string(c.message) + " '" + target + "'\n" : "");
        ::SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(read_file(target), old_content);
        EXPECT_EQ(dir.names(), std::set<std::string>{"t"});
    }
}

TEST(output_file, unopenable_targets_report_the_target_path) {
    scratch_dir dir;
    for (const std::string& path :
         {dir.file("no/such/t"), dir.file("no\\such\\t"), dir.path, std::string()}) {
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(write_new(path), -1); }),
                  "open error '" + path + "'\n");
    }
    EXPECT_TRUE(dir.names().empty());
}

} // namespace
} // namespace kz::test

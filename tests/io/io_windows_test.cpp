// The output step on Windows: the old file stays whole, with its attributes,
// until the new one is complete; what cannot be written is refused.
#include "io/output_file.h"
#include "io/test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include <sddl.h>

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

// The file's identity on its volume: a file written in place keeps it, a
// replacement is a new file.
std::uint64_t file_index(const std::string& path) {
    const HANDLE handle = ::CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    return ok ? std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow : 0;
}

// The access list of a file in the system's text form.
std::wstring access_list(const std::string& path) {
    DWORD size = 0;
    ::GetFileSecurityW(wide(path).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    LPWSTR text = nullptr;
    if (size == 0 ||
        !::GetFileSecurityW(wide(path).c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size,
                            &size) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"?";
    }
    std::wstring result(text);
    ::LocalFree(text);
    return result;
}

// A file with a second name is written in place, so that both names show
// the new content; otherwise a new file replaces it, but only once it has
// taken on the old one's access list, so that nobody can tell.
TEST(output_file, only_a_file_nobody_can_tell_from_a_new_one_is_replaced) {
    const struct {
        const char* what;
        bool second_name;
        const wchar_t* own_access; // in the system's text form, or null
        bool in_place;
    } cases[] = {
        {"plain", false, nullptr, false},
        {"second_hard_link", true, nullptr, true},
        {"own_protected_access_list", false, L"D:P(A;;FA;;;WD)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        const std::string target = dir.file("t");
        write_file(target, bytes(5000, 'o'));
        std::set<std::string> names = {"t"};
        if (c.second_name) {
            ASSERT_TRUE(::CreateHardLinkW(wide(dir.file("u")).c_str(), wide(target).c_str(), nullptr));
            names.insert("u");
        }
        if (c.own_access != nullptr) {
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                c.own_access, SDDL_REVISION_1, &descriptor, nullptr));
            ASSERT_TRUE(::SetFileSecurityW(wide(target).c_str(), DACL_SECURITY_INFORMATION,
                                           descriptor));
            ::LocalFree(descriptor);
        }
        const std::uint64_t index = file_index(target);
        const std::wstring access = access_list(target);
        EXPECT_EQ(write_new(target), 0);
        EXPECT_EQ(read_file(target), new_content);
        if (c.second_name) {
            EXPECT_EQ(read_file(dir.file("u")), new_content);
        }
        EXPECT_EQ(file_index(target) == index, c.in_place);
        EXPECT_EQ(access_list(target), access);
        EXPECT_EQ(dir.names(), names);
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

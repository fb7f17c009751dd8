// Writing a file so that a failure never costs the user the old one: the
// Windows side, by the same rule as elsewhere. A file is replaced by a
// temporary one moved over it only where nobody can tell the difference:
// a file with a single name whose security (owner, group, access list) the
// temporary file really took on. Everywhere else an existing file is written
// in place: opened as it is (a link followed to its file), written, cut to
// the new length and flushed to the disk. Devices take the C runtime's
// plain "wb". Windows lets a program open a file without sharing it; such a
// file cannot be written or replaced, and is reported rather than waited
// for.
#include "io/output_file.h"
#include "io/output_state.h"
#include "io/path.h"
#include "io/wide_path.h"
#include "terminal/terminal.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <aclapi.h>

namespace kz {

namespace {

// Attributes that say something about the file rather than its state; the
// read-only attribute never gets here, as such a target is refused.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr SECURITY_INFORMATION identity_parts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr int temp_attempts = 100;
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct handle_closer {
    void operator()(HANDLE handle) const {
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
    }
};

// A file's owner, group and access list, as the system hands them out.
struct security {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    security() = default;
    security(const security&) = delete;
    security& operator=(const security&) = delete;
    ~security() {
        ::LocalFree(descriptor);
    }
};

bool read_security(HANDLE file, security* got) {
    return ::GetSecurityInfo(file, SE_FILE_OBJECT, identity_parts, &got->owner, &got->group,
                             &got->dacl, nullptr, &got->descriptor) == ERROR_SUCCESS;
}

bool dacl_protected(const security& s) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return ::GetSecurityDescriptorControl(s.descriptor, &control, &revision) &&
           (control & SE_DACL_PROTECTED) != 0;
}

// Access lists compare by their entries: the list's own allocated size may
// differ between equal lists.
bool same_dacl(PACL a, PACL b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    ACL_SIZE_INFORMATION in_a{};
    ACL_SIZE_INFORMATION in_b{};
    if (!::GetAclInformation(a, &in_a, sizeof in_a, AclSizeInformation) ||
        !::GetAclInformation(b, &in_b, sizeof in_b, AclSizeInformation)) {
        return false;
    }
    return a->AclRevision == b->AclRevision && in_a.AceCount == in_b.AceCount &&
           in_a.AclBytesInUse == in_b.AclBytesInUse && in_a.AclBytesInUse >= sizeof(ACL) &&
           std::memcmp(reinterpret_cast<const BYTE*>(a) + sizeof(ACL),
                       reinterpret_cast<const BYTE*>(b) + sizeof(ACL),
                       in_a.AclBytesInUse - sizeof(ACL)) == 0;
}

bool same_sid(PSID a, PSID b) {
    return (a == nullptr || b == nullptr) ? a == b : ::EqualSid(a, b) != 0;
}

bool same_security(const security& a, const security& b) {
    return same_sid(a.owner, b.owner) && same_sid(a.group, b.group) && same_dacl(a.dacl, b.dacl) &&
           dacl_protected(a) == dacl_protected(b);
}

// Gives the temporary file the target's owner, group and access list, as far
// as we may, and says whether it really has them now: another user's file,
// or an access list that the folder's inheritance changes, leave it
// different.
bool takes_on_identity(HANDLE temp, const security& target) {
    security have;
    if (read_security(temp, &have) && same_security(have, target)) {
        return true;
    }
    const SECURITY_INFORMATION dacl_kind = dacl_protected(target)
                                               ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION;
    static_cast<void>(::SetSecurityInfo(temp, SE_FILE_OBJECT, identity_parts | dacl_kind,
                                        target.owner, target.group, target.dacl, nullptr));
    security now;
    return read_security(temp, &now) && same_security(now, target);
}

// The temporary file sits beside the target so that it can be moved over
// it; it is named after the target so that a leftover is recognisable,
// unless that name would be too long.
HANDLE create_temp_file(const std::string& target, std::string* temp_path) {
    bool short_name = false;
    for (int attempt = 0; attempt < temp_attempts; ++attempt) {
        *temp_path = short_name
                         ? target.substr(0, file_name_start(target)) + ".kz." + temp_name_suffix()
                         : target + "." + temp_name_suffix();
        const std::wstring wide = wide_path(temp_path->c_str());
        if (wide.empty()) {
            break;
        }
        const HANDLE handle = ::CreateFileW(
            wide.c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0, nullptr,
            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return handle;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILENAME_EXCED_RANGE && !short_name) {
            short_name = true;
        } else if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    temp_path->clear();
    return INVALID_HANDLE_VALUE;
}

// Hands a handle to a C stream; the handle is closed on failure.
int adopt_handle(output_file* out, HANDLE handle) {
    const int fd =
        ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return -1;
    }
    out->stream = ::_fdopen(fd, "wb");
    if (!out->stream) {
        ::_close(fd);
        return -1;
    }
    return 0;
}

void remove_temp(output_state* state) {
    if (!state->temp_path.empty()) {
        const std::wstring temp = wide_path(state->temp_path.c_str());
        if (!temp.empty()) {
            ::DeleteFileW(temp.c_str());
        }
        state->temp_path.clear();
    }
}

// An existing file opened as it is, without emptying it: it is cut to the
// new length only once everything is written. A link is followed to its
// file, which keeps its place, its other names and its security.
int open_in_place(output_file* out, const std::wstring& target) {
    const HANDLE handle = ::CreateFileW(target.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    out->state->in_place = true;
    out->state->sync = true;
    return adopt_handle(out, handle);
}

int open_new(output_file* out) {
    const HANDLE handle = create_temp_file(out->path, &out->state->temp_path);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    return adopt_handle(out, handle);
}

// A temporary file that replaces an existing file if nobody can tell the
// difference; otherwise the file is written in place.
int open_replacement(output_file* out, const std::wstring& target, HANDLE existing) {
    BY_HANDLE_FILE_INFORMATION info{};
    security target_security;
    if (!::GetFileInformationByHandle(existing, &info) || info.nNumberOfLinks != 1 ||
        !read_security(existing, &target_security)) {
        return open_in_place(out, target);
    }
    const HANDLE temp = create_temp_file(out->path, &out->state->temp_path);
    if (temp == INVALID_HANDLE_VALUE) {
        return open_in_place(out, target);
    }
    if (!takes_on_identity(temp, target_security)) {
        ::CloseHandle(temp);
        remove_temp(out->state.get());
        return open_in_place(out, target);
    }
    out->state->sync = true;
    return adopt_handle(out, temp);
}

// A read-only file or a directory is refused, as opening it for writing
// would be; so is a file that someone holds open without letting others
// write it, since it could be neither written nor replaced. Links (reparse
// points) are written in place: a moved file would replace the link by an
// ordinary file. Devices get the C runtime's own opening.
int open_target(output_file* out) {
    const std::wstring target = wide_path(out->path.c_str());
    if (target.empty()) {
        return -1;
    }
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? open_new(out) : -1;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        return -1;
    }
    const std::unique_ptr<void, handle_closer> existing(
        ::CreateFileW(target.c_str(), GENERIC_WRITE | READ_CONTROL, share_all, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (existing.get() == INVALID_HANDLE_VALUE) {
        return -1;
    }
    if (::GetFileType(existing.get()) != FILE_TYPE_DISK) {
        out->stream = ::_wfopen(target.c_str(), L"wb");
        return out->stream ? 0 : -1;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return open_in_place(out, target);
    }
    return open_replacement(out, target, existing.get());
}

// Flushes the stream, cuts a file written in place to what was written,
// flushes the file to the disk where an existing file's content is at
// stake, and closes; every failure on the way counts, and the stream is
// closed whatever happens.
bool close_stream(output_file* out) {
    const output_state& state = *out->state;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(out->stream)));
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && state.in_place) {
        LARGE_INTEGER here{};
        ok = ::SetFilePointerEx(handle, LARGE_INTEGER{}, &here, FILE_CURRENT) &&
             ::SetEndOfFile(handle);
    }
    if (ok && state.sync) {
        ok = ::FlushFileBuffers(handle) != 0;
    }
    const bool closed = std::fclose(out->stream) == 0;
    out->stream = nullptr;
    return ok && closed;
}

} // namespace

int open_output_file(output_file* out, const char* path) {
    discard_output_file(out);
    try {
        out->path = path;
        out->state = std::make_unique<output_state>();
        if (open_target(out) == 0) {
            return 0;
        }
    } catch (const std::bad_alloc&) {
        print_message("memory exhaust!\n");
        discard_output_file(out);
        return -1;
    }
    print_message("open error '%s'\n", path);
    discard_output_file(out);
    return -1;
}

int commit_output_file(output_file* out) {
    if (!out->stream || !out->state || !close_stream(out)) {
        return commit_failed(out);
    }
    output_state& state = *out->state;
    if (!state.temp_path.empty()) {
        const std::wstring target = wide_path(out->path.c_str());
        const std::wstring temp = wide_path(state.temp_path.c_str());
        if (temp.empty() || target.empty()) {
            return commit_failed(out);
        }
        // The attributes go on before the move, so that the target never
        // shows without them.
        DWORD flags = MOVEFILE_REPLACE_EXISTING;
        if (state.sync) {
            const DWORD attributes = ::GetFileAttributesW(target.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kept_attributes) != 0 &&
                !::SetFileAttributesW(temp.c_str(), attributes & kept_attributes)) {
                return commit_failed(out);
            }
            flags |= MOVEFILE_WRITE_THROUGH;
        }
        if (!::MoveFileExW(temp.c_str(), target.c_str(), flags)) {
            return commit_failed(out);
        }
        state.temp_path.clear();
    }
    out->state.reset();
    return 0;
}

void discard_output_file(output_file* out) {
    if (out->stream) {
        std::fclose(out->stream);
        out->stream = nullptr;
    }
    if (out->state) {
        remove_temp(out->state.get());
    }
    out->state.reset();
}

} // namespace kz

// Writing a file so that a failure never costs the user the old one, on
// POSIX systems.
#include "io/output_file.h"
#include "io/output_file_failure.h"
#include "io/platform.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kz {

namespace {

constexpr const char* temp_suffix = ".XXXXXX";
constexpr const char* short_temp_name = ".kz.XXXXXX";
constexpr mode_t permission_bits = 07777;

std::string directory_part(const std::string& path) {
    return path.substr(0, file_name_start(path));
}

// The temporary file sits beside the target so that rename() can put it in
// place; it is named after the target so that a leftover is recognisable,
// unless that name would be too long for the file system.
int make_temp_file(const std::string& target, std::string* temp_path) {
    *temp_path = target + temp_suffix;
    int fd = ::mkstemp(temp_path->data());
    if (fd < 0 && errno == ENAMETOOLONG) {
        *temp_path = directory_part(target) + short_temp_name;
        fd = ::mkstemp(temp_path->data());
    }
    if (fd < 0) {
        temp_path->clear();
    }
    return fd;
}

// The mode a newly created file gets from fopen(): 0666 less the umask. The
// umask can only be read by setting it, so it is put straight back.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// In a sticky directory (such as /tmp) only the owner of a file, the owner of
// the directory and root may rename over the file.
bool rename_allowed(const std::string& target, const struct stat& file) {
    const std::string directory = directory_part(target);
    struct stat dir {};
    if (::stat(directory.empty() ? "." : directory.c_str(), &dir) != 0) {
        return false;
    }
    const uid_t self = ::geteuid();
    return (dir.st_mode & S_ISVTX) == 0 || self == 0 || self == file.st_uid || self == dir.st_uid;
}

// Gives the temporary file the target's owner, group and permission bits,
// as far as we may, and says whether it really has them now: a group we do
// not belong to, another user's file, or a set-group-ID bit the system
// clears all leave it different.
bool takes_on_identity(int fd, const struct stat& target) {
    // Failures are found by looking at the result; the owner comes first, as
    // changing it may clear set-ID bits.
    static_cast<void>(::fchown(fd, target.st_uid, target.st_gid));
    static_cast<void>(::fchmod(fd, target.st_mode & permission_bits));
    struct stat got {};
    return ::fstat(fd, &got) == 0 && got.st_uid == target.st_uid && got.st_gid == target.st_gid &&
           (got.st_mode & permission_bits) == (target.st_mode & permission_bits);
}

int adopt_fd(output_file* out, int fd) {
    out->stream = ::fdopen(fd, "wb");
    if (!out->stream) {
        ::close(fd);
        return -1;
    }
    return 0;
}

// A temporary file for a target that does not exist yet; it gets the mode
// that fopen() would have given the new file.
int open_new(output_file* out) {
    const int fd = make_temp_file(out->path, &out->temp_path);
    if (fd < 0) {
        return -1;
    }
    if (::fchmod(fd, new_file_mode()) != 0) {
        ::close(fd);
        return -1;
    }
    return adopt_fd(out, fd);
}

// An existing regular file opened as it is, without creating or emptying
// anything: it is cut to the new length only once everything is written.
int open_existing_in_place(output_file* out) {
    const int fd = ::open(out->path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    out->sync = true;
    out->truncate = true;
    return adopt_fd(out, fd);
}

// A temporary file that replaces an existing regular file if nobody can tell
// the difference; otherwise the file is written in place.
int open_replacement(output_file* out, const struct stat& target) {
    if (target.st_nlink != 1 || !rename_allowed(out->path, target)) {
        return open_existing_in_place(out);
    }
    const int fd = make_temp_file(out->path, &out->temp_path);
    if (fd < 0) {
        return open_existing_in_place(out);
    }
    if (!takes_on_identity(fd, target)) {
        ::close(fd);
        ::unlink(out->temp_path.c_str());
        out->temp_path.clear();
        return open_existing_in_place(out);
    }
    out->sync = true;
    return adopt_fd(out, fd);
}

// Flushes the stream, cuts a file written in place to what was written, syncs
// where an existing file's content is at stake, and closes; every failure on
// the way counts, and the stream is closed whatever happens.
bool close_stream(output_file* out) {
    const int fd = ::fileno(out->stream);
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && out->truncate) {
        const off_t length = ::lseek(fd, 0, SEEK_CUR);
        ok = length >= 0 && ::ftruncate(fd, length) == 0;
    }
    // Writing clears the set-ID bits of a file that is not root's; a
    // replacement gets the target's bits back before it takes its place.
    struct stat target {};
    if (ok && out->sync && !out->temp_path.empty() && ::stat(out->path.c_str(), &target) == 0) {
        ok = ::fchmod(fd, target.st_mode & permission_bits) == 0;
    }
    if (ok && out->sync) {
        ok = ::fsync(fd) == 0;
    }
    const bool closed = std::fclose(out->stream) == 0;
    out->stream = nullptr;
    return ok && closed;
}

int open_target(output_file* out) {
    struct stat st {};
    if (::lstat(out->path.c_str(), &st) != 0) {
        return open_new(out);
    }
    // Devices, pipes and symbolic links cannot be replaced by a renamed file
    // without changing what they are. A link to a regular file is written
    // through like any file written in place: opened as it is and cut to the
    // new length only at the end. Emptied first, the file could be one that
    // the program is still reading from (a changer writing over the image it
    // has mapped, named through a link).
    struct stat followed {};
    if (S_ISLNK(st.st_mode) && ::stat(out->path.c_str(), &followed) == 0 &&
        S_ISREG(followed.st_mode)) {
        return open_existing_in_place(out);
    }
    if (!S_ISREG(st.st_mode)) {
        out->stream = std::fopen(out->path.c_str(), "wb");
        return out->stream ? 0 : -1;
    }
    // A regular file that the user may not write stays refused, as opening
    // it for writing would be, even where its directory would allow the
    // rename.
    if (::faccessat(AT_FDCWD, out->path.c_str(), W_OK, AT_EACCESS) != 0) {
        return -1;
    }
    return open_replacement(out, st);
}

} // namespace

bool path_exists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

int open_output_file(output_file* out, const char* path) {
    discard_output_file(out);
    try {
        out->path = path;
        if (path[0] != '\0' && open_target(out) == 0) {
            return 0;
        }
    } catch (const std::bad_alloc&) {
        std::printf("memory exhaust!\n");
        discard_output_file(out);
        return -1;
    }
    std::printf("open error '%s'\n", path);
    discard_output_file(out);
    return -1;
}

int commit_output_file(output_file* out) {
    if (!out->stream || !close_stream(out)) {
        return commit_failed(out);
    }
    if (out->temp_path.empty()) {
        return 0;
    }
    if (std::rename(out->temp_path.c_str(), out->path.c_str()) != 0) {
        return commit_failed(out);
    }
    out->temp_path.clear();
    return 0;
}

void discard_output_file(output_file* out) {
    out->sync = false;
    out->truncate = false;
    if (out->stream) {
        std::fclose(out->stream);
        out->stream = nullptr;
    }
    if (!out->temp_path.empty()) {
        std::remove(out->temp_path.c_str());
        out->temp_path.clear();
    }
}

} // namespace kz

// Writing a file so that a failure never costs the user the old one, on
// POSIX systems.
#include "io/output_file.h"
#include "io/output_state.h"
#include "io/path.h"
#include "terminal/terminal.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kz {

namespace {

constexpr mode_t permission_bits = 07777;
constexpr mode_t new_file_mode = 0666; // less the umask, as fopen() makes files
constexpr mode_t private_mode = 0600;
constexpr int temp_attempts = 100;

std::string directory_part(const std::string& path) {
    return path.substr(0, file_name_start(path));
}

// The temporary file sits beside the target so that rename() can put it in
// place; it is named after the target so that a leftover is recognisable,
// unless that name would be too long for the file system. It is created
// with the given mode, which the system cuts by the umask (or a folder's
// default access list) as for any new file, and is not passed on to
// programs that this one might start.
int make_temp_file(const std::string& target, mode_t mode, std::string* temp_path) {
    bool short_name = false;
    for (int attempt = 0; attempt < temp_attempts; ++attempt) {
        *temp_path = short_name ? directory_part(target) + ".kz." + temp_name_suffix()
                                : target + "." + temp_name_suffix();
        const int fd =
            ::open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
        if (fd >= 0) {
            return fd;
        }
        if (errno == ENAMETOOLONG && !short_name) {
            short_name = true;
        } else if (errno != EEXIST) {
            break;
        }
    }
    temp_path->clear();
    return -1;
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
    const int fd = make_temp_file(out->path, new_file_mode, &out->state->temp_path);
    if (fd < 0) {
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
    out->state->sync = true;
    out->state->in_place = true;
    return adopt_fd(out, fd);
}

// A temporary file that replaces an existing regular file if nobody can tell
// the difference; otherwise the file is written in place.
int open_replacement(output_file* out, const struct stat& target) {
    if (target.st_nlink != 1 || !rename_allowed(out->path, target)) {
        return open_existing_in_place(out);
    }
    std::string& temp_path = out->state->temp_path;
    const int fd = make_temp_file(out->path, private_mode, &temp_path);
    if (fd < 0) {
        return open_existing_in_place(out);
    }
    if (!takes_on_identity(fd, target)) {
        ::close(fd);
        ::unlink(temp_path.c_str());
        temp_path.clear();
        return open_existing_in_place(out);
    }
    out->state->sync = true;
    return adopt_fd(out, fd);
}

// Flushes the stream, cuts a file written in place to what was written, syncs
// where an existing file's content is at stake, and closes; every failure on
// the way counts, and the stream is closed whatever happens.
bool close_stream(output_file* out) {
    const output_state& state = *out->state;
    const int fd = ::fileno(out->stream);
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && state.in_place) {
        const off_t length = ::lseek(fd, 0, SEEK_CUR);
        ok = length >= 0 && ::ftruncate(fd, length) == 0;
    }
    // Writing clears the set-ID bits of a file that is not root's; a
    // replacement gets the target's bits back before it takes its place.
    struct stat target {};
    if (ok && state.sync && !state.temp_path.empty() && ::stat(out->path.c_str(), &target) == 0) {
        ok = ::fchmod(fd, target.st_mode & permission_bits) == 0;
    }
    if (ok && state.sync) {
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

int open_output_file(output_file* out, const char* path) {
    discard_output_file(out);
    try {
        out->path = path;
        out->state = std::make_unique<output_state>();
        if (path[0] != '\0' && open_target(out) == 0) {
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
    std::string& temp_path = out->state->temp_path;
    if (!temp_path.empty()) {
        if (std::rename(temp_path.c_str(), out->path.c_str()) != 0) {
            return commit_failed(out);
        }
        temp_path.clear();
    }
    out->state.reset();
    return 0;
}

void discard_output_file(output_file* out) {
    if (out->stream) {
        std::fclose(out->stream);
        out->stream = nullptr;
    }
    if (out->state && !out->state->temp_path.empty()) {
        std::remove(out->state->temp_path.c_str());
    }
    out->state.reset();
}

} // namespace kz

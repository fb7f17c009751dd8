// Writing a file so that a failure never costs the user the old one.
#include "io/output_file.h"

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

std::string directory_part(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
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
    return fd;
}

// The mode a newly created file gets from fopen(): 0666 less the umask. The
// umask can only be read by setting it, so it is put straight back.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

int open_in_place(output_file* out) {
    out->stream = std::fopen(out->path.c_str(), "wb");
    return out->stream ? 0 : -1;
}

int open_temp(output_file* out) {
    const int fd = make_temp_file(out->path, &out->temp_path);
    if (fd < 0) {
        out->temp_path.clear();
        return -1;
    }
    out->stream = ::fdopen(fd, "wb");
    if (!out->stream) {
        ::close(fd);
        return -1;
    }
    return 0;
}

// Flushes and closes the stream; every failure on the way counts, and the
// stream is closed whatever happens.
bool close_stream(output_file* out, bool sync) {
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && sync) {
        ok = ::fsync(::fileno(out->stream)) == 0;
    }
    const bool closed = std::fclose(out->stream) == 0;
    out->stream = nullptr;
    return ok && closed;
}

int commit_failed(output_file* out) {
    std::printf("write error '%s'\n", out->path.c_str());
    discard_output_file(out);
    return -1;
}

} // namespace

bool path_exists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

output_file::~output_file() {
    discard_output_file(this);
}

int open_output_file(output_file* out, const char* path) {
    discard_output_file(out);
    try {
        out->path = path;
    } catch (const std::bad_alloc&) {
        std::printf("memory exhaust!\n");
        return -1;
    }

    if (path[0] == '\0') {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    // Devices, pipes and symbolic links cannot be replaced by a renamed file
    // without changing what they are, so they are written in place. A
    // regular file that the user may not write stays refused, as opening it
    // for writing would be, even where its directory would allow the rename.
    struct stat st {};
    const bool exists = ::lstat(path, &st) == 0;
    const bool special = exists && !S_ISREG(st.st_mode);
    if (exists && !special && ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    int result = -1;
    try {
        result = special ? open_in_place(out) : open_temp(out);
    } catch (const std::bad_alloc&) {
        std::printf("memory exhaust!\n");
        discard_output_file(out);
        return -1;
    }
    if (result != 0) {
        std::printf("open error '%s'\n", path);
        discard_output_file(out);
        return -1;
    }
    out->replaces_file = exists && !special;
    return 0;
}

int commit_output_file(output_file* out) {
    if (!out->stream) {
        return commit_failed(out);
    }
    if (out->temp_path.empty()) {
        return close_stream(out, false) ? 0 : commit_failed(out);
    }

    if (!close_stream(out, out->replaces_file)) {
        return commit_failed(out);
    }
    // An existing target keeps its permission bits, and its owner where we
    // may give it (root replacing a user's image must not leave it root's);
    // a new file gets what fopen() would have given it. The owner comes
    // first, as changing it may clear set-id bits.
    struct stat st {};
    const bool replacing = ::stat(out->path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const mode_t mode = replacing ? st.st_mode & 07777 : new_file_mode();
    if (replacing) {
        // Failure only means we may not give the file away; it stays ours.
        static_cast<void>(::chown(out->temp_path.c_str(), st.st_uid, st.st_gid));
    }
    if (::chmod(out->temp_path.c_str(), mode) != 0 ||
        std::rename(out->temp_path.c_str(), out->path.c_str()) != 0) {
        return commit_failed(out);
    }
    out->temp_path.clear();
    return 0;
}

void discard_output_file(output_file* out) {
    out->replaces_file = false;
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

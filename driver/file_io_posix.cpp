#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "file_io.h"

std::FILE* open_for_reading(const PathChar* path) {
    return std::fopen(path, "rb");
}

int64_t regular_file_size(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

std::string path_for_message(const PathChar* path) {
    return path;
}

namespace {

bool write_all(std::FILE* file, const OutputRegion* regions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (regions[i].size != 0 &&
            std::fwrite(regions[i].data, 1, regions[i].size, file) != regions[i].size) {
            return false;
        }
    }
    return std::fflush(file) == 0;
}

// A device or pipe cannot be replaced by a rename; write it as it is.
bool write_directly(const char* path, const OutputRegion* regions, size_t count,
                    std::string& reason) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    const bool written = write_all(file, regions, count);
    const int saved = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = std::strerror(written ? errno : saved);
        return false;
    }
    return true;
}

}  // namespace

bool write_file_replacing(const PathChar* path, const OutputRegion* regions, size_t count,
                          std::string& reason) {
    // Follow a symbolic link, so that its target is replaced and the link stays.
    std::string target = path;
    struct stat info {};
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path, resolved) != nullptr) {
            target = resolved;
        }
    }
    const bool exists = stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        return write_directly(target.c_str(), regions, count, reason);
    }

    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = folder + "." + name + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    // mkstemp makes the file 0600; give it what "wb" would have: the old
    // file's mode, or 0666 less the umask for a new one.
    mode_t mode = 0;
    if (exists) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        reason = std::strerror(errno);
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    const bool written = write_all(file, regions, count);
    const int saved = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = std::strerror(written ? errno : saved);
        unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        reason = std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

#endif

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
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

// A device or pipe cannot be replaced by a rename; write it as it is.
bool write_directly(const char* path, const OutputRegion* regions, size_t count,
                    std::string& reason) {
    return write_and_close(std::fopen(path, "wb"), regions, count, reason);
}

constexpr int MAX_LINK_HOPS = 40;  // Linux's own limit before ELOOP
constexpr size_t TEMP_NAME_KEPT = 32;  // bytes of the output's name in the temp's

// Where "wb" on a path that does not exist would create the file: a
// dangling symbolic link in the last component is followed to its target,
// so that the link stays. Links among the folders need nothing: the kernel
// follows them for the rename too.
bool resolve_dangling_link(const char* path, std::string& target, std::string& reason) {
    target = path;
    for (int hops = 0; hops < MAX_LINK_HOPS; ++hops) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        char text[PATH_MAX];
        const ssize_t length = readlink(target.c_str(), text, sizeof text);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof text) {
            reason = std::strerror(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        const std::string link(text, static_cast<size_t>(length));
        const size_t slash = target.rfind('/');
        target = link[0] == '/' || slash == std::string::npos ? link
                                                               : target.substr(0, slash + 1) + link;
    }
    reason = std::strerror(ELOOP);
    return false;
}

// A signal that ends the program while the temp exists (Ctrl-C in a batch, a
// script's kill) would leave it beside the output: the handler removes it,
// then ends the program as the signal would have. Signals the caller ignores
// stay ignored.
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
char temp_to_remove[PATH_MAX + 64];
volatile sig_atomic_t temp_exists = 0;

void remove_temp_and_end(int signal_number) {
    if (temp_exists != 0) {
        unlink(temp_to_remove);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// While a temp is being made, renamed or removed, the ending signals wait,
// so that the handler never sees a name half set or a file already renamed.
// Returns the mask to put back.
sigset_t hold_ending_signals() {
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (const int s : ENDING_SIGNALS) {
        sigaddset(&held, s);
    }
    sigprocmask(SIG_BLOCK, &held, &previous);
    return previous;
}

void release_ending_signals(const sigset_t& previous) {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Called with the ending signals held. A name too long to keep is not
// watched; mkstemp could not have made it anyway.
void watch_temp(const std::string& temp) {
    if (temp.size() >= sizeof temp_to_remove) {
        return;
    }
    std::memcpy(temp_to_remove, temp.c_str(), temp.size() + 1);
    temp_exists = 1;
    for (const int s : ENDING_SIGNALS) {
        struct sigaction action {};
        if (sigaction(s, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
            action.sa_handler = remove_temp_and_end;
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0;
            sigaction(s, &action, nullptr);
        }
    }
}

// The two ends of a temp's life. Callers take errno before remove_temp;
// rename_temp leaves it as the rename did.
void remove_temp(const std::string& temp) {
    const sigset_t previous = hold_ending_signals();
    temp_exists = 0;
    unlink(temp.c_str());
    release_ending_signals(previous);
}

bool rename_temp(const std::string& temp, const std::string& target) {
    const sigset_t previous = hold_ending_signals();
    const bool renamed = std::rename(temp.c_str(), target.c_str()) == 0;
    const int error = errno;
    if (renamed) {
        temp_exists = 0;
    }
    release_ending_signals(previous);
    errno = error;
    return renamed;
}

}  // namespace

bool write_file_replacing(const PathChar* path, const OutputRegion* regions, size_t count,
                          std::string& reason) {
    if (path[0] == '\0') {  // names nothing; the temp would land in the working folder
        reason = std::strerror(ENOENT);
        return false;
    }
    struct stat info {};
    const bool exists = stat(path, &info) == 0;
    if (!exists && errno != ENOENT) {
        reason = std::strerror(errno);  // a loop, a file as folder: "wb" fails alike
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        // Through the path as given: /dev/stdout and its kin are links whose
        // text names no file.
        return write_directly(path, regions, count, reason);
    }
    // The file the rename must replace (or create): an existing one by its
    // real path, so that a symbolic link to it stays a link.
    std::string target;
    if (exists) {
        char resolved[PATH_MAX];
        if (realpath(path, resolved) == nullptr) {
            reason = std::strerror(errno);
            return false;
        }
        target = resolved;
    } else if (!resolve_dangling_link(path, target, reason)) {
        return false;
    }
    // "wb" would refuse a file we may not write; a rename would not ask.
    if (exists && access(target.c_str(), W_OK) != 0) {
        reason = std::strerror(errno);
        return false;
    }

    // The temp sits beside the target (a rename cannot cross file systems);
    // only a prefix of the name is kept, so that a name at the length limit
    // still leaves room for the temp's.
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = folder + "." + name.substr(0, TEMP_NAME_KEPT) + ".XXXXXX";
    const sigset_t previous = hold_ending_signals();
    const int fd = mkstemp(temp.data());
    const int mkstemp_error = errno;
    if (fd >= 0) {
        watch_temp(temp);
    }
    release_ending_signals(previous);
    if (fd < 0) {
        reason = std::strerror(mkstemp_error);
        return false;
    }
    // mkstemp makes the file 0600 and ours; give it what "wb" would have: the
    // old file's owner (where we may) and permission bits, or 0666 less the
    // umask for a new one. Set-id bits are dropped, as a write drops them.
    mode_t mode = 0;
    if (exists) {
        mode = info.st_mode & 0777;
        if ((info.st_uid != geteuid() || info.st_gid != getegid()) &&
            fchown(fd, info.st_uid, info.st_gid) != 0) {
            // Best effort: only root or a member of the group may.
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        remove_temp(temp);
        reason = std::strerror(error);  // after the cleanup: it may allocate
        return false;
    }
    // Flushed to the disk before the rename: after a crash the name holds
    // the old file or the new one, never an empty one.
    const bool written = write_regions(file, regions, count) && fsync(fileno(file)) == 0;
    const int saved = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        const int error = written ? errno : saved;
        remove_temp(temp);
        reason = std::strerror(error);
        return false;
    }
    if (!rename_temp(temp, target)) {
        const int error = errno;
        remove_temp(temp);
        reason = std::strerror(error);
        return false;
    }
    return true;
}

#endif

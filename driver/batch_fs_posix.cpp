#ifndef _WIN32

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "batch_fs.h"

bool is_separator(PathChar c) {
    return c == '/';
}

PathString path_key(const PathString& path) {
    return path;
}

namespace {

PathKind kind_of(mode_t mode) {
    return S_ISREG(mode) ? PathKind::REGULAR : S_ISDIR(mode) ? PathKind::FOLDER : PathKind::OTHER;
}

struct FolderCloser {
    void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

bool path_info(const PathChar* path, PathInfo& info, std::string& reason) {
    struct stat status {};
    if (stat(path, &status) != 0) {
        if (errno == ENOENT) {
            info = {PathKind::MISSING, 0};
            return true;
        }
        reason = std::strerror(errno);
        return false;
    }
    info.kind = kind_of(status.st_mode);
    info.modified = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
    return true;
}

bool list_folder(const PathChar* folder, std::vector<FolderEntry>& entries, std::string& reason) {
    const std::unique_ptr<DIR, FolderCloser> dir(opendir(folder));
    if (!dir) {
        reason = std::strerror(errno);
        return false;
    }
    const PathString base = folder;
    const PathString prefix = base.empty() || is_separator(base.back()) ? base : base + "/";
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                reason = std::strerror(errno);
                return false;
            }
            return true;
        }
        const PathString name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        FolderEntry found{name, PathKind::OTHER, entry->d_type == DT_LNK};
        if (entry->d_type == DT_REG) {
            found.kind = PathKind::REGULAR;
        } else if (entry->d_type == DT_DIR) {
            found.kind = PathKind::FOLDER;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // Followed; a dangling link is MISSING, and fails as a missing input would.
            struct stat status {};
            const std::string path = prefix + name;
            if (stat(path.c_str(), &status) == 0) {
                found.kind = kind_of(status.st_mode);
            } else {
                found.kind = PathKind::MISSING;
            }
            struct stat own {};
            found.linked = lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
        }
        entries.push_back(std::move(found));
    }
}

bool make_folders(const PathString& folder, std::string& reason) {
    struct stat status {};
    if (folder.empty() || stat(folder.c_str(), &status) == 0) {
        return true;  // an existing file fails later, as the output's parent
    }
    size_t end = folder.size();
    while (end > 0 && is_separator(folder[end - 1])) {
        --end;
    }
    const size_t slash = folder.find_last_of('/', end == 0 ? 0 : end - 1);
    if (slash != PathString::npos && slash != 0 && !make_folders(folder.substr(0, slash), reason)) {
        return false;
    }
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

bool error_is_terminal() {
    return isatty(2) != 0;
}

void write_error(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

namespace {

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
sigset_t stop_signals;
std::atomic<int> stop_signal{0};

void unblock(int signal_number) {
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
}

// The one thread that takes the stop signals; every other blocks them.
void take_signals_in_turn() {
    for (;;) {
        int received = 0;
        if (sigwait(&stop_signals, &received) != 0) {
            continue;
        }
        int none = 0;
        if (stop_signal.compare_exchange_strong(none, received)) {
            write_error(std::string(error_is_terminal() ? "\n" : "") +
                        "tavrimox-batch: stopping once the files in flight are written; "
                        "again to stop at once\n");
            continue;
        }
        unblock(received);
        std::raise(received);
    }
}

}  // namespace

void take_stop_signals() {
    sigemptyset(&stop_signals);
    for (const int s : STOP_SIGNALS) {
        struct sigaction action {};
        if (sigaction(s, nullptr, &action) == 0 && action.sa_handler == SIG_DFL) {
            sigaddset(&stop_signals, s);
        }
    }
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    try {
        std::thread(take_signals_in_turn).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);  // they end it at once, as before
    }
}

bool stop_requested() {
    return stop_signal.load() != 0;
}

void end_by_stop_signal() {
    const int s = stop_signal.load();
    if (s == 0) {
        return;
    }
    std::signal(s, SIG_DFL);
    unblock(s);
    std::raise(s);
}

void hold_own_console() {}

#endif

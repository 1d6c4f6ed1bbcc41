#ifndef _WIN32

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

void hold_own_console() {}

#endif

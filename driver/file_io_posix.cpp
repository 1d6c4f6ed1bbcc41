#ifndef _WIN32

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
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
    return escape_controls(path);
}

bool extend_file(std::FILE* file, uint64_t size) {
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

namespace {

constexpr int MAX_LINK_HOPS = 40;  // Linux's own limit before ELOOP
constexpr size_t TEMP_NAME_KEPT = 32;  // bytes of the output's name in the temp's

// The folder part of a path, with its slash ("" for a bare name).
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where a symbolic link at `at` leads: its text, taken from at's folder when relative.
bool follow_link(std::string& at, std::string& reason) {
    char text[PATH_MAX];
    const ssize_t length = readlink(at.c_str(), text, sizeof text);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text) {
        reason = std::strerror(length < 0 ? errno : ENAMETOOLONG);
        return false;
    }
    const std::string link(text, static_cast<size_t>(length));
    at = link[0] == '/' ? link : folder_of(at) + link;
    return true;
}

// --- Paths that name an open descriptor ---------------------------------------

// The N of "/dev/fd/N", "/proc/self/fd/N", "/proc/thread-self/fd/N" or
// "/proc/<our pid>/fd/N", the 0, 1 or 2 of /dev/stdin, /dev/stdout and
// /dev/stderr; else -1.
int descriptor_in_text(const std::string& path) {
    if (path == "/dev/stdin" || path == "/dev/stdout" || path == "/dev/stderr") {
        return path == "/dev/stdin" ? 0 : path == "/dev/stdout" ? 1 : 2;
    }
    const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                    "/proc/" + std::to_string(getpid()) + "/fd/"};
    for (const std::string& prefix : prefixes) {
        if (path.size() > prefix.size() && path.size() <= prefix.size() + 9 &&
            path.compare(0, prefix.size(), prefix) == 0 &&
            path.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
            return std::atoi(path.c_str() + prefix.size());
        }
    }
    return -1;
}

// The open descriptor that path names, itself or through symbolic links, or
// -1. Opened again by its name, such a path would be a new open of the file
// behind the descriptor: "wb" would empty it and a rename would replace it,
// where the caller (`>> log`, `( ...; echo ) > out`) meant the descriptor
// itself, at its offset and in its append mode.
int descriptor_named(const char* path) {
    std::string at = path;
    std::string ignored;
    for (int hops = 0; hops < MAX_LINK_HOPS; ++hops) {
        const int descriptor = descriptor_in_text(at);
        if (descriptor >= 0) {
            return fcntl(descriptor, F_GETFD) != -1 ? descriptor : -1;
        }
        struct stat info {};
        if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode) || !follow_link(at, ignored)) {
            return -1;
        }
    }
    return -1;
}

bool write_to_descriptor(int descriptor, const OutputRegion* regions, size_t count,
                         std::string& reason) {
    const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    std::FILE* file = copy >= 0 ? fdopen(copy, "wb") : nullptr;  // "w" of fdopen truncates nothing
    if (copy >= 0 && file == nullptr) {
        const int error = errno;
        close(copy);
        errno = error;
    }
    return write_and_close(file, regions, count, reason);
}

// A device or pipe cannot be replaced by a rename; write it as it is.
bool write_directly(const char* path, const OutputRegion* regions, size_t count,
                    std::string& reason) {
    return write_and_close(std::fopen(path, "wb"), regions, count, reason);
}

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
        if (!follow_link(target, reason)) {
            return false;
        }
    }
    reason = std::strerror(ELOOP);
    return false;
}

// --- Named temporaries and the signals that must remove them --------------------

// Every signal whose default action ends the process, but SIGKILL and
// SIGSTOP, which cannot be caught. Against those the temporary has no name
// while it is written (O_TMPFILE) where the system allows.
constexpr int ENDING_SIGNALS[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
    SIGXCPU, SIGXFSZ, SIGPIPE, SIGABRT, SIGBUS,  SIGFPE,  SIGILL,  SIGSEGV,   SIGSYS, SIGTRAP,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// One temporary in flight. A writer claims a slot for the whole write and
// frees it at the end; while the file has a name, the slot is NAMED. The
// handler reads only NAMED slots, whose name is complete: it is filled while
// CLAIMED and published before the file of that name is made.
constexpr int SLOT_FREE = 0;
constexpr int SLOT_CLAIMED = 1;
constexpr int SLOT_NAMED = 2;
struct TempSlot {
    std::atomic<int> state;
    char name[PATH_MAX + 64];
};
static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");
// More writes at once than this run with their temporaries unwatched.
constexpr size_t TEMP_SLOTS = 64;
TempSlot temp_slots[TEMP_SLOTS];

// Threads making a temporary's name now. Once the handler has begun, no
// thread makes another, and the handler waits for those under way, so that
// every named temporary is in a slot by the time it sweeps them.
std::atomic<int> naming{0};
std::atomic<bool> ending{false};

bool begin_naming() {
    naming.fetch_add(1);
    if (ending.load()) {
        naming.fetch_sub(1);
        errno = EINTR;
        return false;
    }
    return true;
}

void end_naming() {
    naming.fetch_sub(1);
}

void remove_temps_and_end(int signal_number) {
    ending.store(true);
    // A name takes one system call to make; the bound only keeps a hung
    // file system from holding the end up for ever.
    for (int waited = 0; naming.load() != 0 && waited < 2000; ++waited) {
        const timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
    }
    for (TempSlot& slot : temp_slots) {
        if (slot.state.load() == SLOT_NAMED) {
            unlink(slot.name);
        }
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Once per process. A signal the caller ignores or handles is left to it.
void watch_ending_signals() {
    static const bool watched = [] {
        for (const int s : ENDING_SIGNALS) {
            struct sigaction action {};
            if (sigaction(s, nullptr, &action) == 0 && action.sa_handler == SIG_DFL &&
                (action.sa_flags & SA_SIGINFO) == 0) {
                action.sa_handler = remove_temps_and_end;
                sigemptyset(&action.sa_mask);
                action.sa_flags = 0;
                sigaction(s, &action, nullptr);
            }
        }
        return true;
    }();
    (void)watched;
}

// While a temporary is named, renamed or removed, this thread takes no
// ending signal, so that the handler never finds a file without its slot or
// a slot whose file is already renamed. Returns the mask to put back.
sigset_t hold_ending_signals() {
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (const int s : ENDING_SIGNALS) {
        sigaddset(&held, s);
    }
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    return previous;
}

void release_ending_signals(const sigset_t& previous) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Null when every slot is taken.
TempSlot* claim_slot() {
    for (TempSlot& slot : temp_slots) {
        int expected = SLOT_FREE;
        if (slot.state.compare_exchange_strong(expected, SLOT_CLAIMED)) {
            return &slot;
        }
    }
    return nullptr;
}

void publish(TempSlot* slot, const std::string& name) {
    if (slot != nullptr && name.size() < sizeof slot->name) {
        std::memcpy(slot->name, name.c_str(), name.size() + 1);
        slot->state.store(SLOT_NAMED);
    }
}

void unpublish(TempSlot* slot) {
    if (slot != nullptr) {
        slot->state.store(SLOT_CLAIMED);
    }
}

void free_slot(TempSlot* slot) {
    if (slot != nullptr) {
        slot->state.store(SLOT_FREE);
    }
}

// "<folder>.<name>.<six letters>": hidden, beside the target (a rename
// cannot cross file systems), and only a prefix of the name, so that a name
// at the length limit still leaves room.
std::string temp_name(const std::string& folder, const std::string& name) {
    static std::atomic<uint64_t> counter{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t x = counter.fetch_add(1) ^ static_cast<uint64_t>(getpid()) << 32 ^
                 static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 20;
    constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        suffix += LETTERS[(x >> 33) % (sizeof LETTERS - 1)];
    }
    return folder + "." + name.substr(0, TEMP_NAME_KEPT) + "." + suffix;
}

// A named temporary, for where the file system makes no unnamed one.
struct NamedTemp {
    std::string name;
    TempSlot* slot;
};

// Creates a temporary of a fresh name, exclusively: neither another run's
// nor an existing file is ever written over.
int create_named_temp(const std::string& folder, const std::string& name, NamedTemp& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp.name = temp_name(folder, name);
        const sigset_t previous = hold_ending_signals();
        if (!begin_naming()) {
            release_ending_signals(previous);
            return -1;
        }
        publish(temp.slot, temp.name);
        const int fd = open(temp.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const int error = errno;
        if (fd < 0) {
            unpublish(temp.slot);
        }
        end_naming();
        release_ending_signals(previous);
        if (fd >= 0 || error != EEXIST) {
            errno = error;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Gives the complete file its final name; on failure removes the temporary.
// Callers take errno after it.
bool rename_into_place(const NamedTemp& temp, const std::string& target) {
    const sigset_t previous = hold_ending_signals();
    const bool renamed = std::rename(temp.name.c_str(), target.c_str()) == 0;
    const int error = errno;
    if (!renamed) {
        unlink(temp.name.c_str());
    }
    unpublish(temp.slot);
    release_ending_signals(previous);
    errno = error;
    return renamed;
}

void remove_named_temp(const NamedTemp& temp) {
    const sigset_t previous = hold_ending_signals();
    unlink(temp.name.c_str());
    unpublish(temp.slot);
    release_ending_signals(previous);
}

#ifdef O_TMPFILE
// An unnamed temporary gets a name only once it is complete: linked under a
// fresh temporary name, then renamed over the target at once. Linked through
// /proc/self/fd, which needs no privilege (AT_EMPTY_PATH would).
bool link_into_place(int fd, const std::string& folder, const std::string& name,
                     const std::string& target, TempSlot* slot) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    NamedTemp temp{std::string(), slot};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp.name = temp_name(folder, name);
        const sigset_t previous = hold_ending_signals();
        if (!begin_naming()) {
            release_ending_signals(previous);
            return false;
        }
        publish(slot, temp.name);
        const bool linked =
            linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        const int error = errno;
        if (!linked) {
            unpublish(slot);
        }
        end_naming();
        release_ending_signals(previous);
        if (linked) {
            return rename_into_place(temp, target);
        }
        if (error != EEXIST) {
            errno = error;
            return false;
        }
    }
    errno = EEXIST;
    return false;
}
#endif

// Read once, before any thread starts: reading it means setting it, which
// would let another thread's files be made meanwhile with none.
mode_t read_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}
const mode_t process_umask = read_umask();

// What "wb" would have given the file: the old file's owner (where we may)
// and permission bits, or 0666 less the umask for a new one. Set-id bits are
// dropped, as a write drops them.
bool give_mode(int fd, bool exists, const struct stat& old) {
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 0777;
        if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
            fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Best effort: only root or a member of the group may.
        }
    } else {
        mode = 0666 & ~process_umask;
    }
    return fchmod(fd, mode) == 0;
}

// Writes the regions into the temporary fd, flushed to the disk before it
// is named: after a crash the name holds the old file or the new one, never
// an empty one. Leaves fd open.
bool write_temp(int fd, const OutputRegion* regions, size_t count) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    std::FILE* file = copy >= 0 ? fdopen(copy, "wb") : nullptr;
    if (file == nullptr) {
        if (copy >= 0) {
            close(copy);
        }
        return false;
    }
    const bool written = write_regions(file, regions, count, true) && fsync(fd) == 0;
    int error = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && !closed) {
        error = errno;
    }
    errno = error;
    return written && closed;
}

}  // namespace

bool write_file_replacing(const PathChar* path, const OutputRegion* regions, size_t count,
                          std::string& reason) {
    if (path[0] == '\0') {  // names nothing; the temp would land in the working folder
        reason = std::strerror(ENOENT);
        return false;
    }
    const int descriptor = descriptor_named(path);
    if (descriptor >= 0) {
        return write_to_descriptor(descriptor, regions, count, reason);
    }
    struct stat info {};
    const bool exists = stat(path, &info) == 0;
    if (!exists && errno != ENOENT) {
        reason = std::strerror(errno);  // a loop, a file as folder: "wb" fails alike
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
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
    const std::string folder = folder_of(target);
    const std::string name = target.substr(folder.size());

    watch_ending_signals();
    TempSlot* const slot = claim_slot();
#ifdef O_TMPFILE
    // Unnamed while it is written, so that no stop, SIGKILL included, leaves
    // it behind. Where the file system cannot, or the link fails, the regions
    // are written again to a named temporary.
    const int unnamed = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        const bool done = give_mode(unnamed, exists, info) && write_temp(unnamed, regions, count) &&
                          link_into_place(unnamed, folder, name, target, slot);
        const int error = errno;
        close(unnamed);
        // A link refused (no /proc, another file system) leaves nothing behind.
        if (done || (error != EXDEV && error != EPERM && error != ENOENT && error != EOPNOTSUPP)) {
            free_slot(slot);
            if (!done) {
                reason = std::strerror(error);  // after the cleanup: it may allocate
            }
            return done;
        }
    }
#endif
    NamedTemp temp{std::string(), slot};
    const int fd = create_named_temp(folder, name, temp);
    if (fd < 0) {
        const int error = errno;
        free_slot(slot);
        reason = std::strerror(error);
        return false;
    }
    const bool written = give_mode(fd, exists, info) && write_temp(fd, regions, count);
    int error = errno;
    close(fd);
    bool done = false;
    if (!written) {
        remove_named_temp(temp);
    } else {
        done = rename_into_place(temp, target);
        error = errno;
    }
    free_slot(slot);
    if (!done) {
        reason = std::strerror(error);
    }
    return done;
}

#endif

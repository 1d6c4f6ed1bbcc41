// What the batch program needs of the system beyond reading and replacing
// files (file_io.h): folders listed and made, what a path is and when it
// changed, and the terminal or console it reports to.
#ifndef TAVRIMOX_BATCH_FS_H
#define TAVRIMOX_BATCH_FS_H

#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"

using PathString = std::basic_string<PathChar>;

#ifdef _WIN32
inline constexpr PathChar SEPARATOR = L'\\';
#else
inline constexpr PathChar SEPARATOR = '/';
#endif

bool is_separator(PathChar c);

// The path as the file system compares names: on Windows without letter
// case, "/" as "\\"; elsewhere the path itself.
PathString path_key(const PathString& path);

// REGULAR is a regular file; OTHER a device, a pipe, a socket. Links are followed.
enum class PathKind { MISSING, REGULAR, FOLDER, OTHER };

struct PathInfo {
    PathKind kind;
    int64_t modified;  // in the system's own units, for comparisons only
};

// false, reason set, when the system cannot tell (a loop, no permission).
bool path_info(const PathChar* path, PathInfo& info, std::string& reason);

struct FolderEntry {
    PathString name;
    PathKind kind;  // as the link leads, for a link
    bool linked;    // a symbolic link (or on Windows a junction)
};

// The folder's entries but "." and "..", in no particular order.
bool list_folder(const PathChar* folder, std::vector<FolderEntry>& entries, std::string& reason);

// Makes the folder and any missing parent; a folder made meanwhile by
// another thread or process is no failure.
bool make_folders(const PathString& folder, std::string& reason);

// Whether standard error is a terminal (a console on Windows).
bool error_is_terminal();

// Writes text to standard error as one write; on a Windows console as
// UTF-16, so that any name shows as it is.
void write_error(const std::string& text);

// POSIX: SIGINT, SIGTERM and SIGHUP (those not ignored) no longer end the
// program at once. The first asks it to stop: no file starts after it, and
// those in flight are finished, whole. A second ends it at once, through the
// file layer's own handler, which removes the temporaries in flight. To be
// called before any other thread starts. Windows: nothing changes; a
// console's Ctrl-C ends the program, and Windows removes the temporaries.
void take_stop_signals();
bool stop_requested();
// Ends the program by the signal that asked it to stop; returns if none did.
void end_by_stop_signal();

// Windows: when the console was made for this process alone (started from
// Explorer, a file dropped on it) and shows standard error, asks for a key
// and waits for it, so that the window stays until its lines are read.
// Elsewhere it does nothing.
void hold_own_console();

#endif

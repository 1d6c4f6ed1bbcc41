#ifdef _WIN32

#include <windows.h>
#include <conio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "batch_fs.h"

bool is_separator(PathChar c) {
    return c == L'\\' || c == L'/';
}

PathString path_key(const PathString& path) {
    std::wstring key = path;
    if (!key.empty()) {
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()),
                     key.data(), static_cast<int>(key.size()));
    }
    for (wchar_t& c : key) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return key;
}

namespace {

// The C runtime's words for the failures a listing or a new folder meets,
// as the file layer words them; a number for the rest.
std::string reason_of(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
            return std::strerror(EACCES);
        case ERROR_DIRECTORY:
            return std::strerror(ENOTDIR);
        case ERROR_DISK_FULL:
            return std::strerror(ENOSPC);
        default:
            return "Windows error " + std::to_string(code);
    }
}

PathKind kind_of(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return PathKind::FOLDER;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::OTHER : PathKind::REGULAR;
}

int64_t ticks_of(const FILETIME& time) {
    return static_cast<int64_t>(uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime);
}

bool is_console(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool path_info(const PathChar* path, PathInfo& info, std::string& reason) {
    const std::wstring name = extended_path(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            info = {PathKind::MISSING, 0};
            return true;
        }
        // Devices (NUL, CON) have no attributes to read but can be opened.
        const HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            info = {PathKind::OTHER, 0};
            return true;
        }
        reason = reason_of(code);
        return false;
    }
    info.kind = kind_of(data.dwFileAttributes);
    info.modified = ticks_of(data.ftLastWriteTime);
    return true;
}

bool list_folder(const PathChar* folder, std::vector<FolderEntry>& entries, std::string& reason) {
    std::wstring pattern = folder;
    if (!pattern.empty() && !is_separator(pattern.back()) && pattern.back() != L':') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW(extended_path(pattern.c_str()).c_str(), FindExInfoBasic,
                                           &found, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        reason = reason_of(GetLastError());
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    while (error == ERROR_SUCCESS) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            // A junction or a link to a folder is a reparse point with the folder bit.
            const bool linked = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entries.push_back({name, kind_of(found.dwFileAttributes), linked});
        }
        if (!FindNextFileW(search, &found)) {
            error = GetLastError();
        }
    }
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        reason = reason_of(error);
        return false;
    }
    return true;
}

bool make_folders(const PathString& folder, std::string& reason) {
    if (folder.empty()) {
        return true;
    }
    const std::wstring name = extended_path(folder.c_str());
    if (GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;  // an existing file fails later, as the output's parent
    }
    size_t end = folder.size();
    while (end > 0 && is_separator(folder[end - 1])) {
        --end;
    }
    size_t parent = end;
    while (parent > 0 && !is_separator(folder[parent - 1]) && folder[parent - 1] != L':') {
        --parent;
    }
    // Down to a drive ("C:\") or a share: those exist or cannot be made.
    if (parent > 1 && !make_folders(folder.substr(0, parent), reason)) {
        return false;
    }
    if (!CreateDirectoryW(name.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        reason = reason_of(GetLastError());
        return false;
    }
    return true;
}

bool error_is_terminal() {
    return is_console(STD_ERROR_HANDLE);
}

void write_error(const std::string& text) {
    if (!error_is_terminal()) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
        return;
    }
    const int size = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (needed <= 0) {
        return;
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), wide.data(), static_cast<DWORD>(wide.size()),
                  &written, nullptr);
}

void take_stop_signals() {}

bool stop_requested() {
    return false;
}

void end_by_stop_signal() {}

namespace {

// Wine gives a program started from a Unix shell a console of its own,
// though the shell's terminal is where it was started from.
bool under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void hold_own_console() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1 || !error_is_terminal() || under_wine()) {
        return;
    }
    write_error("Press a key to close this window.\n");
    _getch();
}

#endif

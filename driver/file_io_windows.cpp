#ifdef _WIN32

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "file_io.h"

namespace {

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

}  // namespace

// "\\?\" lifts the 260-character limit, but only on an absolute path in which
// nothing is resolved any more ("..", "/" and device names are then literal),
// so it goes on the full name, and only when that is long. Paths already in a
// namespace ("\\?\", "\\.\") are left as given.
std::wstring extended_path(const wchar_t* path) {
    const size_t length = std::wcslen(path);
    if (length >= 4 && is_separator(path[0]) && is_separator(path[1]) &&
        (path[2] == L'?' || path[2] == L'.') && is_separator(path[3])) {
        return path;
    }
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD got = GetFullPathNameW(path, needed, full.data(), nullptr);
    // 12: the room the API keeps for an 8.3 name below a folder.
    if (got == 0 || got >= needed || got < MAX_PATH - 12) {
        return path;
    }
    full.resize(got);
    if (full.size() >= 2 && is_separator(full[0]) && is_separator(full[1])) {
        return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share -> \\?\UNC\server\share
    }
    return L"\\\\?\\" + full;
}

namespace {

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (and CONIN$, CONOUT$) name devices in
// every folder and with any extension: "out\nul.dds" is the null device.
bool is_reserved_device_name(const std::wstring& path) {
    size_t start = path.size();
    while (start > 0 && !is_separator(path[start - 1]) && path[start - 1] != L':') {
        --start;
    }
    std::wstring stem = path.substr(start, path.find(L'.', start) - start);
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) {
        stem.pop_back();
    }
    for (wchar_t& c : stem) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" ||
        stem == L"CONIN$" || stem == L"CONOUT$") {
        return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

// Something that exists and is not a disk file: a device, a pipe, the console.
bool is_existing_non_disk(const std::wstring& path) {
    const HANDLE handle = CreateFileW(path.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type != FILE_TYPE_DISK && type != FILE_TYPE_UNKNOWN;
}

std::string utf8_of(const wchar_t* text, int length) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), needed, nullptr, nullptr);
    return out;
}

// The system's message for a GetLastError code, in UTF-8, on one line.
std::string system_message(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        message = utf8_of(text, static_cast<int>(length));
    }
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    for (char& c : message) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    if (message.empty()) {
        message = "system error " + std::to_string(code);
    }
    return message;
}

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The C runtime's words for the common failures, so that messages read as on
// other systems; the system's own text for the rest.
std::string reason_for(DWORD code, const std::wstring& path) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME: {
            // "a\b.tex\out.dds": a parent that is a file, not a missing one.
            std::wstring parent = path;
            while (!parent.empty() && !is_separator(parent.back())) {
                parent.pop_back();
            }
            while (!parent.empty() && is_separator(parent.back())) {
                parent.pop_back();
            }
            const DWORD attributes = parent.empty() ? INVALID_FILE_ATTRIBUTES
                                                    : GetFileAttributesW(parent.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return std::strerror(ENOTDIR);
            }
            return std::strerror(ENOENT);
        }
        case ERROR_ACCESS_DENIED:
            return std::strerror(is_folder(path) ? EISDIR : EACCES);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::strerror(ENOSPC);
        default:
            return system_message(code);
    }
}

bool write_directly(const std::wstring& path, const OutputRegion* regions, size_t count,
                    std::string& reason) {
    return write_and_close(_wfopen(path.c_str(), L"wb"), regions, count, reason);
}

// Creates "<folder>\.<name>.<pid>-<n>.tmp" exclusively, so that neither a
// second run nor an existing file is ever overwritten by the temporary.
HANDLE create_temp_beside(const std::wstring& path, std::wstring& temp) {
    size_t slash = path.size();
    while (slash > 0 && !is_separator(path[slash - 1]) && path[slash - 1] != L':') {
        --slash;
    }
    const std::wstring folder = path.substr(0, slash);
    // A name component holds at most 255 characters; the suffix needs 30.
    const std::wstring name = path.substr(slash, 200);
    const DWORD pid = GetCurrentProcessId();
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        temp = folder + L"." + name + L"." + std::to_wstring(pid) + L"-" +
               std::to_wstring(GetTickCount() + attempt) + L".tmp";
        const HANDLE handle =
            CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return handle;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// A temporary marked for deletion is removed by Windows when its last handle
// closes, which happens however the process ends: Ctrl-C, a kill, a crash.
// The mark is cleared only once the whole output is written.
bool mark_for_deletion(HANDLE handle, bool marked) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = marked ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

// Held from the clearing of the mark until the temporary is renamed or
// removed. A Ctrl-C or a closing console in that stretch waits for it, so
// it never ends the program with an unmarked temporary left behind.
CRITICAL_SECTION finishing;

BOOL WINAPI wait_for_finishing(DWORD) {
    EnterCriticalSection(&finishing);
    return FALSE;  // on to the next handler: by default, the end of the program
}

void enter_finishing() {
    [[maybe_unused]] static const bool installed = [] {
        InitializeCriticalSection(&finishing);
        SetConsoleCtrlHandler(wait_for_finishing, TRUE);
        return true;
    }();
    EnterCriticalSection(&finishing);
}

}  // namespace

std::FILE* open_for_reading(const PathChar* path) {
    const std::wstring name = extended_path(path);
    std::FILE* file = _wfopen(name.c_str(), L"rb");
    if (file == nullptr && errno == EACCES && is_folder(name)) {
        errno = EISDIR;  // the runtime says only "Permission denied"
    }
    return file;
}

int64_t regular_file_size(std::FILE* file) {
    const int fd = _fileno(file);
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) {
        return -1;
    }
    // 64-bit on both targets: a 32-bit size would wrap for files of 4 GiB and more.
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

std::string path_for_message(const PathChar* path) {
    return escape_controls(utf8_of(path, static_cast<int>(std::wcslen(path))));
}

bool extend_file(std::FILE* file, uint64_t size) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    // Sparse where the file system allows: the zeros then take no disk space.
    DWORD returned = 0;
    DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(handle) != 0;
}

bool write_file_replacing(const PathChar* path, const OutputRegion* regions, size_t count,
                          std::string& reason) {
    if (is_reserved_device_name(path)) {
        return write_directly(path, regions, count, reason);
    }
    if (*path == L'\0') {
        reason = std::strerror(ENOENT);
        return false;
    }
    const std::wstring target = extended_path(path);
    if (is_existing_non_disk(target)) {
        return write_directly(target, regions, count, reason);
    }
    // "wb" refuses a read-only file; so does this, though a rename would not.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        reason = std::strerror(EISDIR);
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        reason = std::strerror(EACCES);
        return false;
    }

    std::wstring temp;
    const HANDLE handle = create_temp_beside(target, temp);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = reason_for(GetLastError(), target);
        return false;
    }
    // Best effort: where the file system refuses the mark, the temporary is
    // removed on every way out this function sees, as before.
    const bool marked = mark_for_deletion(handle, true);
    // The stream owns the handle from here: fclose closes both.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    // From here on the temporary is removed before the reason is built: that
    // allocates, and a throw must not leave the file behind.
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0) {
            _close(fd);
        } else {
            CloseHandle(handle);
        }
        DeleteFileW(temp.c_str());
        reason = std::strerror(error);
        return false;
    }
    const bool written = write_regions(file, regions, count, true);
    const int saved = errno;
    enter_finishing();
    const DWORD unmark_error =
        written && marked && !mark_for_deletion(handle, false) ? GetLastError() : 0;
    const bool closed = std::fclose(file) == 0;
    const int close_error = errno;
    bool moved = false;
    DWORD move_error = 0;
    if (written && closed && unmark_error == 0) {
        moved = MoveFileExW(temp.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        move_error = moved ? 0 : GetLastError();
    }
    if (!moved) {
        DeleteFileW(temp.c_str());
    }
    LeaveCriticalSection(&finishing);
    if (!written) {
        reason = std::strerror(saved);
    } else if (unmark_error != 0) {
        reason = reason_for(unmark_error, temp);
    } else if (!closed) {
        reason = std::strerror(close_error);
    } else if (!moved) {
        reason = reason_for(move_error, target);
    }
    return moved;
}

#endif

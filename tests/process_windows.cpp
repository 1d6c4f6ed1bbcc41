// CreateProcessW runner. Arguments are UTF-8 and reach the child as UTF-16.
// Standard output and error go to temporary files rather than pipes: nothing
// to drain while waiting, so no deadlock and no reader thread.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "process.h"

// The streams exactly as the child wrote them; run_process folds "\r\n".
ProcessResult run_process_raw(const ProcessRequest& request);

namespace {

std::wstring wide_of(const std::string& utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), needed);
    return out;
}

// A cross build run under wine knows its program by a Unix path; wine's
// kernel32 maps it to the DOS name ("Z:\..."). Native Windows lacks the export.
std::wstring program_path(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return wide_of(path);
    }
    using ToDos = WCHAR* (*)(const char*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto to_dos = kernel == nullptr ? nullptr
                                          : reinterpret_cast<ToDos>(reinterpret_cast<void*>(
                                                GetProcAddress(kernel, "wine_get_dos_file_name")));
    WCHAR* dos = to_dos == nullptr ? nullptr : to_dos(path.c_str());
    if (dos == nullptr) {
        return wide_of(path);
    }
    std::wstring out = dos;
    HeapFree(GetProcessHeap(), 0, dos);
    return out;
}

// One argument as CommandLineToArgvW and the C runtime split it back:
// backslashes are literal except before a quote, where they are doubled.
void append_quoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

// An inheritable, already deleted-on-close temporary file.
HANDLE temp_file() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 ||
        GetTempFileNameW(folder, L"tvx", 0, name) == 0) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                       nullptr);
}

std::string read_from_start(HANDLE file) {
    std::string out;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) {
        return out;
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) {
        out.append(chunk, got);
    }
    return out;
}

bool write_whole(HANDLE file, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD put = 0;
        if (!WriteFile(file, data.data() + done, want, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) != 0;
}

std::string without_carriage_returns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            out += text[i];
        }
    }
    return out;
}

// WAIT_OBJECT_0 once the child has ended, in time.
DWORD wait_for(HANDLE child, const std::function<bool()>& end_when) {
    const DWORD timeout = DWORD{PROCESS_TIMEOUT_SECONDS} * 1000;
    if (!end_when) {
        return WaitForSingleObject(child, timeout);
    }
    const ULONGLONG deadline = GetTickCount64() + timeout;
    bool ended = false;
    DWORD waited = WAIT_TIMEOUT;
    while ((waited = WaitForSingleObject(child, 1)) == WAIT_TIMEOUT &&
           GetTickCount64() < deadline) {
        if (!ended && end_when()) {
            TerminateProcess(child, ENDED_EXIT_CODE);
            ended = true;
        }
    }
    return waited;
}

}  // namespace

ProcessResult run_process_raw(const ProcessRequest& request) {
    ProcessResult result;
    if (request.args.empty()) {
        return result;
    }
    // Inherited by the child: a crash ends it with its code, no dialog waits.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

    const std::wstring program = program_path(request.args[0]);
    std::wstring line;
    append_quoted(line, program);
    for (size_t i = 1; i < request.args.size(); ++i) {
        line += L' ';
        append_quoted(line, wide_of(request.args[i]));
    }

    // Standard input is a file too: the program reads it only by name, if at all.
    const HANDLE in = temp_file();
    const HANDLE out = temp_file();
    const HANDLE err = temp_file();
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
        err != INVALID_HANDLE_VALUE && write_whole(in, request.stdin_data)) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        PROCESS_INFORMATION child{};
        if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           nullptr, &startup, &child)) {
            CloseHandle(child.hThread);
            const DWORD waited = wait_for(child.hProcess, request.end_when);
            DWORD code = 0;
            if (waited != WAIT_OBJECT_0) {
                TerminateProcess(child.hProcess, 1);
                WaitForSingleObject(child.hProcess, INFINITE);
            } else if (GetExitCodeProcess(child.hProcess, &code)) {
                result.exit_code = static_cast<int>(code);
            }
            CloseHandle(child.hProcess);
            result.out = read_from_start(out);
            result.err = read_from_start(err);
        }
    }
    for (const HANDLE h : {in, out, err}) {
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    return result;
}

ProcessResult run_process(const ProcessRequest& request) {
    ProcessResult result = run_process_raw(request);
    result.out = without_carriage_returns(result.out);
    result.err = without_carriage_returns(result.err);
    return result;
}

#endif

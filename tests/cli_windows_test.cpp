// The program on Windows: text-mode traps, device names, the temporary file
// beside the output, long paths, and file sizes past 32 bits.
#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli_files.h"
#include "process.h"
#include "tex_file.h"

ProcessResult run_process_raw(const ProcessRequest& request);

namespace fs = std::filesystem;

namespace {

std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(arg_of(entry.path().filename()));
    }
    return names;
}

ProcessResult convert(const fs::path& in, const fs::path& out) {
    return run_program({EXE, arg_of(in), arg_of(out)});
}

class Win : public ::testing::Test {
protected:
    void SetUp() override { dir = new_temp_folder("tavrimox_win_"); }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ignored)) {
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        fs::remove_all(dir, ignored);
    }
    fs::path dir;
};

// --- Binary mode --------------------------------------------------------------

struct BinaryCase {
    const char* name;
    Bytes payload;
};

void PrintTo(const BinaryCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes every_byte_value() {
    Bytes all(256 * 3);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    return all;
}

class WinBinary : public Win, public ::testing::WithParamInterface<BinaryCase> {};

// Text mode would turn 0x0A into 0x0D 0x0A on the way out, drop 0x0D before
// 0x0A and stop at 0x1A on the way in. Width 0x1A0A and height 0x0A0D put the
// same bytes into both headers; a stored block carries the payload verbatim.
TEST_P(WinBinary, PayloadAndHeaderBytesSurviveBothFiles) {
    const Bytes& payload = GetParam().payload;
    const uint32_t size = static_cast<uint32_t>(payload.size());
    write_bytes(dir / "in.tex", tex_file(stored_block(payload, true), size, TexFields{0x1A0A, 0x0A0D}));
    const ProcessResult r = convert(dir / "in.tex", dir / "out.dds");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_bytes(dir / "out.dds"), dds_file(payload, 0x1A0A, 0x0A0D));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, WinBinary,
    ::testing::Values(BinaryCase{"line_feeds", bytes_of("\n\n\na\n")},
                      BinaryCase{"ctrl_z_first", bytes_of("\x1A then more after end-of-file")},
                      BinaryCase{"crlf_pairs", bytes_of("\r\n\r\r\n\x1A\n\r")},
                      BinaryCase{"every_byte_value", every_byte_value()}),
    [](const auto& test) { return std::string(test.param.name); });

// --- Exit statuses and standard output ------------------------------------------

struct StatusCase {
    const char* name;
    std::vector<std::string> args;  // "@in", "@out", "@missing" stand for files in the folder
    Bytes input;
    int exit_code;
    const char* out_line;  // without its line end
    bool err_line;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class WinStatus : public Win, public ::testing::WithParamInterface<StatusCase> {};

// Standard output is in text mode: each line may end "\r\n" or "\n", and
// nothing but the one line may be there.
TEST_P(WinStatus, ExitStatusAndExactlyOneLine) {
    const StatusCase& c = GetParam();
    write_bytes(dir / "in.tex", c.input);
    ProcessRequest request;
    request.args = {EXE};
    for (const std::string& a : c.args) {
        request.args.push_back(a == "@in"        ? arg_of(dir / "in.tex")
                               : a == "@out"     ? arg_of(dir / "out.dds")
                               : a == "@missing" ? arg_of(dir / "missing.tex")
                                                 : a);
    }
    const ProcessResult r = run_process_raw(request);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    const std::string line = c.out_line;
    if (line.empty()) {
        EXPECT_EQ(r.out, "");
    } else {
        EXPECT_TRUE(r.out == line + "\r\n" || r.out == line + "\n") << r.out;
    }
    if (c.err_line) {
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    } else {
        EXPECT_EQ(r.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, WinStatus,
    ::testing::Values(
        StatusCase{"converted", {"@in", "@out"}, VALID_TEX, 0, "", false},
        StatusCase{"no_arguments", {}, VALID_TEX, 1, "Usage: tavrimox filename.tex filename.dds", false},
        StatusCase{"three_arguments", {"@in", "@out", "@out"}, VALID_TEX, 1,
                   "Usage: tavrimox filename.tex filename.dds", false},
        StatusCase{"bad_magic", {"@in", "@out"}, bytes_of("TEX!and more"), 2,
                   "ERROR: invalid input file.", false},
        // Converted, and one line says the payload was damaged.
        StatusCase{"damaged_payload", {"@in", "@out"}, tex_file(concat(stored_block(ABC, false), {0x07}), 100),
                   0, "", true},
        // The buffer follows the payload, the zeros past it need no memory:
        // so a 32-bit program converts it like any other.
        StatusCase{"declared_4gib_empty_payload", {"@in", "@out"}, tex_file({}, 0xFFFFFFF0), 0, "", true},
        StatusCase{"missing_input", {"@missing", "@out"}, VALID_TEX, 4, "", true},
        StatusCase{"truncated_payload", {"@in", "@out"}, tex_with_sizes(1000, 3, stored_block(ABC, true)),
                   4, "", true}),
    [](const auto& test) { return std::string(test.param.name); });

// --- Devices ---------------------------------------------------------------------

struct DeviceCase {
    const char* name;
    const char* output;  // "@/" stands for the test folder
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
    *os << c.name;
}

class WinDevice : public Win, public ::testing::WithParamInterface<DeviceCase> {};

// A device cannot be replaced by a rename: it is written directly, and neither
// a temporary nor a file of the device's name appears anywhere.
TEST_P(WinDevice, WrittenDirectlyNothingCreated) {
    write_bytes(dir / "in.tex", VALID_TEX);
    std::string output = GetParam().output;
    if (output.rfind("@/", 0) == 0) {
        output = arg_of(dir) + "\\" + output.substr(2);
    }
    const ProcessResult r = run_program({EXE, arg_of(dir / "in.tex"), output});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(names_in(dir), std::set<std::string>{"in.tex"});
}

INSTANTIATE_TEST_SUITE_P(
    Names, WinDevice,
    ::testing::Values(DeviceCase{"NUL", "NUL"}, DeviceCase{"nul_lower_case", "nul"},
                      DeviceCase{"device_namespace", "\\\\.\\NUL"},
                      DeviceCase{"nul_in_a_folder", "@/NUL"},
                      DeviceCase{"nul_with_extension", "@/nul.dds"}),
    [](const auto& test) { return std::string(test.param.name); });

// --- Replacing the output ----------------------------------------------------------

struct ReplaceCase {
    const char* name;
    Bytes previous;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << c.name;
}

class WinReplace : public Win, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(WinReplace, ExistingOutputReplacedWholeNoTempLeft) {
    write_bytes(dir / "in.tex", VALID_TEX);
    write_bytes(dir / "out.dds", GetParam().previous);
    const ProcessResult r = convert(dir / "in.tex", dir / "out.dds");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "out.dds"), VALID_DDS);
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"in.tex", "out.dds"}));
}

INSTANTIATE_TEST_SUITE_P(
    Previous, WinReplace,
    ::testing::Values(ReplaceCase{"empty", {}}, ReplaceCase{"shorter", bytes_of("DDS ")},
                      ReplaceCase{"longer", Bytes(100000, 0x5A)}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Win, SamePathReplacedByItsConversion) {
    write_bytes(dir / "both", VALID_TEX);
    const ProcessResult r = convert(dir / "both", dir / "both");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "both"), VALID_DDS);
    EXPECT_EQ(names_in(dir), std::set<std::string>{"both"});
}

// A kill while the output is written leaves no temporary behind: Windows
// removes it with the process's handles, and the output stays as it was.
TEST_F(Win, EndedWhileWritingLeavesNoTemp) {
    // A stream cut short converts to its declared size: 64 MiB of zeros,
    // time enough to be caught writing.
    constexpr uint32_t DECLARED = 64u << 20;
    const Bytes previous = bytes_of("previous");
    write_bytes(dir / "in.tex", tex_file(Bytes{}, DECLARED));
    write_bytes(dir / "out.dds", previous);
    // Whether a temporary is there, holding at least `bytes` bytes.
    const auto temp_holding = [&](uintmax_t bytes) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::error_code error;
            const uintmax_t size = entry.file_size(error);
            if (arg_of(entry.path().filename())[0] == '.' &&
                (bytes == 0 || (!error && size >= bytes))) {
                return true;
            }
        }
        return false;
    };
    ProcessRequest request;
    request.args = {EXE, arg_of(dir / "in.tex"), arg_of(dir / "out.dds")};
    // Ended once bytes are written, so after the temporary is marked for
    // deletion: ending it between its creation and the mark, a few system
    // calls apart, left it behind once in a run under load.
    request.end_when = [&] { return temp_holding(1); };
    const ProcessResult r = run_process(request);
    EXPECT_FALSE(temp_holding(0));
    if (r.exit_code != ENDED_EXIT_CODE) {
        EXPECT_EQ(r.exit_code, 0) << r.err;
        GTEST_SKIP() << "the conversion was past its temporary before it could be ended";
    }
    EXPECT_EQ(read_bytes(dir / "out.dds"), previous);
}

struct BlockedCase {
    const char* name;
    DWORD attributes;  // of an existing out.dds; 0: out.dds is a folder
};

void PrintTo(const BlockedCase& c, std::ostream* os) {
    *os << c.name;
}

class WinBlocked : public Win, public ::testing::WithParamInterface<BlockedCase> {};

// The rename fails at the very end: status 4, the destination as it was, and
// the finished temporary removed.
TEST_P(WinBlocked, RenameRefusedTempRemoved) {
    write_bytes(dir / "in.tex", VALID_TEX);
    const DWORD attributes = GetParam().attributes;
    if (attributes == 0) {
        fs::create_directory(dir / "out.dds");
    } else {
        write_bytes(dir / "out.dds", bytes_of("kept"));
        ASSERT_TRUE(SetFileAttributesW((dir / "out.dds").c_str(), attributes));
    }
    const ProcessResult r = convert(dir / "in.tex", dir / "out.dds");
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("tavrimox: " + arg_of(dir / "out.dds") + ": ", 0), 0u) << r.err;
    if (attributes != 0) {
        EXPECT_EQ(read_bytes(dir / "out.dds"), bytes_of("kept"));
    }
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"in.tex", "out.dds"}));
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, WinBlocked,
    ::testing::Values(BlockedCase{"read_only_file", FILE_ATTRIBUTE_READONLY},
                      BlockedCase{"folder", 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Win, MissingOutputFolderRefusedNothingCreated) {
    write_bytes(dir / "in.tex", VALID_TEX);
    const ProcessResult r = convert(dir / "in.tex", dir / "no_such_folder" / "out.dds");
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(names_in(dir), std::set<std::string>{"in.tex"});
}

// --- Long paths -----------------------------------------------------------------

// A folder chain making every path in it longer than MAX_PATH (260), created
// through "\\?\" since the plain API may refuse it.
fs::path long_folder(const fs::path& base) {
    std::wstring path = L"\\\\?\\" + base.wstring();
    for (const wchar_t letter : {L'a', L'b', L'c'}) {
        path += L"\\" + std::wstring(100, letter);
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return fs::path(path.substr(4));
}

bool write_extended(const fs::path& path, const Bytes& bytes) {
    const std::wstring name = L"\\\\?\\" + path.wstring();
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD put = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                    put == bytes.size();
    CloseHandle(h);
    return ok;
}

Bytes read_extended(const fs::path& path) {
    const std::wstring name = L"\\\\?\\" + path.wstring();
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return bytes_of("<cannot open>");
    }
    Bytes out(1 << 16);
    DWORD got = 0;
    ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
    CloseHandle(h);
    out.resize(got);
    return out;
}

// Names in the folder, read through "\\\\?\\" as well.
std::set<std::string> names_in_extended(const fs::path& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = L"\\\\?\\" + folder.wstring() + L"\\*";
    const HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.insert(arg_of(fs::path(name)));
        }
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

// The folder chain and its files; the fixture's cleanup cannot reach them.
void remove_long_folder(const fs::path& folder, const fs::path& base) {
    for (const char* name : {"in.tex", "out.dds"}) {
        DeleteFileW((L"\\\\?\\" + (folder / name).wstring()).c_str());
    }
    for (fs::path p = folder; p != base && p.has_relative_path(); p = p.parent_path()) {
        RemoveDirectoryW((L"\\\\?\\" + p.wstring()).c_str());
    }
}

class WinLongPath : public Win, public ::testing::WithParamInterface<bool> {};

TEST_P(WinLongPath, InputAndOutputBeyondMaxPath) {
    const fs::path folder = long_folder(dir);
    ASSERT_GT(folder.wstring().size(), 300u);
    ASSERT_TRUE(write_extended(folder / "in.tex", VALID_TEX));
    const std::string prefix = GetParam() ? "\\\\?\\" : "";
    write_extended(folder / "out.dds", bytes_of("previous"));
    const ProcessResult r =
        run_program({EXE, prefix + arg_of(folder / "in.tex"), prefix + arg_of(folder / "out.dds")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_extended(folder / "out.dds"), VALID_DDS);
    EXPECT_EQ(names_in_extended(folder), (std::set<std::string>{"in.tex", "out.dds"}));
    remove_long_folder(folder, dir);
}

INSTANTIATE_TEST_SUITE_P(Given, WinLongPath, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "with_prefix" : "plain"; });

// --- Sizes past 32 bits ------------------------------------------------------------

class WinLargeInput : public Win, public ::testing::WithParamInterface<uint64_t> {};

// A valid TEX file padded (sparse) to a size a 32-bit size would mangle: past
// 2 GiB it turns negative, past 4 GiB it wraps below the payload's end. Either
// way the payload would be taken as truncated.
TEST_P(WinLargeInput, TrailingGigabytesIgnoredNotTruncated) {
    const fs::path in = dir / "in.tex";
    write_bytes(in, VALID_TEX);
    const HANDLE h = CreateFileW(in.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(GetParam());
    const bool extended = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    ASSERT_TRUE(extended);
    ASSERT_EQ(fs::file_size(in), GetParam());
    const ProcessResult r = convert(in, dir / "out.dds");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "out.dds"), VALID_DDS);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WinLargeInput,
                         ::testing::Values(uint64_t{0x80000000} + 1, uint64_t{0x100000000} + 33),
                         [](const auto& test) { return std::to_string(test.param); });

}  // namespace

#endif

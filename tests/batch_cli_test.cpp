// tavrimox-batch run as a process: a tree of good, damaged and broken files,
// the outputs it leaves, its lines and its exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "cli_files.h"
#include "process.h"
#include "tex_file.h"

namespace fs = std::filesystem;

namespace {

const std::string BATCH = TAVRIMOX_BATCH_EXE;
const std::string USAGE_START = "Usage: tavrimox-batch ";

// A name as UTF-8 with "/" between folders, as a path of this system.
fs::path rel(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end())).make_preferred();
}

const std::string CAFE = "caf\xC3\xA9 \xE3\x83\x86.TEX";  // "café テ.TEX"
const std::string CAFE_DDS = "caf\xC3\xA9 \xE3\x83\x86.dds";

// Every kind a folder of a game holds: real and small textures, one whose
// payload breaks off (converted, and reported), one that is no TEX file, one
// cut short (both failures), and a file of another kind.
std::vector<std::pair<std::string, Bytes>> tree_files() {
    return {
        {"good.tex", read_bytes(TAVRIMOX_SAMPLES_DIR "/sample.tex")},
        {CAFE, VALID_TEX},
        {"notes.txt", bytes_of("not a texture")},
        {"sub/deep/good2.tex", tex_file(stored_block(bytes_of("deeper"), true), 6)},
        {"sub/deep/good.tex", VALID_TEX},
        {"sub/damaged.tex", tex_file(concat(stored_block(bytes_of("abc"), false), {0x07}), 100)},
        {"sub/fake.tex", bytes_of("TEX!not a texture")},
        {"sub/short.tex", truncated(VALID_TEX, VALID_TEX.size() - 1)},
    };
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Every regular file below root, by its name relative to root.
std::map<std::string, Bytes> files_below(const fs::path& root) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_directory()) {
            files[arg_of(entry.path().lexically_relative(root))] = read_bytes(entry.path());
        }
    }
    return files;
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        dir = new_temp_folder("tavrimox_batch_");
        for (const auto& [name, bytes] : tree_files()) {
            fs::create_directories((dir / "in" / rel(name)).parent_path());
            write_bytes(dir / "in" / rel(name), bytes);
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    // "@in" and "@out" stand for the folders, "@in/NAME" for a file in the
    // tree, also after "=" ("--output=@out").
    std::vector<std::string> argv(const std::vector<std::string>& args) const {
        std::vector<std::string> out = {BATCH};
        for (const std::string& a : args) {
            const size_t at = a.find('@');
            out.push_back(at == std::string::npos ? a : a.substr(0, at) + arg_of(dir / rel(a.substr(at + 1))));
        }
        return out;
    }
    // What tavrimox itself writes for a file of the tree.
    Bytes tavrimox_output(const std::string& input) const {
        const fs::path out = dir / "reference.dds";
        const ProcessResult r = run_program({EXE, arg_of(dir / "in" / rel(input)), arg_of(out)});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        Bytes bytes = read_bytes(out);
        fs::remove(out);
        return bytes;
    }
    fs::path dir;
};

// --- The tree ----------------------------------------------------------------

struct TreeCase {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    // Each new file (relative to the test folder) and the input whose
    // tavrimox output it must equal.
    std::vector<std::pair<std::string, std::string>> outputs;
    // The start of each line on standard error but the summary: the path
    // (relative to the test folder), then the words.
    std::vector<std::string> lines;
    std::string summary;  // the part after "tavrimox-batch: "; empty: none printed
};

void PrintTo(const TreeCase& c, std::ostream* os) {
    *os << c.name;
}

class BatchTree : public Batch, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(BatchTree, OutputsLinesAndStatus) {
    const TreeCase& c = GetParam();
    const auto before = files_below(dir);
    const ProcessResult r = run_program(argv(c.args));
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out, "");

    std::map<std::string, Bytes> expected = before;
    for (const auto& [output, input] : c.outputs) {
        expected[arg_of(rel(output))] = tavrimox_output(input);
    }
    EXPECT_EQ(files_below(dir), expected) << "outputs differ, or a stray or missing file";

    std::vector<std::string> lines = lines_of(r.err);
    if (!c.summary.empty()) {
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("tavrimox-batch: " + c.summary, 0), 0u) << lines.back();
        lines.pop_back();
    }
    EXPECT_EQ(lines.size(), c.lines.size()) << r.err;
    for (const std::string& want : c.lines) {
        const size_t colon = want.find(": ");
        const std::string start =
            "tavrimox-batch: " + arg_of(dir / rel(want.substr(0, colon))) + want.substr(colon);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.rfind(start, 0) == 0; }),
                  1)
            << "no line starting " << start << " in\n" << r.err;
    }
}

const std::vector<std::pair<std::string, std::string>> TOP_TO_OUT = {
    {"out/good.dds", "good.tex"}, {"out/" + CAFE_DDS, CAFE}};
const std::vector<std::pair<std::string, std::string>> TREE_TO_OUT = {
    {"out/good.dds", "good.tex"},
    {"out/" + CAFE_DDS, CAFE},
    {"out/sub/deep/good2.dds", "sub/deep/good2.tex"},
    {"out/sub/deep/good.dds", "sub/deep/good.tex"},
    {"out/sub/damaged.dds", "sub/damaged.tex"}};
const std::string DAMAGED_LINE = "in/sub/damaged.tex: payload damaged at byte 9 of 9 (a block header names block type 3); ";
const std::vector<std::string> TREE_LINES = {DAMAGED_LINE + "wrote 3 of 100 declared bytes",
                                             "in/sub/fake.tex: not a TEX file",
                                             "in/sub/short.tex: truncated payload"};

INSTANTIATE_TEST_SUITE_P(
    Runs, BatchTree,
    ::testing::Values(
        TreeCase{"beside_inputs", {"-r", "@in"}, 1,
                 {{"in/good.dds", "good.tex"}, {"in/" + CAFE_DDS, CAFE},
                  {"in/sub/deep/good2.dds", "sub/deep/good2.tex"},
                  {"in/sub/deep/good.dds", "sub/deep/good.tex"},
                  {"in/sub/damaged.dds", "sub/damaged.tex"}},
                 TREE_LINES, "7 files: 5 converted (1 damaged), 0 skipped, 2 failed"},
        TreeCase{"tree_kept_under_output", {"--recursive", "-o", "@out", "@in"}, 1, TREE_TO_OUT,
                 TREE_LINES, "7 files: 5 converted (1 damaged), 0 skipped, 2 failed"},
        TreeCase{"top_folder_only", {"--output=@out", "@in"}, 0, TOP_TO_OUT, {},
                 "2 files: 2 converted (0 damaged), 0 skipped, 0 failed"},
        TreeCase{"quiet", {"-rq", "-j1", "-o", "@out", "@in"}, 1, TREE_TO_OUT, TREE_LINES, ""},
        TreeCase{"check_writes_nothing", {"--check", "-r", "-o", "@out", "@in"}, 1, {},
                 {DAMAGED_LINE + "3 of 100 declared bytes decode", "in/sub/fake.tex: not a TEX file",
                  "in/sub/short.tex: truncated payload"},
                 "7 files checked: 4 clean, 1 damaged, 2 failed"},
        TreeCase{"check_clean", {"--check", "@in"}, 0, {}, {}, "2 files checked: 2 clean"},
        TreeCase{"strict_leaves_damaged_unwritten", {"--strict", "-r", "-o", "@out", "@in"}, 1,
                 {{"out/good.dds", "good.tex"}, {"out/" + CAFE_DDS, CAFE},
                  {"out/sub/deep/good2.dds", "sub/deep/good2.tex"},
                  {"out/sub/deep/good.dds", "sub/deep/good.tex"}},
                 {DAMAGED_LINE + "3 of 100 declared bytes decode; not written",
                  "in/sub/fake.tex: not a TEX file", "in/sub/short.tex: truncated payload"},
                 "7 files: 4 converted (0 damaged), 0 skipped, 3 failed"},
        TreeCase{"files_by_name", {"-j", "1", "-o", "@out", "@in/good.tex", "@in/sub/deep/good2.tex"}, 0,
                 {{"out/good.dds", "good.tex"}, {"out/good2.dds", "sub/deep/good2.tex"}}, {},
                 "2 files: 2 converted"},
        // Racing to one output would leave either; the second is refused.
        TreeCase{"one_output_for_two_inputs", {"-o", "@out", "@in/good.tex", "@in/sub/deep/good.tex"}, 1,
                 {{"out/good.dds", "good.tex"}}, {"in/sub/deep/good.tex: its output "},
                 "2 files: 1 converted (0 damaged), 0 skipped, 1 failed"},
        // A file named twice (by itself and in its folder) is converted once.
        TreeCase{"same_input_twice", {"@in/good.tex", "@in"}, 0,
                 {{"in/good.dds", "good.tex"}, {"in/" + CAFE_DDS, CAFE}}, {}, "2 files: 2 converted"}),
    [](const auto& test) { return std::string(test.param.name); });

// --- Usage ---------------------------------------------------------------------

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    const char* out_start;  // for 0; for 2 standard error is "tavrimox-batch: why" then the usage
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class BatchUsage : public Batch, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(BatchUsage, StatusAndNothingWritten) {
    const UsageCase& c = GetParam();
    const auto before = files_below(dir);
    const ProcessResult r = run_program(argv(c.args));
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out.rfind(c.out_start, 0), 0u) << r.out;
    if (c.exit_code == 2) {
        const std::vector<std::string> lines = lines_of(r.err);
        ASSERT_EQ(lines.size(), 2u) << r.err;
        EXPECT_EQ(lines[0].rfind("tavrimox-batch: ", 0), 0u) << r.err;
        EXPECT_EQ(lines[1].rfind(USAGE_START, 0), 0u) << r.err;
    } else {
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(files_below(dir), before);
}

INSTANTIATE_TEST_SUITE_P(
    Args, BatchUsage,
    ::testing::Values(UsageCase{"no_path", {}, 2, ""}, UsageCase{"no_path_after_options", {"-r", "-q"}, 2, ""},
                      UsageCase{"unknown_option", {"--frobnicate", "@in"}, 2, ""},
                      UsageCase{"unknown_letter", {"-rx", "@in"}, 2, ""},
                      UsageCase{"missing_path", {"@in", "@in/missing.tex"}, 2, ""},
                      UsageCase{"jobs_zero", {"-j", "0", "@in"}, 2, ""},
                      UsageCase{"jobs_not_a_number", {"--jobs=two", "@in"}, 2, ""},
                      UsageCase{"value_missing", {"@in", "-o"}, 2, ""},
                      UsageCase{"header_unknown", {"--dds-header", "dxt1", "@in"}, 2, ""},
                      UsageCase{"output_folder_is_a_file", {"-o", "@in/good.tex", "@in"}, 2, ""},
                      UsageCase{"help", {"--help", "@in"}, 0, "Usage: tavrimox-batch [options] PATH..."},
                      UsageCase{"version", {"--version"}, 0, "tavrimox-batch "}),
    [](const auto& test) { return std::string(test.param.name); });

// --- Existing outputs ------------------------------------------------------------

// Only an output newer than its input is left; an older one is replaced.
TEST_F(Batch, SkipExistingLeavesOnlyNewerOutputs) {
    const Bytes previous = bytes_of("previous output");
    fs::create_directory(dir / "out");
    write_bytes(dir / "out" / "good.dds", previous);
    write_bytes(dir / "out" / rel(CAFE_DDS), previous);
    const auto input_time = fs::last_write_time(dir / "in" / "good.tex");
    fs::last_write_time(dir / "out" / "good.dds", input_time + std::chrono::seconds(10));
    fs::last_write_time(dir / "out" / rel(CAFE_DDS), input_time - std::chrono::seconds(10));
    const ProcessResult r = run_program(argv({"--skip-existing", "-o", "@out", "@in"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "out" / "good.dds"), previous);
    EXPECT_EQ(read_bytes(dir / "out" / rel(CAFE_DDS)), tavrimox_output(CAFE));
    EXPECT_NE(r.err.find("1 converted (0 damaged), 1 skipped"), std::string::npos) << r.err;
}

// --- The readers' header --------------------------------------------------------------

// Three fields differ from tavrimox's header and nothing else; OpenImageIO,
// the strict reader, opens the file and refuses tavrimox's own.
TEST_F(Batch, ReadersHeaderOpensInOpenImageIO) {
    const ProcessResult r = run_program(argv({"--dds-header", "readers", "-o", "@out", "@in"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    Bytes expected = tavrimox_output("good.tex");  // 64 x 64: 16 x 16 blocks of 16 bytes
    put_le(expected, 8, 0x81007, 4);
    put_le(expected, 20, 16 * 16 * 16, 4);
    put_le(expected, 108, 0x1000, 4);
    EXPECT_EQ(read_bytes(dir / "out" / "good.dds"), expected);

#ifdef _WIN32
    GTEST_SKIP() << "oiiotool runs on the Linux build: header checked by bytes only";
#endif
    const fs::path oiiotool = "/usr/bin/oiiotool";
    if (!fs::exists(oiiotool)) {
        GTEST_SKIP() << "oiiotool (openimageio-tools) not installed: header checked by bytes only";
    }
    const ProcessResult readers = run_program({oiiotool.string(), "--info", arg_of(dir / "out" / "good.dds")});
    EXPECT_EQ(readers.exit_code, 0) << readers.err;
    EXPECT_NE(readers.out.find("64 x   64"), std::string::npos) << readers.out;
    write_bytes(dir / "exact.dds", tavrimox_output("good.tex"));
    EXPECT_NE(run_program({oiiotool.string(), "--info", arg_of(dir / "exact.dds")}).exit_code, 0)
        << "oiiotool now opens the exact header: the option is no longer needed for it";
}

// --- Interrupted --------------------------------------------------------------------

// 20 files whose streams are cut short: each converts to its declared size,
// 16 MiB of zeros written and flushed, time enough to be caught writing.
constexpr uint32_t INTERRUPTED_DECLARED = 16u << 20;

struct InterruptCase {
    const char* name;
    const char* jobs;
    int signals;  // 1: stop once the files in flight are written; 2: at once
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

class BatchInterrupted : public Batch, public ::testing::WithParamInterface<InterruptCase> {};

// Ended once the first output is complete, so while the next is written (as
// Ctrl-C or a kill would end it): no temporary may be left, every output
// there must be whole, and the program must end by the signal.
TEST_P(BatchInterrupted, LeavesOnlyWholeOutputs) {
    fs::create_directories(dir / "big");
    for (int i = 0; i < 20; ++i) {
        std::string name = std::to_string(i);
        name += ".tex";  // not a + chain: GCC 12 misreports it (-Wrestrict)
        write_bytes(dir / "big" / name, tex_file(Bytes{}, INTERRUPTED_DECLARED));
    }
    const auto output_done = [&] {
        for (const auto& entry : fs::directory_iterator(dir / "big")) {
            if (entry.path().extension() == ".dds") {
                return true;
            }
        }
        return false;
    };
    const std::vector<std::string> args = argv({"-q", "-j", GetParam().jobs, "@big"});
#ifdef _WIN32
    if (GetParam().signals != 1 || std::string(GetParam().jobs) != "1") {
        GTEST_SKIP() << "one way to end a Windows program: TerminateProcess";
    }
    // Ended while the next file is being written: past the temporary's
    // first bytes, so after it is marked for deletion, and short of its
    // last, so before the mark is cleared for the rename. In either gap, a
    // few calls wide, a program ended by TerminateProcess leaves it.
    const auto next_written = [&] {
        for (const auto& entry : fs::directory_iterator(dir / "big")) {
            std::error_code error;
            const uintmax_t size = entry.file_size(error);
            if (arg_of(entry.path().filename())[0] == '.' && !error && size > 0 &&
                size < INTERRUPTED_DECLARED / 4) {
                return true;
            }
        }
        return false;
    };
    ProcessRequest request;
    request.args = args;
    request.end_when = [&] { return output_done() && next_written(); };
    const ProcessResult r = run_process(request);
    const bool ended = r.exit_code == ENDED_EXIT_CODE;
#else
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // As from a terminal: the signal at its default, output unseen.
        std::signal(SIGINT, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> child;
        for (const std::string& a : args) {
            child.push_back(const_cast<char*>(a.c_str()));
        }
        child.push_back(nullptr);
        execv(child[0], child.data());
        _exit(127);
    }
    int sent = 0;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (sent < GetParam().signals && output_done()) {
            kill(pid, SIGINT);
            ++sent;
        }
        usleep(sent == 0 ? 200 : 20000);
    }
    const bool ended = sent != 0;
    if (ended) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    }
#endif
    size_t outputs = 0;
    for (const auto& entry : fs::directory_iterator(dir / "big")) {
        const std::string name = arg_of(entry.path().filename());
        EXPECT_NE(name[0], '.') << "temporary left: " << name;
        if (entry.path().extension() == ".dds") {
            EXPECT_EQ(entry.file_size(), 128u + INTERRUPTED_DECLARED) << name;
            ++outputs;
        }
    }
    if (!ended) {
        GTEST_SKIP() << "the run ended before it could be interrupted";
    }
    EXPECT_LT(outputs, 20u) << "a file was started after the signal";
}

INSTANTIATE_TEST_SUITE_P(
    Signals, BatchInterrupted,
    ::testing::Values(InterruptCase{"one_job", "1", 1}, InterruptCase{"two_jobs", "2", 1},
                      InterruptCase{"twice_stops_at_once", "1", 2}),
    [](const auto& test) { return std::string(test.param.name); });

#ifdef _WIN32
// A tree deeper than MAX_PATH (260): listed, its output folders made and its
// files written, all through "\\?\".
TEST_F(Batch, TreePastMaxPathConverts) {
    const std::wstring extended = L"\\\\?\\";
    ASSERT_TRUE(CreateDirectoryW((extended + (dir / "long").wstring()).c_str(), nullptr));
    std::wstring chain;
    for (const wchar_t letter : {L'a', L'b', L'c'}) {
        chain += L"\\" + std::wstring(100, letter);
        ASSERT_TRUE(CreateDirectoryW((extended + (dir / "long").wstring() + chain).c_str(), nullptr));
    }
    const fs::path input = extended + (dir / "long").wstring() + chain + L"\\in.tex";
    write_bytes(input, VALID_TEX);
    ASSERT_EQ(read_bytes(input), VALID_TEX);
    const ProcessResult r = run_program(argv({"-r", "-o", "@out", "@long"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(extended + (dir / "out").wstring() + chain + L"\\in.dds"), VALID_DDS);
    for (const char* top : {"long", "out"}) {
        std::error_code ignored;
        fs::remove_all(extended + (dir / top).wstring(), ignored);
    }
}
#endif

}  // namespace

// The program run as a process: command line, statuses, output bytes, and
// every way a conversion can be refused without losing data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "bit_writer.h"
#include "cli_files.h"
#include "process.h"
#include "tex_file.h"

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

const std::string USAGE = "Usage: tavrimox filename.tex filename.dds\n";
const std::string BAD_MAGIC = "ERROR: invalid input file.\n";
const Bytes PREVIOUS = bytes_of("previous output, must survive");

Bytes raw_deflate(const Bytes& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Compressible but not trivially so: runs of a slowly changing alphabet.
Bytes sample_data(size_t size) {
    Bytes data(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>('a' + (x >> 28) % 6 + (i / 4096) % 8);
    }
    return data;
}

// Names and contents of everything below root, to prove a run changed nothing.
std::map<std::string, Bytes> snapshot(const fs::path& root) {
    std::map<std::string, Bytes> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_symlink()) {
            entries[name] = bytes_of("-> " + fs::read_symlink(entry.path()).string());
        } else if (entry.is_regular_file()) {
            entries[name] = read_bytes(entry.path());
        } else {
            entries[name] = bytes_of("<other>");
        }
    }
    return entries;
}

// Exit 4 with one line on standard error naming the path; standard output empty.
void expect_refused(const ProcessResult& r, const std::string& named, const std::string& reason) {
    EXPECT_EQ(r.exit_code, 4) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string prefix = "tavrimox: " + named + ": ";
    EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), prefix.size() + 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(!r.err.empty() && r.err.back() == '\n');
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
}

constexpr bool running_on_windows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

bool running_as_root() {
#ifdef _WIN32
    return false;
#else
    return geteuid() == 0;
#endif
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { dir = new_temp_folder("tavrimox_cli_"); }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(dir, ignored);
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    ProcessResult convert(const std::string& in, const std::string& out) const {
        return run_program({EXE, in, out});
    }
    fs::path dir;
};

// --- Command line and magic ---------------------------------------------

struct UsageCase {
    const char* name;
    std::vector<std::string> args;  // file names inside the test folder
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class CliUsage : public Cli, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, PrintsUsageAndCreatesNothing) {
    write_bytes(dir / "in.tex", tex_file(stored_block(bytes_of("abc"), true), 3));
    const auto before = snapshot(dir);
    std::vector<std::string> argv = {EXE};
    for (const std::string& a : GetParam().args) {
        argv.push_back(at(a));
    }
    const ProcessResult r = run_program(argv);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, USAGE);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(snapshot(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Args, CliUsage,
                         ::testing::Values(UsageCase{"none", {}}, UsageCase{"one", {"in.tex"}},
                                           UsageCase{"three", {"in.tex", "out.dds", "more.dds"}},
                                           UsageCase{"four", {"in.tex", "out.dds", "a", "b"}}),
                         [](const auto& test) { return std::string(test.param.name); });

struct MagicCase {
    const char* name;
    Bytes input;
};

void PrintTo(const MagicCase& c, std::ostream* os) {
    *os << c.name;
}

class CliBadMagic : public Cli, public ::testing::WithParamInterface<MagicCase> {};

TEST_P(CliBadMagic, ErrorLineOnStdoutOutputUntouched) {
    write_bytes(dir / "in.tex", GetParam().input);
    for (const bool output_exists : {false, true}) {
        if (output_exists) {
            write_bytes(dir / "out.dds", PREVIOUS);
        }
        const auto before = snapshot(dir);
        const ProcessResult r = convert(at("in.tex"), at("out.dds"));
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, BAD_MAGIC);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(snapshot(dir), before);
    }
}

Bytes with_magic(const char* magic, size_t total) {
    Bytes b = tex_file(stored_block({}, true), 0);
    std::copy(magic, magic + 4, b.begin());
    b.resize(total);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliBadMagic,
    ::testing::Values(MagicCase{"empty", {}}, MagicCase{"three_bytes_TEX", bytes_of("TEX")},
                      MagicCase{"two_bytes", bytes_of("TE")},
                      MagicCase{"TEX_bang", with_magic("TEX!", 37)},
                      MagicCase{"TEX_nul", with_magic("TEX\0", 37)},
                      MagicCase{"lower_case", with_magic("tex ", 37)},
                      MagicCase{"space_first", with_magic(" TEX", 37)},
                      MagicCase{"DDS_file", with_magic("DDS ", 37)},
                      // The magic is tested before the header's length.
                      MagicCase{"bad_magic_short_header", with_magic("TEX_", 10)}),
    [](const auto& test) { return std::string(test.param.name); });

// --- What the output holds -------------------------------------------------

struct PayloadCase {
    const char* name;
    Bytes tex;
    Bytes payload;        // what follows the 128-byte header
    std::string warning;  // the standard error line after "tavrimox: in.tex: ", or none
};

void PrintTo(const PayloadCase& c, std::ostream* os) {
    *os << c.name;
}

class CliPayload : public Cli, public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(CliPayload, OutputIsHeaderThenPayload) {
    write_bytes(dir / "in.tex", GetParam().tex);
    write_bytes(dir / "out.dds", PREVIOUS);
    const ProcessResult r = convert(at("in.tex"), at("out.dds"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string& warning = GetParam().warning;
    EXPECT_EQ(r.err, warning.empty() ? "" : "tavrimox: " + at("in.tex") + ": " + warning + "\n");
    EXPECT_EQ(read_bytes(dir / "out.dds"), dds_file(GetParam().payload));
    EXPECT_EQ(read_bytes(dir / "in.tex"), GetParam().tex);
    EXPECT_EQ(snapshot(dir).size(), 2u) << "stray file left in the output folder";
}

const Bytes BIG = sample_data(300000);

// Bytes no compressor shrinks.
Bytes noise(size_t size) {
    Bytes data(size);
    uint32_t x = 54321;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return data;
}

// Over 512 KiB in and out, the output not a whole number of 2 MiB pages:
// on Linux both buffers come from the large-page mapping.
const Bytes LARGE = concat(noise(600000), sample_data(2400003));
const Bytes ABC_NOT_LAST = stored_block(ABC, false);

Bytes zeros(size_t n) {
    return Bytes(n, 0);
}

Bytes with_trailing(Bytes tex) {
    return concat(std::move(tex), bytes_of("trailing bytes are never read"));
}

// "abc" in a stored block, then a block that stops the decode with `status`,
// written up to the bit where the decoder finds the fault.
Bytes abc_then_fault(int status) {
    BitWriter w;
    put_bytes(w, ABC_NOT_LAST);
    const std::vector<int> two_one_bit_codes = lengths_with(19, {{0, 1}, {16, 1}});
    const std::vector<int> zeros_by_runs = lengths_with(19, {{0, 1}, {18, 1}});
    switch (status) {
        case -3:  // 288 literal/length codes
            put_block_header(w, true, 2);
            put_bits(w, 31, 5);
            put_bits(w, 0, 5);
            put_bits(w, 0, 4);
            break;
        case -4:  // a code-length code of one code
            put_dynamic_start(w, true, 257, 1, lengths_with(19, {{0, 1}}), 19);
            break;
        case -5:
            put_dynamic_start(w, true, 257, 1, two_one_bit_codes, 19);
            put_symbol(w, canonical_code(two_one_bit_codes), 16);
            break;
        case -6:  // 138 + 138 zero lengths of 258
            put_dynamic_start(w, true, 257, 1, zeros_by_runs, 19);
            put_code_length_symbol(w, canonical_code(zeros_by_runs), 18, 127);
            put_code_length_symbol(w, canonical_code(zeros_by_runs), 18, 127);
            break;
        case -7:
            put_dynamic_header(w, true, lengths_with(257, {{0, 1}, {1, 1}, {256, 1}}), {1});
            break;
        case -8:
            put_dynamic_header(w, true, lengths_with(257, {{0, 1}, {256, 1}}), {2});
            break;
        case -9:
            put_dynamic_header(w, true, lengths_with(257, {{0, 1}, {1, 1}}), {1});
            break;
        case -10:
            put_block_header(w, true, 1);
            put_fixed_litlen(w, 286);
            break;
        default:  // -11: 4 back after 3 bytes
            put_block_header(w, true, 1);
            put_fixed_match(w, 3, 4);
            break;
    }
    return w.bytes;
}

// The warning for "abc" decoded, then a fault found in the last byte.
std::string abc_then(int status, const char* words) {
    const size_t size = abc_then_fault(status).size();
    return "payload damaged at byte " + std::to_string(size) + " of " + std::to_string(size) + " (" +
           words + "); wrote 3 of 100 declared bytes";
}

PayloadCase fault_case(const char* name, int status, const char* words) {
    return {name, tex_file(abc_then_fault(status), 100), ABC, abc_then(status, words)};
}

std::string ended_early(uint32_t declared) {
    return "payload damaged (the input ends before the stream does); wrote the " +
           std::to_string(declared) + " declared bytes, zero past those decoded";
}

std::string output_full(uint32_t declared) {
    return "payload decodes to more than its " + std::to_string(declared) +
           " declared bytes (the output is full); wrote the " + std::to_string(declared) +
           " declared bytes, zero past those decoded";
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, CliPayload,
    ::testing::Values(
        // Status 0: exactly the decoded bytes.
        PayloadCase{"zlib_exact_size", tex_file(raw_deflate(BIG), 300000), BIG, ""},
        PayloadCase{"zlib_declared_larger", tex_file(raw_deflate(BIG), 400000), BIG,
                    "payload decodes to 300000 of 400000 declared bytes; wrote those 300000"},
        PayloadCase{"large_buffers", tex_file(raw_deflate(LARGE), 3000003), LARGE, ""},
        PayloadCase{"stored_exact", tex_file(stored_block(ABC, true), 3), ABC, ""},
        // Negative status: the bytes before the fault, and a line naming it.
        PayloadCase{"bad_block_after_data", tex_file(concat(ABC_NOT_LAST, {0x07}), 100), ABC,
                    "payload damaged at byte 9 of 9 (a block header names block type 3); "
                    "wrote 3 of 100 declared bytes"},
        PayloadCase{"bad_stored_length_after_data",
                    tex_file(concat(ABC_NOT_LAST, {0x01, 0x01, 0x00, 0x00, 0x00, 'x'}), 100), ABC,
                    "payload damaged at byte 12 of 14 (a stored block's length fails its check); "
                    "wrote 3 of 100 declared bytes"},
        fault_case("too_many_codes", -3, "a block declares too many codes"),
        fault_case("bad_code_length_code", -4, "a block's code-length code is over-subscribed or incomplete"),
        fault_case("repeat_without_previous", -5, "a code length repeats before any length"),
        fault_case("repeat_overrun", -6, "a code-length repeat runs past the declared codes"),
        fault_case("bad_litlen_code", -7, "a literal/length code is over-subscribed or incomplete"),
        fault_case("bad_distance_code", -8, "a distance code is over-subscribed or incomplete"),
        fault_case("no_end_of_block", -9, "a block's end-of-block symbol has no code"),
        fault_case("bad_symbol", -10, "a code matches no symbol"),
        fault_case("distance_too_far", -11, "a match reaches back before the first byte"),
        // Status 1: the declared size, what fitted then zeros.
        PayloadCase{"declared_too_small",
                    tex_file(concat(ABC_NOT_LAST, stored_block(bytes_of("defgh"), true)), 6),
                    concat(ABC, zeros(3)), output_full(6)},
        PayloadCase{"declared_zero_stream_has_data", tex_file(stored_block(ABC, true), 0), {}, output_full(0)},
        // Status 2: the declared size, decoded prefix then zeros.
        PayloadCase{"stream_ends_early", tex_file(ABC_NOT_LAST, 5000), concat(ABC, zeros(4997)), ended_early(5000)},
        PayloadCase{"compressed_size_zero", tex_file({}, 5000), zeros(5000), ended_early(5000)},
        PayloadCase{"large_stream_ends_early", tex_file(ABC_NOT_LAST, 4u << 20),
                    concat(ABC, zeros((4u << 20) - 3)), ended_early(4u << 20)},
        PayloadCase{"compressed_size_cuts_stream",
                    tex_with_sizes(9, 9, concat(ABC_NOT_LAST, stored_block(ABC, true))),
                    concat(ABC, zeros(6)), ended_early(9)},
        // Size 0 and trailing bytes.
        PayloadCase{"empty_stream_declared_zero", tex_file(stored_block({}, true), 0), {}, ""},
        PayloadCase{"trailing_bytes_ignored", with_trailing(tex_file(stored_block(ABC, true), 3)),
                    ABC, ""},
        PayloadCase{"uninterpreted_bytes_ignored",
                    tex_file(stored_block(ABC, true), 3, TexFields{0x0100, 0x0080, 0, 0, 0xFF}),
                    ABC, ""}),
    [](const auto& test) { return std::string(test.param.name); });

// Status 2 from a compressed stream cut short: the decoded prefix, then zeros
// up to the declared size (never stale heap bytes).
TEST_F(Cli, StreamCutShortIsPrefixThenZeros) {
    Bytes cut = raw_deflate(BIG);
    cut.resize(cut.size() / 2);
    write_bytes(dir / "in.tex", tex_file(cut, 300000));
    const ProcessResult r = convert(at("in.tex"), at("out.dds"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Bytes out = read_bytes(dir / "out.dds");
    ASSERT_EQ(out.size(), 128u + 300000u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 128, expected_dds_header(0x0100, 0x0080).begin()));
    size_t decoded = 0;
    while (decoded < BIG.size() && out[128 + decoded] == BIG[decoded]) {
        ++decoded;
    }
    EXPECT_GT(decoded, 1000u);
    EXPECT_LT(decoded, BIG.size());
    EXPECT_TRUE(std::all_of(out.begin() + 128 + static_cast<std::ptrdiff_t>(decoded), out.end(),
                            [](uint8_t b) { return b == 0; }))
        << "bytes the decoder did not produce must be zeros";
}

TEST_F(Cli, WidthAndHeightReachTheHeader) {
    for (const auto& [width, height] : {std::pair<uint16_t, uint16_t>{0, 0}, {65535, 65535}, {1, 65535}}) {
        write_bytes(dir / "in.tex", tex_file(stored_block(ABC, true), 3, TexFields{width, height, 0, 0, 0x5A}));
        const ProcessResult r = convert(at("in.tex"), at("out.dds"));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(read_bytes(dir / "out.dds"), dds_file(ABC, width, height)) << width << "x" << height;
    }
}

TEST_F(Cli, SamePathReplacesInputWithItsConversion) {
    write_bytes(dir / "texture", with_trailing(tex_file(raw_deflate(BIG), 300000)));
    const ProcessResult r = convert(at("texture"), at("texture"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "texture"), dds_file(BIG));
    EXPECT_EQ(snapshot(dir).size(), 1u);
}

// --- Refusals: exit 4, nothing lost ------------------------------------------

enum class Setup { NONE, INPUT_MODE_000, OUTPUT_READ_ONLY, OUTPUT_FOLDER_READ_ONLY, SYMLINK_LOOP };

struct RefusalCase {
    const char* name;
    Bytes input_bytes;   // written to in.tex
    const char* input;   // absolute, or relative to the test folder
    const char* output;  // likewise
    bool names_output;   // the message names the output, not the input
    const char* reason;  // part of the message
    Setup setup;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class CliRefusal : public Cli, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CliRefusal, ExitFourOneLineNothingChanged) {
    const RefusalCase& c = GetParam();
    const auto place = [&](const char* p) { return p[0] == '/' ? std::string(p) : at(p); };
    const std::string input = place(c.input);
    const std::string output = place(c.output);
    for (const std::string& p : {input, output}) {
        if (p.rfind("/proc/", 0) == 0 || p.rfind("/dev/", 0) == 0) {
            // Windows (wine maps "/proc" to a folder of the current drive).
            if (!fs::exists(fs::path(p).parent_path()) || running_on_windows()) {
                GTEST_SKIP() << p << ": not on this system";
            }
        }
    }
    if (running_on_windows() && c.setup != Setup::NONE) {
        GTEST_SKIP() << "mode bits and symbolic links are POSIX's; cli_windows_test covers read-only";
    }
    write_bytes(dir / "in.tex", c.input_bytes);
    write_bytes(dir / "out.dds", PREVIOUS);
    fs::create_directory(dir / "folder");
    switch (c.setup) {
        case Setup::NONE:
            break;
        case Setup::INPUT_MODE_000:
            if (running_as_root()) {
                GTEST_SKIP() << "root reads a mode-000 file; /proc/self/mem covers unreadable input";
            }
            fs::permissions(dir / "in.tex", fs::perms::none);
            break;
        case Setup::OUTPUT_READ_ONLY:
            if (running_as_root()) {
                GTEST_SKIP() << "root may write a read-only file";
            }
            fs::permissions(dir / "out.dds", fs::perms::owner_read);
            break;
        case Setup::OUTPUT_FOLDER_READ_ONLY:
            if (running_as_root()) {
                GTEST_SKIP() << "root writes a read-only folder; /proc and a file as parent cover it";
            }
            fs::permissions(dir / "folder", fs::perms::owner_read | fs::perms::owner_exec);
            break;
        case Setup::SYMLINK_LOOP:
            fs::create_symlink("loop.dds", dir / "loop.dds");
            break;
    }
    const auto before = snapshot(dir);
    ProcessRequest request;
    request.args = {EXE, input, output};
    // No refusal may need memory in proportion to what a header announces.
    if (!SANITIZED) {
        request.address_space_limit = uint64_t{256} << 20;
    }
    expect_refused(run_process(request), c.names_output ? output : input, c.reason);
    EXPECT_EQ(snapshot(dir), before);
}

const Bytes ANNOUNCING_4GIB_PAYLOAD = tex_with_sizes(0xFFFFFFFF, 3, stored_block(ABC, true));

INSTANTIATE_TEST_SUITE_P(
    Failures, CliRefusal,
    ::testing::Values(
        RefusalCase{"missing_input", VALID_TEX, "missing.tex", "out.dds", false, "No such file", Setup::NONE},
        RefusalCase{"input_is_folder", VALID_TEX, "folder", "out.dds", false, "Is a directory", Setup::NONE},
        RefusalCase{"input_read_fails", VALID_TEX, "/proc/self/mem", "out.dds", false, "error", Setup::NONE},
        RefusalCase{"input_mode_000", VALID_TEX, "in.tex", "out.dds", false, "denied", Setup::INPUT_MODE_000},
        RefusalCase{"header_magic_only", bytes_of("TEX "), "in.tex", "out.dds", false, "truncated header", Setup::NONE},
        RefusalCase{"header_31_bytes", truncated(VALID_TEX, 31), "in.tex", "out.dds", false, "truncated header", Setup::NONE},
        RefusalCase{"payload_one_byte_short", truncated(VALID_TEX, VALID_TEX.size() - 1), "in.tex", "out.dds", false, "truncated payload", Setup::NONE},
        RefusalCase{"payload_missing", truncated(VALID_TEX, 32), "in.tex", "out.dds", false, "truncated payload", Setup::NONE},
        RefusalCase{"payload_announces_4gib", ANNOUNCING_4GIB_PAYLOAD, "in.tex", "out.dds", false, "truncated payload", Setup::NONE},
        RefusalCase{"output_folder_missing", VALID_TEX, "in.tex", "nowhere/out.dds", true, "No such file", Setup::NONE},
        RefusalCase{"output_parent_is_file", VALID_TEX, "in.tex", "in.tex/out.dds", true, "Not a directory", Setup::NONE},
        // A rename would replace it; "wb" would not open it.
        RefusalCase{"output_read_only", VALID_TEX, "in.tex", "out.dds", true, "denied", Setup::OUTPUT_READ_ONLY},
        RefusalCase{"output_folder_read_only", VALID_TEX, "in.tex", "folder/out.dds", true, "denied", Setup::OUTPUT_FOLDER_READ_ONLY},
        RefusalCase{"output_in_proc", VALID_TEX, "in.tex", "/proc/tavrimox-test.dds", true, "", Setup::NONE},
        RefusalCase{"output_is_folder", VALID_TEX, "in.tex", "folder", true, "Is a directory", Setup::NONE},
        RefusalCase{"output_device_full", VALID_TEX, "in.tex", "/dev/full", true, "No space", Setup::NONE},
        RefusalCase{"output_symlink_loop", VALID_TEX, "in.tex", "loop.dds", true, "symbolic links", Setup::SYMLINK_LOOP},
        RefusalCase{"output_root_folder", VALID_TEX, "in.tex", "/", true, "Is a directory", Setup::NONE}),
    [](const auto& test) { return std::string(test.param.name); });

// Regression: an empty output path made a temp in the working folder, and
// reported that folder's "Permission denied" where it was read-only.
TEST_F(Cli, EmptyPathsAreRefused) {
    write_bytes(dir / "in.tex", VALID_TEX);
    expect_refused(convert("", at("out.dds")), "", "No such file");
    const auto before = snapshot(dir);
    expect_refused(convert(at("in.tex"), ""), "", "No such file");
    EXPECT_EQ(snapshot(dir), before);
}

// --- Special destinations (POSIX) ---------------------------------------------

#ifndef _WIN32

TEST_F(Cli, DevNullIsWrittenDirectly) {
    write_bytes(dir / "in.tex", tex_file(raw_deflate(BIG), 300000));
    const ProcessResult r = convert(at("in.tex"), "/dev/null");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(snapshot(dir).size(), 1u);
}

// /dev/stdout is a link whose text ("pipe:[...]") names no file: written
// through the path as given. Regression: following the link's text failed.
TEST_F(Cli, StdoutPipeIsWrittenDirectly) {
    write_bytes(dir / "in.tex", tex_file(raw_deflate(BIG), 300000));
    const ProcessResult r = convert(at("in.tex"), "/dev/stdout");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Bytes expected = dds_file(BIG);
    EXPECT_TRUE(r.out == std::string(expected.begin(), expected.end()));
    EXPECT_EQ(snapshot(dir).size(), 1u);
}

// A path that names one of the program's open descriptors is written
// through that descriptor. Regression: it was replaced by a rename like any
// file, so the shell's appended log, or what a script wrote after the
// conversion, was lost.
struct RedirectCase {
    const char* name;
    const char* script;  // "$0" the program, "$1" the input; in the test folder
    std::string log;     // what log holds afterwards, "@" standing for the DDS file
};

void PrintTo(const RedirectCase& c, std::ostream* os) {
    *os << c.name;
}

class CliRedirect : public Cli, public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(CliRedirect, DescriptorWrittenInPlace) {
    if (!fs::exists("/bin/bash")) {
        GTEST_SKIP() << "needs /bin/bash";
    }
    write_bytes(dir / "in.tex", VALID_TEX);
    write_bytes(dir / "log", bytes_of("LOG\n"));
    const ProcessResult r = run_program(
        {"/bin/bash", "-c", std::string("cd \"$2\" && ") + GetParam().script, EXE, at("in.tex"), dir.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    Bytes expected;
    for (const char c : GetParam().log) {
        expected = c == '@' ? concat(expected, VALID_DDS) : concat(expected, {static_cast<uint8_t>(c)});
    }
    EXPECT_EQ(read_bytes(dir / "log"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shell, CliRedirect,
    ::testing::Values(
        RedirectCase{"append_to_log", "\"$0\" \"$1\" /dev/stdout >> log", "LOG\n@"},
        RedirectCase{"line_after_conversion", "( \"$0\" \"$1\" /dev/stdout; echo T ) > log", "@T\n"},
        RedirectCase{"dev_fd", "\"$0\" \"$1\" /dev/fd/3 3>> log", "LOG\n@"},
        RedirectCase{"proc_self_fd", "\"$0\" \"$1\" /proc/self/fd/1 >> log", "LOG\n@"},
        RedirectCase{"link_to_stdout", "ln -s /dev/stdout out.dds && \"$0\" \"$1\" out.dds >> log", "LOG\n@"}),
    [](const auto& test) { return std::string(test.param.name); });

// A reader that goes away: EPIPE, reported, not death by SIGPIPE.
TEST_F(Cli, PipeClosedByReaderExitsFour) {
    if (!fs::exists("/bin/bash")) {
        GTEST_SKIP() << "needs /bin/bash for PIPESTATUS";
    }
    write_bytes(dir / "in.tex", tex_file(raw_deflate(BIG), 300000));
    const ProcessResult r = run_program(
        {"/bin/bash", "-c", "\"$0\" \"$1\" /dev/stdout | true; echo \"${PIPESTATUS[0]}\"", EXE,
         at("in.tex")});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "4\n");
    EXPECT_EQ(r.err, "tavrimox: /dev/stdout: Broken pipe\n");
}

struct LinkCase {
    const char* name;
    const char* link_text;    // where out.dds points
    const char* target;       // the file that must receive the conversion
    bool target_exists;
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class CliSymlink : public Cli, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(CliSymlink, TargetReplacedLinkKept) {
    const LinkCase& c = GetParam();
    fs::create_directory(dir / "sub");
    if (c.target_exists) {
        write_bytes(dir / c.target, PREVIOUS);
    }
    if (std::string(c.name) == "chain") {
        fs::create_symlink("sub/real.dds", dir / "middle.dds");
    }
    const std::string link_text = c.link_text[0] == '/' ? at(c.link_text + 1) : c.link_text;
    fs::create_symlink(link_text, dir / "out.dds");
    write_bytes(dir / "in.tex", VALID_TEX);
    const ProcessResult r = convert(at("in.tex"), at("out.dds"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "out.dds"));
    EXPECT_EQ(fs::read_symlink(dir / "out.dds").string(), link_text);
    EXPECT_EQ(read_bytes(dir / c.target), VALID_DDS);
}

INSTANTIATE_TEST_SUITE_P(
    Links, CliSymlink,
    ::testing::Values(LinkCase{"to_file", "real.dds", "real.dds", true},
                      LinkCase{"dangling", "new.dds", "new.dds", false},
                      LinkCase{"into_subfolder", "sub/real.dds", "sub/real.dds", true},
                      LinkCase{"absolute", "/sub/real.dds", "sub/real.dds", true},
                      LinkCase{"chain", "middle.dds", "sub/real.dds", true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Cli, ExistingOutputKeepsItsPermissions) {
    write_bytes(dir / "in.tex", VALID_TEX);
    for (const auto mode : {fs::perms(0640), fs::perms(0600), fs::perms(0755)}) {
        write_bytes(dir / "out.dds", PREVIOUS);
        fs::permissions(dir / "out.dds", mode);
        const ProcessResult r = convert(at("in.tex"), at("out.dds"));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(fs::status(dir / "out.dds").permissions(), mode);
    }
}

TEST_F(Cli, NewOutputGetsModeOfUmask) {
    const mode_t mask = umask(0);
    umask(mask);
    write_bytes(dir / "in.tex", VALID_TEX);
    const ProcessResult r = convert(at("in.tex"), at("out.dds"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(static_cast<mode_t>(fs::status(dir / "out.dds").permissions()), 0666 & ~mask);
}

// A temp name built from a 255-byte name must not exceed the name limit.
TEST_F(Cli, LongestFileNameConverts) {
    const std::string name(255, 'n');
    write_bytes(dir / "in.tex", VALID_TEX);
    const ProcessResult r = convert(at("in.tex"), at(name));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / name), VALID_DDS);
    EXPECT_EQ(snapshot(dir).size(), 2u);
}

// --- Limits set on the child (POSIX) -------------------------------------------

// 64 KiB of output allowed, 1 MiB to write: the write fails half way.
ProcessRequest with_file_size_limit(const std::string& in, const std::string& out) {
    ProcessRequest request;
    request.args = {EXE, in, out};
    request.file_size_limit = 64 * 1024;
    return request;
}

// Regression: SIGXFSZ killed the program mid-write and left its temp file.
TEST_F(Cli, FileSizeLimitKeepsExistingOutputAndLeavesNoTemp) {
    write_bytes(dir / "in.tex", tex_file(raw_deflate(zeros(1 << 20)), 1 << 20));
    write_bytes(dir / "out.dds", PREVIOUS);
    const auto before = snapshot(dir);
    const ProcessResult r = run_process(with_file_size_limit(at("in.tex"), at("out.dds")));
    expect_refused(r, at("out.dds"), "too large");
    EXPECT_EQ(snapshot(dir), before);
}

#ifndef _WIN32
// Whether pid has a file open below dir: the unnamed temporary shows in
// /proc as "dir/#inode (deleted)", a named one under its own name.
bool writing_below(pid_t pid, const fs::path& dir) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
        const std::string target = fs::read_symlink(entry.path(), ignored).string();
        if (target.rfind(dir.string() + "/", 0) == 0 && target.find("in.tex") == std::string::npos) {
            return true;
        }
    }
    return false;
}

// Regression: Ctrl-C or a kill while the output was being written left the
// temp file beside it, and SIGKILL, SIGQUIT and SIGUSR1 always did. Each
// signal is sent while the output is being written; the program must end by
// that signal with the output folder as before, or (had the rename already
// begun) with the output complete.
TEST_F(Cli, EndingSignalWhileWritingLeavesNoTemp) {
    // 64 MiB of decoded bytes to write and flush: time enough to be caught.
    constexpr uint32_t DECLARED = 64u << 20;
    write_bytes(dir / "in.tex", tex_file(raw_deflate(zeros(DECLARED)), DECLARED));
    write_bytes(dir / "out.dds", PREVIOUS);
    int caught = 0;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGKILL}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // As from a terminal: the signals at their defaults, output unseen.
            for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) {
                std::signal(s, SIG_DFL);
            }
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            const rlimit no_core{0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(EXE.c_str(), EXE.c_str(), at("in.tex").c_str(), at("out.dds").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        bool signalled = false;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (!signalled && writing_below(pid, dir)) {
                kill(pid, signal_number);
                signalled = true;
            }
            usleep(50);
        }
        EXPECT_EQ(snapshot(dir).size(), 2u) << "signal " << signal_number << ": a temporary was left";
        const uintmax_t size = fs::file_size(dir / "out.dds");
        if (!signalled) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(size, 128u + DECLARED);
        } else {
            ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal_number;
            EXPECT_EQ(WTERMSIG(status), signal_number);
            EXPECT_TRUE(size == PREVIOUS.size() || size == 128u + DECLARED) << size;
            caught += size == PREVIOUS.size() ? 1 : 0;
        }
        write_bytes(dir / "out.dds", PREVIOUS);
    }
    if (caught == 0) {
        GTEST_SKIP() << "every conversion was past its temp before the signal came";
    }
}
#endif

TEST_F(Cli, FileSizeLimitKeepsInputWhenSamePath) {
    const Bytes tex = tex_file(raw_deflate(zeros(1 << 20)), 1 << 20);
    write_bytes(dir / "texture", tex);
    const ProcessResult r = run_process(with_file_size_limit(at("texture"), at("texture")));
    expect_refused(r, at("texture"), "too large");
    EXPECT_EQ(read_bytes(dir / "texture"), tex);
    EXPECT_EQ(snapshot(dir).size(), 1u);
}

// Regression: the whole declared size was taken before the decode, so a
// valid file of 40 bytes that announced 4 GiB failed with "not enough
// memory", and one of 32 bytes took 4 GiB of memory and of disk. Zeros up
// to the declared size need neither.
TEST_F(Cli, DeclaredSizeTheStreamCannotFillTakesNoMemoryNorDisk) {
    constexpr uint32_t DECLARED = 0xFFFFFFF0;
    struct Case {
        Bytes tex;
        uint64_t size;  // of the output
    };
    for (const Case& c : {Case{tex_file(stored_block(ABC, true), DECLARED), 128 + 3},
                          Case{tex_file({}, DECLARED), 128 + uint64_t{DECLARED}}}) {
        write_bytes(dir / "in.tex", c.tex);
        ProcessRequest request;
        request.args = {EXE, at("in.tex"), at("out.dds")};
        // The sanitizers' shadow memory does not start under such a limit.
        request.address_space_limit = SANITIZED ? 0 : uint64_t{256} << 20;
        const ProcessResult r = run_process(request);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        struct stat info {};
        ASSERT_EQ(stat(at("out.dds").c_str(), &info), 0);
        EXPECT_EQ(static_cast<uint64_t>(info.st_size), c.size);
        EXPECT_LT(static_cast<uint64_t>(info.st_blocks) * 512, uint64_t{16} << 20) << "zeros written out";
        std::ifstream f(dir / "out.dds", std::ios::binary);
        Bytes start(128 + 3);
        f.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
        EXPECT_EQ(start, c.size == 131 ? VALID_DDS : dds_file(zeros(3)));
    }
}

// A pipe has no size to check in advance: memory must follow the bytes read.
TEST_F(Cli, PipeAnnouncing4GiBPayloadIsRefusedWithoutTheMemory) {
    ProcessRequest request;
    request.args = {EXE, "/dev/stdin", at("out.dds")};
    const Bytes tex = ANNOUNCING_4GIB_PAYLOAD;
    request.stdin_data.assign(tex.begin(), tex.end());
    if (!SANITIZED) {
        request.address_space_limit = uint64_t{256} << 20;
    }
    expect_refused(run_process(request), "/dev/stdin", "truncated payload");
    EXPECT_TRUE(snapshot(dir).empty());
}

TEST_F(Cli, PipeInputConverts) {
    const Bytes tex = with_trailing(tex_file(raw_deflate(BIG), 300000));
    ProcessRequest request;
    request.args = {EXE, "/dev/stdin", at("out.dds")};
    request.stdin_data.assign(tex.begin(), tex.end());
    const ProcessResult r = run_process(request);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "out.dds"), dds_file(BIG));
}

#endif  // _WIN32

}  // namespace

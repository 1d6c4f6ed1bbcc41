// File names the program must take as given: on Windows any UTF-16 name
// (accents, CJK, characters outside the BMP as surrogate pairs), on POSIX any
// byte string, valid UTF-8 or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "process.h"
#include "tex_file.h"

namespace fs = std::filesystem;

namespace {

const std::string EXE = TAVRIMOX_EXE;
const Bytes ABC = bytes_of("abc");
const Bytes VALID_TEX = tex_file(stored_block(ABC, true), 3);
const Bytes VALID_DDS = concat(expected_dds_header(0x0100, 0x0080), ABC);

// The name as the program receives it on the command line: UTF-8 on Windows
// (the runner makes it UTF-16), the bytes themselves on POSIX.
std::string arg_of(const fs::path& path) {
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.native();
#endif
}

void write_bytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << arg_of(path);
}

Bytes read_bytes(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        return bytes_of("<cannot open>");
    }
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct NameCase {
    const char* label;
    fs::path name;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.label;
}

class CliNames : public ::testing::TestWithParam<NameCase> {
protected:
    void SetUp() override {
        static int serial = 0;
#ifdef _WIN32
        const unsigned long pid = GetCurrentProcessId();
#else
        const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
        dir = fs::temp_directory_path() /
              ("tavrimox_names_" + std::to_string(pid) + "_" + std::to_string(++serial));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    ProcessResult convert(const fs::path& in, const fs::path& out) const {
        return run_program({EXE, arg_of(in), arg_of(out)});
    }
    fs::path dir;
};

// The name as input, as output, as both, and as a missing input, whose
// message must carry the name unchanged (UTF-8 on Windows).
TEST_P(CliNames, NameWorksEverywhereAndIsReportedUnchanged) {
    const fs::path named = dir / GetParam().name;

    write_bytes(named, VALID_TEX);
    ProcessResult r = convert(named, dir / "plain.dds");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "plain.dds"), VALID_DDS);

    write_bytes(dir / "plain.tex", VALID_TEX);
    fs::remove(named);
    r = convert(dir / "plain.tex", named);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(named), VALID_DDS);

    write_bytes(named, VALID_TEX);
    r = convert(named, named);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(named), VALID_DDS);

    // Nothing else appeared: no temporary, no second spelling of the name.
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 3u);

    fs::remove(named);
    r = convert(named, dir / "plain.dds");
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.err.rfind("tavrimox: " + arg_of(named) + ": ", 0), 0u) << r.err;
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(
    Utf16, CliNames,
    ::testing::Values(NameCase{"accents", fs::path(u8"café déjà vu.tex")},
                      NameCase{"cjk", fs::path(u8"テクスチャ_纹理.tex")},
                      NameCase{"emoji_surrogate_pair", fs::path(u8"😀🎨.dds")},
                      NameCase{"mixed_with_spaces", fs::path(u8"Ünï 字 😀 name.tex")}),
    [](const auto& test) { return std::string(test.param.label); });
#else
INSTANTIATE_TEST_SUITE_P(
    Bytes, CliNames,
    ::testing::Values(NameCase{"utf8", fs::path("caf\xC3\xA9 \xF0\x9F\x98\x80.tex")},
                      NameCase{"latin1_not_utf8", fs::path("caf\xE9.tex")},
                      NameCase{"lone_continuation_bytes", fs::path("\x80\xBF\xFE\xFF.dds")},
                      NameCase{"backslash_and_newline", fs::path("a\\b\nc.tex")}),
    [](const auto& test) { return std::string(test.param.label); });
#endif

}  // namespace

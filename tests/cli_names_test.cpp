// File names the program must take as given: on Windows any UTF-16 name
// (accents, CJK, characters outside the BMP as surrogate pairs), on POSIX any
// byte string, valid UTF-8 or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli_files.h"
#include "process.h"

namespace fs = std::filesystem;

namespace {

struct NameCase {
    const char* label;
    fs::path name;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.label;
}

class CliNames : public ::testing::TestWithParam<NameCase> {
protected:
    void SetUp() override { dir = new_temp_folder("tavrimox_names_"); }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    ProcessResult convert(const fs::path& in, const fs::path& out) const {
        return run_program({EXE, arg_of(in), arg_of(out)});
    }
    fs::path dir;
};

// The name as shown in a message: unchanged (UTF-8 on Windows) but for a
// line break, which would split the one line a script reads.
std::string as_reported(const fs::path& path) {
    std::string shown;
    for (const char c : arg_of(path)) {
        shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return shown;
}

// The name as input, as output, as both, and as a missing input, whose
// message must carry the name on one line.
TEST_P(CliNames, NameWorksEverywhereAndIsReportedOnOneLine) {
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
    EXPECT_EQ(r.err.rfind("tavrimox: " + as_reported(named) + ": ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
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

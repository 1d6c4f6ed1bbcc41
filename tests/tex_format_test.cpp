// The TEX header read, the DDS header written, and the in-memory conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "conversion.h"
#include "tex_file.h"
#include "tex_format.h"

namespace {

Bytes header_bytes(const DdsHeader& h) {
    return Bytes(h.bytes, h.bytes + DDS_HEADER_BYTES);
}

// 256 x 128, written out in full: height (80 00 00 00) comes before width.
TEST(DdsHeader, BytesFor256By128) {
    const Bytes expected = {
        'D', 'D', 'S', ' ', 0x7C, 0, 0, 0, 0x07, 0x10, 0, 0, 0x80, 0, 0, 0,  // 0..15
        0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                    // 16..31
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                       // 32..47
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                       // 48..63
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0,                    // 64..79
        0x04, 0, 0, 0, 'D', 'X', 'T', '5', 0, 0, 0, 0, 0, 0, 0, 0,            // 80..95
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                       // 96..111
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                       // 112..127
    };
    EXPECT_EQ(header_bytes(make_dds_header(0x0100, 0x0080)), expected);
    EXPECT_EQ(expected_dds_header(0x0100, 0x0080), expected);  // the tests' own builder
}

// Only bytes 12, 13 (height) and 16, 17 (width) ever vary.
TEST(DdsHeader, OnlyLowHalvesOfHeightAndWidthVary) {
    const Bytes base = header_bytes(make_dds_header(0, 0));
    const std::pair<uint16_t, uint16_t> sizes[] = {
        {0, 0}, {1, 0}, {0, 1}, {0x0100, 0x0080}, {0x1234, 0xABCD}, {65535, 65535}};
    for (const auto& [width, height] : sizes) {
        const Bytes h = header_bytes(make_dds_header(width, height));
        for (size_t i = 0; i < DDS_HEADER_BYTES; ++i) {
            uint8_t want = base[i];
            if (i == 12 || i == 13) {
                want = static_cast<uint8_t>(height >> (8 * (i - 12)));
            } else if (i == 16 || i == 17) {
                want = static_cast<uint8_t>(width >> (8 * (i - 16)));
            }
            EXPECT_EQ(h[i], want) << "byte " << i << " for " << width << "x" << height;
        }
    }
}

// The readers' header is the exact one plus three fields: DDSD_LINEARSIZE
// in dwFlags, the top level's size at 20, DDSCAPS_TEXTURE at 108.
TEST(DdsHeader, ReadersHeaderAddsFlagsLinearSizeAndCaps) {
    struct Row {
        uint16_t width, height;
        uint32_t linear_size;
    };
    const Row rows[] = {
        {256, 128, 64 * 32 * 16}, {5, 3, 2 * 1 * 16},  // partial blocks round up
        {0, 0, 16}, {1, 1, 16},                         // at least one block each way
        {65532, 65535, 16383u * 16384u * 16u},
        {65535, 65535, 0xFFFFFFFF},  // 2^32 does not fit: the most the field holds
    };
    for (const Row& row : rows) {
        Bytes want = header_bytes(make_dds_header(row.width, row.height));
        put_le(want, 8, 0x1007 | 0x80000, 4);
        put_le(want, 20, row.linear_size, 4);
        put_le(want, 108, 0x1000, 4);
        EXPECT_EQ(header_bytes(make_dds_header(row.width, row.height, DdsHeaderKind::READERS)), want)
            << row.width << "x" << row.height;
    }
}

TEST(TexHeader, ParsesLittleEndianFieldsAndIgnoresTheRest) {
    for (const uint8_t filler : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0xA5}}) {
        const Bytes raw = tex_header(TexFields{0xBEEF, 0x0102, 0x89ABCDEF, 0xFEDCBA98, filler});
        const TexHeader h = parse_tex_header(raw.data());
        EXPECT_EQ(h.magic, TEX_MAGIC);
        EXPECT_EQ(tex_magic(raw.data()), 0x20584554u);
        EXPECT_EQ(h.width, 0xBEEF);
        EXPECT_EQ(h.height, 0x0102);
        EXPECT_EQ(h.compressed_size, 0x89ABCDEFu);
        EXPECT_EQ(h.uncompressed_size, 0xFEDCBA98u);
    }
}

// --- convert_tex ------------------------------------------------------------

struct ConvertCase {
    const char* name;
    Bytes tex;
    uint64_t memory_limit;
    Outcome outcome;
    std::string reason;  // for FAILED
    Bytes payload;       // for CONVERTED: what follows the DDS header
};

void PrintTo(const ConvertCase& c, std::ostream* os) {
    *os << c.name;
}

// The file as the program writes it: each region's bytes, zeros for a null one.
Bytes file_of(const Conversion& conversion) {
    OutputRegion regions[3];
    Bytes file;
    for (size_t i = 0, n = dds_regions(conversion, regions); i < n; ++i) {
        const size_t size = static_cast<size_t>(regions[i].size);
        file.resize(file.size() + size, 0);
        if (regions[i].data != nullptr) {
            std::copy(regions[i].data, regions[i].data + size, file.end() - static_cast<std::ptrdiff_t>(size));
        }
    }
    return file;
}

Conversion convert(const Bytes& tex, uint64_t memory_limit) {
    // A copy of exactly the file's size, so that reading past it is caught
    // by the sanitizers.
    const auto copy = std::make_unique<uint8_t[]>(tex.size() + 1);
    std::copy(tex.begin(), tex.end(), copy.get());
    return convert_tex(copy.get(), tex.size(), ConvertOptions{DecodeMode::BUFFERED, memory_limit});
}

class ConvertBytes : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertBytes, OutcomeReasonAndFile) {
    const ConvertCase& c = GetParam();
    const Conversion conversion = convert(c.tex, c.memory_limit);
    EXPECT_EQ(conversion.outcome, c.outcome);
    EXPECT_EQ(conversion.reason != nullptr ? std::string(conversion.reason) : "", c.reason);
    if (c.outcome == Outcome::CONVERTED) {
        EXPECT_EQ(file_of(conversion), dds_file(c.payload));
    }
}

constexpr uint64_t NO_LIMIT = UINT64_MAX;
const Bytes ABC = bytes_of("abc");
const Bytes ABC_STREAM = stored_block(ABC, true);
constexpr Outcome CONVERTED = Outcome::CONVERTED;
constexpr Outcome NOT_TEX = Outcome::NOT_TEX;
constexpr Outcome FAILED = Outcome::FAILED;

Bytes wrong_magic(Bytes b) {
    b[3] = '_';
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertBytes,
    ::testing::Values(
        ConvertCase{"empty", {}, NO_LIMIT, NOT_TEX, "", {}},
        ConvertCase{"three_bytes", bytes_of("TEX"), NO_LIMIT, NOT_TEX, "", {}},
        ConvertCase{"wrong_magic_full_file", wrong_magic(tex_file(ABC_STREAM, 3)), NO_LIMIT, NOT_TEX, "", {}},
        ConvertCase{"magic_only", bytes_of("TEX "), NO_LIMIT, FAILED, "truncated header", {}},
        ConvertCase{"header_31", truncated(tex_file(ABC_STREAM, 3), 31), NO_LIMIT, FAILED, "truncated header", {}},
        ConvertCase{"payload_short", truncated(tex_file(ABC_STREAM, 3), 39), NO_LIMIT, FAILED, "truncated payload", {}},
        // 32 + 0xFFFFFFFF must not wrap into a small size on 32-bit hosts.
        ConvertCase{"payload_announces_4gib", tex_with_sizes(0xFFFFFFFF, 3, ABC_STREAM), NO_LIMIT, FAILED, "truncated payload", {}},
        ConvertCase{"payload_announces_4gib_minus_31", tex_with_sizes(0xFFFFFFE1, 3, ABC_STREAM), NO_LIMIT, FAILED, "truncated payload", {}},
        ConvertCase{"output_over_limit", tex_file(ABC_STREAM, 3), 2, FAILED, "not enough memory", {}},
        ConvertCase{"output_at_limit", tex_file(ABC_STREAM, 3), 3, CONVERTED, "", ABC},
        ConvertCase{"declared_larger", tex_file(ABC_STREAM, 10), NO_LIMIT, CONVERTED, "", ABC},
        ConvertCase{"declared_smaller_zero_filled", tex_file(ABC_STREAM, 2), NO_LIMIT, CONVERTED, "", Bytes(2, 0)},
        ConvertCase{"declared_zero", tex_file(ABC_STREAM, 0), NO_LIMIT, CONVERTED, "", {}},
        ConvertCase{"compressed_zero", tex_file({}, 4), NO_LIMIT, CONVERTED, "", Bytes(4, 0)},
        ConvertCase{"prefix_then_zeros", tex_file(stored_block(ABC, false), 5), NO_LIMIT, CONVERTED, "", concat(ABC, Bytes(2, 0))},
        // The buffer ends where 8 payload bytes can fill it (the limit would
        // refuse more), and zeros that need no memory fill the file.
        ConvertCase{"declared_past_what_the_payload_can_produce", tex_file(stored_block(ABC, false), 9000), 8 * 1032,
                    CONVERTED, "", concat(ABC, Bytes(8997, 0))},
        ConvertCase{"fault_after_data", tex_file(concat(stored_block(ABC, false), {0x07}), 9), NO_LIMIT, CONVERTED, "", ABC},
        ConvertCase{"trailing_ignored", concat(tex_file(ABC_STREAM, 3), bytes_of("junk")), NO_LIMIT, CONVERTED, "", ABC}),
    [](const auto& test) { return std::string(test.param.name); });

// The decoder gets a real buffer of capacity 0, not count-only mode's null:
// a stream with data then stops with status 1 and writes nothing.
TEST(ConvertTex, ZeroCapacityIsNotCountOnly) {
    const Conversion conversion = convert(tex_file(ABC_STREAM, 0), NO_LIMIT);
    ASSERT_EQ(conversion.outcome, CONVERTED);
    EXPECT_NE(conversion.decoded.bytes, nullptr);
    EXPECT_EQ(conversion.decoded.status, 1);
    EXPECT_EQ(conversion.decoded.file_bytes, 0u);
}

}  // namespace

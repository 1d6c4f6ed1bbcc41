// Streams from zlib's compressor decode to the bytes that went in, at every
// level and strategy, with flushes that cut the data into many blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "inflate.h"
#include "zlib_raw.h"

namespace {

// Data of several kinds, each from a fixed seed.
std::vector<uint8_t> random_bytes(size_t size) {
    std::mt19937 rng(1951);
    std::vector<uint8_t> data(size);
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(rng());
    }
    return data;
}

// Words drawn with a skewed frequency, like prose: many short matches.
std::vector<uint8_t> text(size_t size) {
    static const char* const WORDS[] = {"the ",    "texture ", "of ",  "a ",       "block ",
                                        "and ",    "DEFLATE ", "is ",  "header, ", "which ",
                                        "length ", "to ",      "in ",  "code.\n",  "Huffman "};
    std::mt19937 rng(3);
    std::vector<uint8_t> data;
    while (data.size() < size) {
        const uint32_t r = static_cast<uint32_t>(rng() % 225);
        const char* word = WORDS[r < 120 ? r % 4 : r % 15];
        data.insert(data.end(), word, word + std::strlen(word));
    }
    data.resize(size);
    return data;
}

// Runs of one byte, 1 to 600 long: overlapping matches at distance 1.
std::vector<uint8_t> runs(size_t size) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data;
    while (data.size() < size) {
        data.insert(data.end(), 1 + rng() % 600, static_cast<uint8_t>(rng() % 4));
    }
    data.resize(size);
    return data;
}

// Random bytes repeated 32506 bytes later: zlib's farthest match (its
// window less 262 bytes of lookahead), in the last distance code.
std::vector<uint8_t> far_repeat() {
    std::vector<uint8_t> data = random_bytes(32506);
    const std::vector<uint8_t> copy = data;
    data.insert(data.end(), copy.begin(), copy.begin() + 3000);
    return data;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> data;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return data;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        data.insert(data.end(), chunk, chunk + got);
    }
    std::fclose(file);
    return data;
}

// The DXT5 blocks of a sample texture, inflated by zlib (not by us).
std::vector<uint8_t> sample_blocks(const char* name) {
    const std::vector<uint8_t> tex = read_file(std::string(TAVRIMOX_SAMPLES_DIR) + "/" + name);
    if (tex.size() < 32) {
        throw std::runtime_error(std::string("missing sample ") + name);
    }
    const auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(tex[at]) | static_cast<uint32_t>(tex[at + 1]) << 8 |
               static_cast<uint32_t>(tex[at + 2]) << 16 | static_cast<uint32_t>(tex[at + 3]) << 24;
    };
    std::vector<uint8_t> blocks(u32(24));
    const ZlibResult r = zlib_inflate_raw(tex.data() + 32, u32(20), blocks.data(), blocks.size());
    if (r.outcome != Outcome::finished || r.produced != blocks.size()) {
        throw std::runtime_error(std::string("sample does not inflate: ") + name);
    }
    return blocks;
}

enum class Kind { empty, one_byte, random, text, runs, far_repeat, dxt5_drawn, dxt5_wallpaper };

std::vector<uint8_t> make_data(Kind kind) {
    switch (kind) {
        case Kind::empty: return {};
        case Kind::one_byte: return {0x5A};
        case Kind::random: return random_bytes(12000);
        case Kind::text: return text(24000);
        case Kind::runs: return runs(24000);
        case Kind::far_repeat: return far_repeat();
        case Kind::dxt5_drawn: return sample_blocks("sample.tex");
        case Kind::dxt5_wallpaper: {
            std::vector<uint8_t> blocks = sample_blocks("softwaves.tex");
            blocks.resize(48 * 1024);  // a slice keeps the level sweep quick
            return blocks;
        }
    }
    return {};
}

struct DataKind {
    const char* name;
    Kind kind;
};

void PrintTo(const DataKind& data, std::ostream* os) {
    *os << data.name;
}

const DataKind DATA_KINDS[] = {
    {"empty", Kind::empty},           {"one_byte", Kind::one_byte},
    {"random", Kind::random},         {"text", Kind::text},
    {"runs", Kind::runs},             {"far_repeat", Kind::far_repeat},
    {"dxt5_drawn", Kind::dxt5_drawn}, {"dxt5_wallpaper_slice", Kind::dxt5_wallpaper},
};

// Decodes `stream` three ways and checks each against `data`:
// - into room for exactly data.size() bytes, with trailing bytes after the
//   stream: status 0, the same bytes, consumed == the stream alone;
// - count-only: the same counts;
// - into room one byte short: status 1, both lengths as passed, nothing
//   written past the room.
void expect_round_trip(const std::vector<uint8_t>& data, std::vector<uint8_t> stream) {
    const uint32_t stream_size = static_cast<uint32_t>(stream.size());
    stream.insert(stream.end(), {0xFF, 0x00, 0xA5});  // not part of the stream
    const uint32_t size = static_cast<uint32_t>(data.size());
    constexpr size_t GUARD = 16;

    std::vector<uint8_t> out(size + GUARD, 0xEE);
    uint32_t out_len = size;
    uint32_t in_len = static_cast<uint32_t>(stream.size());
    ASSERT_EQ(inflate_raw(out.data(), &out_len, stream.data(), &in_len), INFLATE_OK);
    EXPECT_EQ(out_len, size);
    EXPECT_EQ(in_len, stream_size);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin())) << "decoded bytes differ";
    EXPECT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(size), out.end(), 0xEE),
              static_cast<std::ptrdiff_t>(GUARD));

    uint32_t count_len = 0;
    uint32_t count_in = static_cast<uint32_t>(stream.size());
    EXPECT_EQ(inflate_raw(nullptr, &count_len, stream.data(), &count_in), INFLATE_OK);
    EXPECT_EQ(count_len, size);
    EXPECT_EQ(count_in, stream_size);

    if (size == 0) {
        return;
    }
    std::fill(out.begin(), out.end(), 0xEE);
    uint32_t short_len = size - 1;
    uint32_t short_in = stream_size;
    EXPECT_EQ(inflate_raw(out.data(), &short_len, stream.data(), &short_in), INFLATE_OUTPUT_FULL);
    EXPECT_EQ(short_len, size - 1);
    EXPECT_EQ(short_in, stream_size);
    EXPECT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(size) - 1, out.end(), 0xEE),
              static_cast<std::ptrdiff_t>(GUARD + 1));
}

struct Strategy {
    const char* name;
    int value;
};

const Strategy STRATEGIES[] = {{"default", Z_DEFAULT_STRATEGY},
                               {"filtered", Z_FILTERED},
                               {"huffman_only", Z_HUFFMAN_ONLY},
                               {"rle", Z_RLE},
                               {"fixed", Z_FIXED}};

class RoundTrip : public ::testing::TestWithParam<DataKind> {};

TEST_P(RoundTrip, EveryLevelAndStrategy) {
    const std::vector<uint8_t> data = make_data(GetParam().kind);
    for (int level = 0; level <= 9; ++level) {
        for (const Strategy& strategy : STRATEGIES) {
            SCOPED_TRACE("level " + std::to_string(level) + ", " + strategy.name);
            expect_round_trip(data, zlib_deflate_raw(data, level, strategy.value));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

struct Flush {
    const char* name;
    int value;
    size_t every;
};

// Flushes cut the stream into blocks at places the compressor would not
// choose; every 7 bytes gives hundreds of tiny blocks.
const Flush FLUSHES[] = {{"sync_4k", Z_SYNC_FLUSH, 4096},  {"full_3k", Z_FULL_FLUSH, 3000},
                         {"partial_2k", Z_PARTIAL_FLUSH, 2000}, {"block_5k", Z_BLOCK, 5000},
                         {"sync_7", Z_SYNC_FLUSH, 7},      {"full_7", Z_FULL_FLUSH, 7}};

TEST_P(RoundTrip, FlushedIntoManyBlocks) {
    const std::vector<uint8_t> data = make_data(GetParam().kind);
    for (const int level : {0, 1, 6, 9}) {
        for (const Flush& flush : FLUSHES) {
            SCOPED_TRACE("level " + std::to_string(level) + ", " + flush.name);
            expect_round_trip(data,
                              zlib_deflate_raw(data, level, Z_DEFAULT_STRATEGY, flush.value, flush.every));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Zlib, RoundTrip, ::testing::ValuesIn(DATA_KINDS),
                         [](const auto& test) { return std::string(test.param.name); });

// The whole 1 MiB wallpaper texture as make_tex stores it (level 9).
TEST(RoundTripWhole, WallpaperTexture) {
    const std::vector<uint8_t> blocks = sample_blocks("softwaves.tex");
    ASSERT_EQ(blocks.size(), size_t{1024} * 1024);
    expect_round_trip(blocks, zlib_deflate_raw(blocks, 9, Z_DEFAULT_STRATEGY));
}

// A stored block holds at most 65535 bytes: 200000 bytes at level 0 take
// several, each copied whole.
TEST(RoundTripWhole, StoredBlocksAtTheirLargest) {
    const std::vector<uint8_t> data = random_bytes(200000);
    const std::vector<uint8_t> stream = zlib_deflate_raw(data, 0, Z_DEFAULT_STRATEGY);
    ASSERT_GE(stream.size(), data.size() + 4 * 5);
    expect_round_trip(data, stream);
}

}  // namespace

// Count-only mode against a real buffer, and regression tests for the two
// faults fixed on purpose: the count-only output count wrapping past
// 2^32 - 1, and decodes from two threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bit_writer.h"
#include "decode_case.h"
#include "inflate.h"
#include "inflate_internal.h"

namespace {

// ---- Count-only mode past 4 GiB ----
//
// The cheapest stream that expands past 2^32: one dynamic block whose
// literal/length code gives symbol 285 (length 258) a 1-bit code and whose
// distance code is a single 1-bit code for distance 1, so each 258-byte match
// is two zero bits. 'a' and end-of-block get 2 bits. After one literal,
// 16 647 160 matches reach 1 + 258 * 16 647 160 = 4 294 967 281, 14 short of
// 2^32 - 1: about 4 MiB of input, decoded in count-only mode only.
constexpr uint32_t MATCHES_THAT_FIT = 16647160;
constexpr uint32_t COUNT_AFTER_MATCHES = 1u + 258u * MATCHES_THAT_FIT;
static_assert(COUNT_AFTER_MATCHES == UINT32_MAX - 14u);

struct Huge {
    BitWriter w;
    DynamicCodes codes;
};

// 'a', then `matches` matches of 258 at distance 1, then `literals` more
// 'a', then end-of-block (block marked last when `last`).
Huge huge_block(uint32_t matches, uint32_t literals, bool last) {
    Huge h;
    h.codes = put_dynamic_header(h.w, last, lengths_with(286, {{'a', 2}, {256, 2}, {285, 1}}), {1});
    put_symbol(h.w, h.codes.litlen, 'a');
    // Symbol 285 is code 0 and distance symbol 0 is code 0: two zero bits a match.
    put_zero_bits(h.w, 2u * static_cast<uint64_t>(matches));
    for (uint32_t i = 0; i < literals; ++i) {
        put_symbol(h.w, h.codes.litlen, 'a');
    }
    put_symbol(h.w, h.codes.litlen, 256);
    return h;
}

struct CountOnlyRun {
    int32_t status;
    uint32_t out_len;
    uint32_t in_len;
};

// Decodes in count-only mode with the fast path and without; both must agree.
CountOnlyRun count_only(const std::vector<uint8_t>& stream, uint32_t capacity = 12345) {
    CountOnlyRun runs[2];
    for (const bool fast : {true, false}) {
        DecodeOptions options;
        options.fast = fast;
        CountOnlyRun& r = runs[fast ? 0 : 1];
        r = {0, capacity, static_cast<uint32_t>(stream.size())};
        r.status = inflate_raw_with(nullptr, &r.out_len, stream.data(), &r.in_len, options);
    }
    EXPECT_EQ(runs[0].status, runs[1].status) << "fast path against the bit-by-bit decode";
    EXPECT_EQ(runs[0].out_len, runs[1].out_len);
    EXPECT_EQ(runs[0].in_len, runs[1].in_len);
    return runs[1];
}

TEST(CountOnlyOutputCountMustNotWrapPast4GiB, SmallStreamSanity) {
    // The same code on a small scale: 'a', 3 matches, 2 literals = 1 + 774 + 2.
    Huge h = huge_block(3, 2, true);
    std::vector<uint8_t> out(777);
    uint32_t out_len = 777;
    uint32_t in_len = static_cast<uint32_t>(h.w.bytes.size());
    ASSERT_EQ(inflate_raw(out.data(), &out_len, h.w.bytes.data(), &in_len), INFLATE_OK);
    EXPECT_EQ(out_len, 777u);
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string(777, 'a'));
    const CountOnlyRun r = count_only(h.w.bytes);
    EXPECT_EQ(r.status, INFLATE_OK);
    EXPECT_EQ(r.out_len, 777u);
    EXPECT_EQ(r.in_len, h.w.bytes.size());
}

// Past the largest count, count-only mode stops with OUTPUT_FULL and leaves
// both lengths as passed, as a buffer of 2^32 - 1 bytes would.
struct HugeCase {
    const char* name;
    uint32_t matches;   // of huge_block
    uint32_t literals;
    int32_t stored;     // -1: none; else a last stored block of this many bytes follows
    uint32_t capacity;  // passed as the output length
    int32_t status;
    uint32_t out_len;
};

const HugeCase HUGE_CASES[] = {
    {"reaching_exactly_the_largest_count_is_ok", MATCHES_THAT_FIT, 14, -1, 12345, INFLATE_OK, UINT32_MAX},
    {"literal_past_the_largest_count_is_output_full", MATCHES_THAT_FIT, 15, -1, 12345, INFLATE_OUTPUT_FULL, 12345},
    // One more match: 4 294 967 281 + 258 would wrap to 243.
    {"match_past_the_largest_count_is_output_full", MATCHES_THAT_FIT + 1, 0, -1, 0, INFLATE_OUTPUT_FULL, 0},
    {"stored_block_reaching_the_largest_count_is_ok", MATCHES_THAT_FIT, 0, 14, 12345, INFLATE_OK, UINT32_MAX},
    {"stored_block_past_the_largest_count_is_output_full", MATCHES_THAT_FIT, 0, 15, 12345, INFLATE_OUTPUT_FULL, 12345},
    {"longest_stored_block_past_the_largest_count_is_output_full", MATCHES_THAT_FIT, 0, 65535, 12345,
     INFLATE_OUTPUT_FULL, 12345},
};

class CountOnlyOutputCountMustNotWrapPast4GiB : public ::testing::TestWithParam<HugeCase> {};

TEST_P(CountOnlyOutputCountMustNotWrapPast4GiB, StatusAndLengths) {
    const HugeCase& c = GetParam();
    const auto start = std::chrono::steady_clock::now();
    Huge h = huge_block(c.matches, c.literals, c.stored < 0);
    if (c.stored >= 0) {
        const auto len = static_cast<uint32_t>(c.stored);
        put_block_header(h.w, true, 0);
        std::vector<uint8_t> block = {static_cast<uint8_t>(len & 0xFF), static_cast<uint8_t>(len >> 8),
                                      static_cast<uint8_t>(~len & 0xFF), static_cast<uint8_t>((~len >> 8) & 0xFF)};
        block.resize(4 + len, 'b');
        put_bytes(h.w, block);
    }
    const uint32_t size = static_cast<uint32_t>(h.w.bytes.size());
    if (c.status == INFLATE_OK) {
        put_trailing(h.w);  // not consumed
    }
    const CountOnlyRun r = count_only(h.w.bytes, c.capacity);
    EXPECT_EQ(r.status, c.status);
    const char* as_passed = c.status == INFLATE_OK ? "" : "must be left as passed";
    EXPECT_EQ(r.out_len, c.out_len) << as_passed;
    EXPECT_EQ(r.in_len, c.status == INFLATE_OK ? size : h.w.bytes.size()) << as_passed;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    RecordProperty("milliseconds", static_cast<int>(ms));
}

INSTANTIATE_TEST_SUITE_P(Huge, CountOnlyOutputCountMustNotWrapPast4GiB, ::testing::ValuesIn(HUGE_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- Decodes from two threads at once ----

// A deterministic fixed-block stream of literals and matches (distances up to
// 32768), with the output it must decode to.
struct Generated {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> output;
};

Generated generate_fixed(uint32_t seed, size_t target) {
    Generated g;
    BitWriter w;
    uint32_t x = seed;
    auto next = [&x]() {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    size_t block_items = 0;
    put_block_header(w, false, 1);
    while (g.output.size() < target) {
        const uint32_t r = next();
        if (g.output.empty() || r % 4 == 0) {
            const uint8_t v = static_cast<uint8_t>(next());
            put_fixed_litlen(w, v);
            g.output.push_back(v);
        } else {
            const int length = 3 + static_cast<int>(next() % 256);
            const size_t limit = g.output.size() < 32768 ? g.output.size() : 32768;
            const int distance = 1 + static_cast<int>(next() % limit);
            put_fixed_match(w, length, distance);
            for (int i = 0; i < length; ++i) {
                g.output.push_back(g.output[g.output.size() - static_cast<size_t>(distance)]);
            }
        }
        if (++block_items == 5000) {  // many blocks, headers mid-byte
            put_fixed_litlen(w, 256);
            put_block_header(w, false, 1);
            block_items = 0;
        }
    }
    put_fixed_litlen(w, 256);
    put_block_header(w, true, 1);
    put_fixed_litlen(w, 256);
    g.stream = w.bytes;
    return g;
}

bool decodes_to(const Generated& g, const DecodeOptions& options = DecodeOptions{}) {
    std::vector<uint8_t> out(g.output.size());
    uint32_t out_len = static_cast<uint32_t>(out.size());
    uint32_t in_len = static_cast<uint32_t>(g.stream.size());
    const int32_t status = inflate_raw_with(out.data(), &out_len, g.stream.data(), &in_len, options);
    if (status != INFLATE_OK || out_len != g.output.size() || in_len != g.stream.size() || out != g.output) {
        return false;
    }
    uint32_t count_len = 0;
    in_len = static_cast<uint32_t>(g.stream.size());
    return inflate_raw_with(nullptr, &count_len, g.stream.data(), &in_len, options) == INFLATE_OK &&
           count_len == g.output.size();
}

// Each thread decodes both streams in turn, starting together, each with its
// own options, and checks every result against the generator's output.
void decode_in_two_threads(const Generated& a, const Generated& b, const DecodeOptions& options_1,
                           const DecodeOptions& options_2) {
    constexpr int ROUNDS = 12;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    auto worker = [&](const Generated& first, const Generated& second, const DecodeOptions& options) {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        for (int i = 0; i < ROUNDS; ++i) {
            if (!decodes_to(i % 2 == 0 ? first : second, options)) {
                failures.fetch_add(1);
            }
        }
    };
    std::thread t1(worker, std::cref(a), std::cref(b), std::cref(options_1));
    std::thread t2(worker, std::cref(b), std::cref(a), std::cref(options_2));
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 0);
}

// Also one thread with the table-driven path and one without at once: a
// decode's choice of path reaches no other thread. The tsan preset runs these.
TEST(ConcurrentFixedBlockDecodesAgree, TwoThreadsSameResults) {
    const Generated a = generate_fixed(1, 1u << 20);
    const Generated b = generate_fixed(2, 1u << 20);
    ASSERT_TRUE(decodes_to(a));
    ASSERT_TRUE(decodes_to(b));

    DecodeOptions fast;
    DecodeOptions exact;
    exact.fast = false;
    DecodeOptions reader_32;
    reader_32.reader_bits = 32;
    const DecodeOptions pairs[][2] = {{fast, fast}, {exact, exact}, {fast, exact}, {reader_32, fast}};
    for (const auto& pair : pairs) {
        SCOPED_TRACE(std::string(pair[0].fast ? "fast" : "exact") + " and " + (pair[1].fast ? "fast" : "exact") +
                     ", reader bits " + std::to_string(pair[0].reader_bits));
        decode_in_two_threads(a, b, pair[0], pair[1]);
    }
}

// ---- Count-only agrees with a real buffer ----

TEST(CountOnly, AgreesWithBufferOnMixedStream) {
    // Stored, dynamic and fixed blocks in one stream, each referring back.
    BitWriter w;
    put_block_header(w, false, 0);
    put_bytes(w, {0x05, 0x00, 0xFA, 0xFF, 'h', 'e', 'l', 'l', 'o'});
    const DynamicCodes codes =
        put_dynamic_header(w, false, lengths_with(258, {{'z', 1}, {256, 2}, {257, 2}}), {0, 0, 0, 0, 1});
    put_symbol(w, codes.litlen, 'z');
    put_dynamic_match(w, codes, 3, 5);  // distance symbol 4, extra bit 0
    put_symbol(w, codes.litlen, 256);
    put_block_header(w, true, 1);
    put_fixed_match(w, 9, 9);
    put_fixed_litlen(w, 256);
    // Buffer and count-only, fast path on and off, with input to spare.
    check_decode_case(stops_here("mixed", w, 18, INFLATE_OK, "hellozellhellozell"));
}

TEST(CountOnly, AgreesWithBufferOnManyFixedBlocks) {
    // decodes_to checks the buffer decode against the generator's own output,
    // then count-only mode against its size.
    EXPECT_TRUE(decodes_to(generate_fixed(3, 300000)));
}

}  // namespace

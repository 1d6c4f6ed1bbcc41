// build_huffman_table and decode_symbol, called directly.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdint>
#include <string>
#include <vector>

#include "huffman.h"
#include "inflate_state.h"

namespace {

constexpr int16_t SENTINEL = -77;

// A table with its own storage; symbols prefilled so that writes show.
struct OwnedTable {
    int16_t counts[16];
    std::vector<int16_t> symbols;
    HuffmanTable table;
    explicit OwnedTable(size_t room) : counts{}, symbols(room, SENTINEL), table{counts, symbols.data()} {}
};

int32_t build(OwnedTable& t, const std::vector<int16_t>& lengths) {
    return build_huffman_table(t.table, lengths.data(), static_cast<int32_t>(lengths.size()));
}

std::vector<int16_t> counts_of(const OwnedTable& t) {
    return {t.counts, t.counts + 16};
}

std::vector<int16_t> counts_with(std::initializer_list<std::pair<int, int16_t>> set) {
    std::vector<int16_t> counts(16, 0);
    for (const auto& [len, n] : set) {
        counts[static_cast<size_t>(len)] = n;
    }
    return counts;
}

struct BuildCase {
    const char* name;
    std::vector<int16_t> lengths;
    int32_t result;
    std::vector<int16_t> counts;   // all 16 entries
    std::vector<int16_t> symbols;  // the leading entries; the rest must be untouched
};

class BuildHuffmanTable : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildHuffmanTable, ResultCountsAndSymbols) {
    const BuildCase& c = GetParam();
    OwnedTable t(c.lengths.size() + 4);
    for (int16_t& count : t.counts) {
        count = 123;  // a build overwrites all 16 entries
    }
    EXPECT_EQ(build(t, c.lengths), c.result);
    EXPECT_EQ(counts_of(t), c.counts);
    std::vector<int16_t> expected = c.symbols;
    expected.resize(t.symbols.size(), SENTINEL);
    EXPECT_EQ(t.symbols, expected);
}

const BuildCase BUILD_CASES[] = {
    // RFC 1951, 3.2.2.
    {"rfc_example", {3, 3, 3, 3, 3, 2, 4, 4}, 0, counts_with({{2, 1}, {3, 5}, {4, 2}}), {5, 0, 1, 2, 3, 4, 6, 7}},
    {"two_one_bit", {1, 1}, 0, counts_with({{1, 2}}), {0, 1}},
    {"one_one_bit", {1}, 16384, counts_with({{1, 1}}), {0}},
    {"one_one_bit_among_zeros", {0, 0, 1, 0}, 16384, counts_with({{0, 3}, {1, 1}}), {2}},
    {"three_two_bit", {2, 2, 2}, 8192, counts_with({{2, 3}}), {0, 1, 2}},
    {"one_two_bit", {0, 2}, 16384 + 8192, counts_with({{0, 1}, {2, 1}}), {1}},
    // Incomplete with a 15-bit code: the free count peaks at 32768 before its subtraction.
    {"one_fifteen_bit", {15}, 32767, counts_with({{15, 1}}), {0}},
    // Complete with every length 1..15 once and 15 twice.
    {"lengths_1_to_15", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15}, 0,
     counts_with({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1},
                  {11, 1}, {12, 1}, {13, 1}, {14, 1}, {15, 2}}),
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
    // Within one length, symbols in increasing value; shorter lengths first.
    {"order_by_length_then_value", {4, 0, 3, 4, 1, 3, 0, 3}, 0,
     counts_with({{0, 2}, {1, 1}, {3, 3}, {4, 2}}), {4, 2, 5, 7, 0, 3}},
    // Over-subscribed: the (negative) shortfall at the first length that overflows; symbols untouched.
    {"over_1_1_1", {1, 1, 1}, -1, counts_with({{1, 3}}), {}},
    {"over_1_1_2", {1, 1, 2}, -1, counts_with({{1, 2}, {2, 1}}), {}},
    {"over_1_1_1_1", {1, 1, 1, 1}, -2, counts_with({{1, 4}}), {}},
    {"over_five_two_bit", {2, 2, 2, 2, 2}, -1, counts_with({{2, 5}}), {}},
    // Over-subscribed at 15 bits only: 1..14 once, then three of 15.
    {"over_at_fifteen", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15, 15}, -1,
     counts_with({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1},
                  {11, 1}, {12, 1}, {13, 1}, {14, 1}, {15, 3}}),
     {}},
    // No code at all: 0, symbols untouched.
    {"all_zero", {0, 0, 0, 0, 0}, 0, counts_with({{0, 5}}), {}},
    {"n_zero", {}, 0, counts_with({}), {}},
    // The fixed distance code: 30 lengths of 5, two of the 32 codes free.
    {"fixed_distance", std::vector<int16_t>(30, 5), 2048, counts_with({{5, 30}}),
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29}},
};

INSTANTIATE_TEST_SUITE_P(Huffman, BuildHuffmanTable, ::testing::ValuesIn(BUILD_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

std::vector<int16_t> fixed_litlen_lengths();

TEST(BuildHuffmanTable, FixedLiteralLengthCode) {
    const std::vector<int16_t> lengths = fixed_litlen_lengths();
    OwnedTable t(288);
    EXPECT_EQ(build(t, lengths), 0);
    EXPECT_EQ(counts_of(t), counts_with({{7, 24}, {8, 152}, {9, 112}}));
    std::vector<int16_t> expected;
    for (int s = 256; s < 280; ++s) expected.push_back(static_cast<int16_t>(s));
    for (int s = 0; s < 144; ++s) expected.push_back(static_cast<int16_t>(s));
    for (int s = 280; s < 288; ++s) expected.push_back(static_cast<int16_t>(s));
    for (int s = 144; s < 256; ++s) expected.push_back(static_cast<int16_t>(s));
    EXPECT_EQ(t.symbols, expected);
}

TEST(BuildHuffmanTable, RebuildInPlaceOverwritesCounts) {
    OwnedTable t(8);
    ASSERT_EQ(build(t, {3, 3, 3, 3, 3, 2, 4, 4}), 0);
    EXPECT_EQ(build(t, {1, 1}), 0);
    EXPECT_EQ(counts_of(t), counts_with({{1, 2}}));
    EXPECT_EQ(t.symbols[0], 0);
    EXPECT_EQ(t.symbols[1], 1);
    EXPECT_EQ(t.symbols[2], 1);  // left from the first build
}

// ---- decode_symbol ----

struct Decoded {
    bool escaped;  // left through overrun_escape
    int32_t result;
};

// Calls decode_symbol with the escape armed. The state lives in the caller's
// frame, so nothing of this frame changes between setjmp and longjmp.
Decoded decode_escaping(InflateState& state, const HuffmanTable& table, int32_t& result) {
    if (setjmp(state.overrun_escape) != 0) {
        return {true, 0};
    }
    result = decode_symbol(state, table);
    return {false, result};
}

struct SymbolRun {
    bool escaped;
    int32_t result;
    uint32_t input_count;
    int32_t bit_buffer;
    int32_t bit_count;
};

SymbolRun run_decode(const HuffmanTable& table, const std::vector<uint8_t>& input,
                     int32_t bit_buffer = 0, int32_t bit_count = 0) {
    InflateState state{};
    state.input = input.data();
    state.input_length = static_cast<uint32_t>(input.size());
    state.bit_buffer = bit_buffer;
    state.bit_count = bit_count;
    int32_t result = 0;
    const Decoded d = decode_escaping(state, table, result);
    return {d.escaped, d.result, state.input_count, state.bit_buffer, state.bit_count};
}

struct SymbolCase {
    const char* name;
    std::vector<int16_t> lengths;
    std::vector<uint8_t> input;
    int32_t bit_buffer;  // pending bits at entry
    int32_t bit_count;
    bool escaped;
    int32_t result;
    uint32_t input_count;  // afterwards (when not escaped)
    int32_t bit_buffer_after;
    int32_t bit_count_after;
};

class DecodeSymbol : public ::testing::TestWithParam<SymbolCase> {};

TEST_P(DecodeSymbol, ResultAndBitPosition) {
    const SymbolCase& c = GetParam();
    OwnedTable t(c.lengths.size());
    ASSERT_GE(build(t, c.lengths), 0);
    const SymbolRun r = run_decode(t.table, c.input, c.bit_buffer, c.bit_count);
    ASSERT_EQ(r.escaped, c.escaped);
    if (!c.escaped) {
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.input_count, c.input_count);
        EXPECT_EQ(r.bit_buffer, c.bit_buffer_after);
        EXPECT_EQ(r.bit_count, c.bit_count_after);
    }
}

const std::vector<int16_t> RFC = {3, 3, 3, 3, 3, 2, 4, 4};
const std::vector<int16_t> LONG = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
const std::vector<int16_t> ZERO = {0, 0, 0};
const std::vector<int16_t> SINGLE = {1};

std::vector<int16_t> fixed_litlen_lengths() {
    std::vector<int16_t> lengths(288);
    for (size_t s = 0; s < 288; ++s) {
        lengths[s] = static_cast<int16_t>(s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8);
    }
    return lengths;
}
const std::vector<int16_t> FIXED = fixed_litlen_lengths();

const SymbolCase SYMBOL_CASES[] = {
    // Byte 02: bits 0, 1, 0 = code 010, symbol 0; the 5 high bits stay pending.
    {"rfc_byte_02", RFC, {0x02}, 0, 0, false, 0, 1, 0, 5},
    {"rfc_byte_FA", RFC, {0xFA}, 0, 0, false, 0, 1, 0x1F, 5},
    // Code 00 (symbol 5) from pending bits alone: nothing fetched.
    {"rfc_pending_only", RFC, {0xFF}, 0x4, 3, false, 5, 0, 0x1, 1},
    // Code 1111 (symbol 7): two pending ones, two bits from the byte 0x03.
    {"rfc_pending_then_byte", RFC, {0x03, 0xFF}, 0x3, 2, false, 7, 1, 0x00, 6},
    // 15 ones: symbol 15, from 8 + 7 bits of two bytes; the 16th bit stays pending.
    {"fifteen_bit_code", LONG, {0xFF, 0xFF, 0x00}, 0, 0, false, 15, 2, 1, 1},
    // 14 ones then 0: symbol 14; one bit (0) pending.
    {"fifteen_bit_code_14", LONG, {0xFF, 0x3F}, 0, 0, false, 14, 2, 0, 1},
    // The fixed literal 0 (00110000) ends exactly at the end of its byte.
    {"code_ends_at_byte_end", FIXED, {0x0C, 0xFF}, 0, 0, false, 0, 1, 0, 0},
    // Literal 144 (110010000): one pending bit and all 8 bits of the byte 09.
    {"code_ends_at_byte_end_after_pending", FIXED, {0x09, 0xFF}, 0x1, 1, false, 144, 1, 0, 0},
    // End-of-block (0000000) from 3 pending zero bits and 4 bits of the byte F0: 4 bits (1111) left.
    {"code_from_pending_and_part_of_byte", FIXED, {0xF0}, 0, 3, false, 256, 1, 0xF, 4},
    // Code 110 (symbol 2 of LONG) from one pending bit and 2 bits of the byte; 6 bits left.
    {"pending_then_fetch", LONG, {0x01}, 0x1, 1, false, 2, 1, 0x00, 6},
    // No code: 15 bits examined, then -10; pending bits left as at entry, bytes fetched counted.
    {"all_zero_two_bytes", ZERO, {0x00, 0x00, 0x55}, 0, 0, false, INFLATE_BAD_SYMBOL, 2, 0, 0},
    {"all_zero_seven_pending", ZERO, {0x00, 0x55}, 0x55, 7, false, INFLATE_BAD_SYMBOL, 1, 0x55, 7},
    // -10 at the very end of the input rather than the escape.
    {"all_zero_exactly_two_bytes", ZERO, {0x12, 0x34}, 0, 0, false, INFLATE_BAD_SYMBOL, 2, 0, 0},
    {"all_zero_seven_pending_one_byte", ZERO, {0x12}, 0x7F, 7, false, INFLATE_BAD_SYMBOL, 1, 0x7F, 7},
    {"all_zero_one_byte_left", ZERO, {0x00}, 0, 0, true, 0, 0, 0, 0},
    {"all_zero_seven_pending_no_byte", ZERO, {}, 0, 7, true, 0, 0, 0, 0},
    {"no_input", RFC, {}, 0, 0, true, 0, 0, 0, 0},
    // 01 needs a third bit: one pending bit (0) and none left to fetch.
    {"code_cut_by_end", RFC, {}, 0x2, 2, true, 0, 0, 0, 0},
    // A single 1-bit code: bit 0 is symbol 0; bit 1 fails after 15 bits.
    {"single_code_zero", SINGLE, {0x00}, 0, 0, false, 0, 1, 0, 7},
    {"single_code_one", SINGLE, {0x01, 0x00}, 0, 0, false, INFLATE_BAD_SYMBOL, 2, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Huffman, DecodeSymbol, ::testing::ValuesIn(SYMBOL_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace

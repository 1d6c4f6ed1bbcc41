// Fixed-code blocks (RFC 1951, 3.2.6) and the symbol loop they share with
// dynamic blocks, on hand-built streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bit_writer.h"
#include "decode_case.h"
#include "inflate.h"

namespace {

LayoutFacts& facts() {
    static LayoutFacts f;
    return f;
}

// A last fixed block holding `before` literals, for the cases below.
BitWriter fixed_with_literals(const std::string& before, bool last = true) {
    BitWriter w;
    put_block_header(w, last, 1);
    for (const char ch : before) {
        put_fixed_litlen(w, static_cast<unsigned char>(ch));
    }
    return w;
}

void end_block(BitWriter& w) {
    put_fixed_litlen(w, 256);
}

DecodeCase cut_inside(std::string name, const BitWriter& w, uint64_t start, uint64_t end,
                      uint32_t capacity, std::string output) {
    return ::cut_inside(facts(), std::move(name), w, start, end, capacity, std::move(output));
}

std::vector<DecodeCase> fixed_cases() {
    std::vector<DecodeCase> cases;

    // Hand-checked bytes: the empty fixed block and zlib's raw stream for "abc".
    cases.push_back({"eob_only_bytes", {0x03, 0x00}, 0, INFLATE_OK, 0, 2, ""});
    cases.push_back({"eob_only_trailing", {0x03, 0x00, 0xFF, 0xFF}, 0, INFLATE_OK, 0, 2, ""});
    cases.push_back({"zlib_abc", {0x4B, 0x4C, 0x4A, 0x06, 0x00}, 3, INFLATE_OK, 3, 5, "abc"});
    {
        // Every literal value once, each code length (8 and 9 bits).
        std::string all;
        for (int v = 0; v < 256; ++v) all.push_back(static_cast<char>(v));
        BitWriter w = fixed_with_literals(all);
        end_block(w);
        cases.push_back(stops_here("every_literal", w, 256, INFLATE_OK, all));
        cases.push_back({"every_literal_room_255", cases.back().stream, 255, INFLATE_OUTPUT_FULL, 255, 0,
                         all.substr(0, 255)});
    }
    // One match after some literals. A refused match is not consumed, so its
    // count stops before the match; an accepted one's after the end of block.
    struct MatchCase {
        const char* name;
        std::string literals;
        int length;
        int distance;
        uint32_t capacity;
        int32_t status;
        uint32_t produced;
        std::string out;
    };
    const MatchCase matches[] = {
        // A back-reference as the first item: nothing produced yet.
        {"match_first", "", 3, 1, 10, INFLATE_DISTANCE_TOO_FAR, 0, ""},
        {"match_first_no_room", "", 3, 1, 0, INFLATE_DISTANCE_TOO_FAR, 0, ""},
        // After 5 bytes: distance 5 (symbol 4, extra 0) reaches the first byte.
        {"distance_equals_count", "abcde", 4, 5, 9, INFLATE_OK, 9, "abcdeabcd"},
        // Distance 6 (symbol 4, extra 1) after 5 bytes.
        {"distance_one_past_count", "abcde", 4, 6, 9, INFLATE_DISTANCE_TOO_FAR, 5, "abcde"},
        // One literal, then length 258 at distance 1: 259 copies.
        {"literal_then_258_distance_1", "x", 258, 1, 259, INFLATE_OK, 259, std::string(259, 'x')},
        // Overlapping copy: distance 3, length 10 repeats the last 3 bytes.
        {"overlapping_match", "abc", 10, 3, 13, INFLATE_OK, 13, "abcabcabcabca"},
        // Too far and too long: the distance test wins.
        {"distance_wins_over_room", "x", 258, 2, 1, INFLATE_DISTANCE_TOO_FAR, 1, "x"},
    };
    for (const MatchCase& m : matches) {
        BitWriter w = fixed_with_literals(m.literals);
        put_fixed_match(w, m.length, m.distance);
        const uint32_t before_end = consumed_now(w);
        end_block(w);
        const uint32_t consumed = m.status == INFLATE_OK ? consumed_now(w) : before_end;
        put_trailing(w);
        cases.push_back(decode_case(m.name, w, m.capacity, m.status, m.produced, consumed, m.out));
    }
    {
        // Symbol 285 is 258 with no extra bits; 284 with extra 31 is also 258.
        BitWriter w = fixed_with_literals("x");
        put_fixed_litlen(w, 285);
        put_fixed_distance(w, 0);
        put_fixed_litlen(w, 'y');
        put_fixed_litlen(w, 284);
        put_bits(w, 31, 5);
        put_fixed_distance(w, 0);
        put_fixed_litlen(w, 'z');
        end_block(w);
        const std::string out = std::string(259, 'x') + std::string(259, 'y') + "z";
        cases.push_back(stops_here("lengths_285_and_284_plus_31", w, 519, INFLATE_OK, out));
    }
    for (const int symbol : {286, 287}) {
        // Five 9-bit literals put the end of the 8-bit code at a byte end
        // (3 + 45 + 8 = 56 bits): nothing after the code is read.
        const std::string lits = "\xC8\xC9\xCA\xCB\xCC";
        BitWriter w = fixed_with_literals(lits);
        put_fixed_litlen(w, symbol);
        facts().require(bit_length(w) % 8 == 0, "code 286/287 ends at a byte end");
        const uint32_t consumed = consumed_now(w);
        cases.push_back(decode_case("symbol_" + std::to_string(symbol) + "_at_input_end", w, 10,
                                    INFLATE_BAD_SYMBOL, 5, consumed, lits));
        put_fixed_distance(w, 0);
        end_block(w);
        put_trailing(w);
        cases.push_back(decode_case("symbol_" + std::to_string(symbol), w, 10, INFLATE_BAD_SYMBOL,
                                    5, consumed, lits));
    }
    for (const int symbol : {30, 31}) {
        // A fixed distance code without a symbol: 15 bits are examined.
        BitWriter w = fixed_with_literals("a");
        put_fixed_litlen(w, 257);
        const uint64_t start = bit_length(w);
        put_fixed_distance(w, symbol);
        put_zero_bits(w, 10);
        const uint32_t consumed = bytes_for_bits(start + 15);
        facts().require(w.bytes.size() == consumed, "distance 30/31: stream ends with the 15th bit");
        const std::string name = "distance_symbol_" + std::to_string(symbol);
        cases.push_back(decode_case(name + "_at_input_end", w, 10, INFLATE_BAD_SYMBOL, 1, consumed, "a"));
        cases.push_back(cut_inside(name + "_input_ends_inside", w, start, start + 15, 10, "a"));
        put_trailing(w);
        cases.push_back(decode_case(name, w, 10, INFLATE_BAD_SYMBOL, 1, consumed, "a"));
    }
    {
        // A match that exactly fills the room, then a literal.
        BitWriter w = fixed_with_literals("a");
        put_fixed_match(w, 3, 1);
        put_fixed_litlen(w, 'b');
        end_block(w);
        const uint32_t consumed = consumed_now(w);
        put_trailing(w);
        cases.push_back(decode_case("match_fills_room_then_literal", w, 4, INFLATE_OUTPUT_FULL, 4, 0, "aaaa"));
        cases.push_back(decode_case("match_fills_room_then_literal_room_5", w, 5, INFLATE_OK, 5, consumed, "aaaab"));
        // One byte short for the match: nothing of it written.
        cases.push_back(decode_case("match_one_over_room", w, 3, INFLATE_OUTPUT_FULL, 1, 0, "a"));
        cases.push_back(decode_case("literal_with_no_room", w, 0, INFLATE_OUTPUT_FULL, 0, 0, ""));
    }
    {
        // A non-last fixed block whose next header shares its last byte, then
        // a second fixed block using a reference into the first.
        BitWriter w = fixed_with_literals("hello", false);
        end_block(w);
        put_block_header(w, true, 1);
        put_fixed_match(w, 5, 5);
        end_block(w);
        cases.push_back(stops_here("two_fixed_blocks_reference_across", w, 10, INFLATE_OK, "hellohello"));
    }
    {
        // A stored block, then a fixed block reaching back into it.
        BitWriter w;
        put_block_header(w, false, 0);
        put_bytes(w, {0x03, 0x00, 0xFC, 0xFF, 'x', 'y', 'z'});
        put_block_header(w, true, 1);
        put_fixed_match(w, 6, 3);
        end_block(w);
        cases.push_back(stops_here("stored_then_fixed_reference", w, 9, INFLATE_OK, "xyzxyzxyz"));
    }
    {
        // The input ending inside each read of the symbol loop.
        // A literal code: bits 11..18, cut after 2 bytes.
        BitWriter w = fixed_with_literals("a");
        const uint64_t start = bit_length(w);
        put_fixed_litlen(w, 'b');
        cases.push_back(cut_inside("input_ends_in_literal", w, start, bit_length(w), 10, "a"));
    }
    {
        // Length extra bits: 9-bit literal, symbol 284 (8 bits), then 5 extra bits in bits 20..24.
        BitWriter w = fixed_with_literals("\xC8");
        put_fixed_litlen(w, 284);
        const uint64_t start = bit_length(w);
        put_bits(w, 3, 5);
        cases.push_back(cut_inside("input_ends_in_length_extra", w, start, bit_length(w), 10, "\xC8"));
    }
    {
        // Distance code: two 9-bit literals, length symbol 257, code in bits 28..32.
        BitWriter w = fixed_with_literals("\xC8\xC9");
        put_fixed_litlen(w, 257);
        const uint64_t start = bit_length(w);
        put_fixed_distance(w, 1);
        cases.push_back(cut_inside("input_ends_in_distance_code", w, start, bit_length(w), 10, "\xC8\xC9"));
    }
    {
        // Distance extra bits: symbol 29's 13 bits in bits 23..35 (the
        // distance would be too far, but the input ends first).
        BitWriter w = fixed_with_literals("a");
        put_fixed_litlen(w, 257);
        put_fixed_distance(w, 29);
        const uint64_t start = bit_length(w);
        put_bits(w, 0x1FFF, 13);
        cases.push_back(cut_inside("input_ends_in_distance_extra", w, start, bit_length(w), 10, "a"));
    }
    {
        // The input ending inside the end-of-block code, and right before it.
        BitWriter w = fixed_with_literals("\xC8");
        const uint64_t start = bit_length(w);
        end_block(w);
        cases.push_back(cut_inside("input_ends_in_end_of_block", w, start, bit_length(w), 10, "\xC8"));
        BitWriter v = fixed_with_literals("ab");
        facts().require(bit_length(v) == 19, "two literals end at bit 19");
        cases.push_back({"input_ends_before_end_of_block", cut(v, 3), 10, INFLATE_INPUT_EXHAUSTED, 2, 0, "ab"});
    }
    {
        // The input ending inside the next block's header after a non-last block.
        // Four 9-bit literals: the first block ends at bit 46, the header takes bits 46..48.
        BitWriter w = fixed_with_literals("\xC8\xC9\xCA\xCB", false);
        end_block(w);
        facts().require(bit_length(w) == 46, "first block ends at bit 46");
        put_block_header(w, true, 1);
        cases.push_back(cut_inside("input_ends_in_next_header", w, 46, 49, 10, "\xC8\xC9\xCA\xCB"));
    }
    return cases;
}

class FixedBlocks : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FixedBlocks, StatusCountsAndBytes) {
    check_decode_case(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Decoder, FixedBlocks, ::testing::ValuesIn(fixed_cases()), decode_case_name);

TEST(FixedBlocksLayout, HandBuiltStreamsAreLaidOutAsIntended) {
    EXPECT_TRUE(facts().broken.empty()) << ::testing::PrintToString(facts().broken);
}

// The bit writer against a stream from another encoder: zlib's raw deflate of "abc".
TEST(FixedBlocksLayout, BitWriterMatchesZlibBytes) {
    BitWriter w = fixed_with_literals("abc");
    end_block(w);
    EXPECT_EQ(w.bytes, (std::vector<uint8_t>{0x4B, 0x4C, 0x4A, 0x06, 0x00}));
}

// Count-only mode, spelled out: same counts, and still -11 where a reference reaches too far.
TEST(CountOnly, FixedBlockSameCountsAndDistanceTest) {
    BitWriter w = fixed_with_literals("abcde");
    put_fixed_match(w, 4, 5);
    put_fixed_match(w, 3, 10);
    const uint32_t consumed = consumed_now(w);
    end_block(w);
    put_trailing(w);
    for (const bool count_only : {true, false}) {
        SCOPED_TRACE(count_only ? "count-only" : "buffer of 100");
        std::vector<uint8_t> out(100);
        uint32_t out_len = count_only ? 0 : 100;
        uint32_t in_len = static_cast<uint32_t>(w.bytes.size());
        EXPECT_EQ(inflate_raw(count_only ? nullptr : out.data(), &out_len, w.bytes.data(), &in_len),
                  INFLATE_DISTANCE_TOO_FAR);
        EXPECT_EQ(out_len, 9u);
        EXPECT_EQ(in_len, consumed);
    }
}

// A later decode in the same process uses the same fixed code.
TEST(FixedBlocksRepeat, SecondDecodeSameResult) {
    BitWriter w = fixed_with_literals("repeat");
    put_fixed_match(w, 12, 6);
    end_block(w);
    for (int round = 0; round < 3; ++round) {
        std::vector<uint8_t> out(18);
        uint32_t out_len = 18;
        uint32_t in_len = static_cast<uint32_t>(w.bytes.size());
        ASSERT_EQ(inflate_raw(out.data(), &out_len, w.bytes.data(), &in_len), INFLATE_OK);
        EXPECT_EQ(std::string(out.begin(), out.end()), "repeatrepeatrepeat");
    }
}

}  // namespace

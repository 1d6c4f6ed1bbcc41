// Our decoder against zlib's raw inflate on damaged and random streams.
//
// Where both finish, the bytes and the consumed count agree. Where both stop
// on a fault, the bytes written before it agree. Where one finishes and the
// other does not, that is a fault. The two may disagree only on *when* a
// fault shows, in two ways, each checked by extending the input:
//
// - unused_code_at_end (ours: more input needed, zlib: refused). zlib looks
//   codes up in tables and rejects a bit pattern that falls in the unused part
//   of an incomplete code (the fixed distance code's patterns 30 and 31, the
//   other pattern of a single 1-bit distance or literal/length code) as soon
//   as its first bits are in; ours reads up to 15 bits before it gives up. So
//   a stream that ends within those bits is short for us. Extended by any
//   bytes, ours must then refuse with INFLATE_BAD_SYMBOL.
// - refused_before_zlib_reads_on (ours: refused, zlib: more input needed).
//   Ours refuses a repeat (symbol 16) of no previous length before its 2
//   extra bits, zlib after; and ours refuses a code-length code without any
//   code at the first length (15 bits), while zlib reads every length as one
//   bit and refuses once it finds no end-of-block code. So ours must have said
//   INFLATE_REPEAT_WITHOUT_PREVIOUS or INFLATE_BAD_SYMBOL, and zlib, given
//   enough further bytes, must refuse too.
//
// On which codes are acceptable the two agree: an incomplete literal/length
// or distance code only as a single 1-bit code, a distance code without any
// code, and anything after the last block ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bit_writer.h"
#include "inflate.h"
#include "zlib_raw.h"

namespace {

// More than any input below can expand to (a 2000-byte stream of 2-bit
// matches of 258 bytes makes about 2 MB), so neither side runs out of room.
constexpr uint32_t CAPACITY = 4u << 20;

struct OurResult {
    int32_t status;
    uint32_t produced;  // for status 2: 0 (not reported)
    uint32_t consumed;
};

// One buffer per decoder for all cases: touched only as far as written.
std::vector<uint8_t>& our_output() {
    static std::vector<uint8_t> buffer(CAPACITY);
    return buffer;
}

std::vector<uint8_t>& zlib_output() {
    static std::vector<uint8_t> buffer(CAPACITY);
    return buffer;
}

OurResult ours(const std::vector<uint8_t>& input) {
    uint32_t produced = CAPACITY;
    uint32_t consumed = static_cast<uint32_t>(input.size());
    const int32_t status = inflate_raw(our_output().data(), &produced, input.data(), &consumed);
    if (status > 0) {
        return {status, 0, 0};
    }
    return {status, produced, consumed};
}

ZlibResult zlib(const std::vector<uint8_t>& input) {
    return zlib_inflate_raw(input.data(), input.size(), zlib_output().data(), CAPACITY);
}

Outcome outcome_of(int32_t status) {
    if (status == INFLATE_OK) {
        return Outcome::finished;
    }
    if (status == INFLATE_OUTPUT_FULL) {
        return Outcome::output_full;
    }
    return status == INFLATE_INPUT_EXHAUSTED ? Outcome::truncated : Outcome::refused;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (const uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X ", b);
        text += two;
    }
    return text;
}

std::vector<uint8_t> extended(std::vector<uint8_t> input, uint8_t fill, size_t count) {
    input.insert(input.end(), count, fill);
    return input;
}

// Compares the two decoders on one input; returns the name of the rule the
// case fell under ("agree" when the outcomes match), or "" after a failure.
std::string compare(const std::vector<uint8_t>& input) {
    const OurResult our = ours(input);
    const ZlibResult their = zlib(input);
    const Outcome outcome = outcome_of(our.status);
    const std::vector<uint8_t>& out = our_output();

    if (outcome == their.outcome) {
        if (outcome == Outcome::finished) {
            EXPECT_EQ(our.produced, their.produced);
            EXPECT_EQ(our.consumed, their.consumed);
        }
        if (outcome == Outcome::refused) {
            // Both stop at the same element, having written what came before.
            EXPECT_EQ(our.produced, their.produced) << "status " << our.status;
        }
        // Status 2 reports no count, and zlib hands out the part of a stored
        // block that has arrived where ours copies a block only whole.
        if (outcome != Outcome::truncated) {
            const auto theirs = zlib_output().begin();
            const auto their_end = theirs + static_cast<std::ptrdiff_t>(their.produced);
            EXPECT_TRUE(std::equal(theirs, their_end, out.begin())) << "decoded bytes differ";
        }
        return "agree";
    }
    if (outcome == Outcome::truncated && their.outcome == Outcome::refused) {
        for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
            EXPECT_EQ(ours(extended(input, fill, 2)).status, INFLATE_BAD_SYMBOL)
                << "extended by " << int{fill};
        }
        return "unused_code_at_end";
    }
    if (outcome == Outcome::refused && their.outcome == Outcome::truncated) {
        EXPECT_TRUE(our.status == INFLATE_REPEAT_WITHOUT_PREVIOUS ||
                    our.status == INFLATE_BAD_SYMBOL)
            << "status " << our.status;
        for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
            EXPECT_EQ(zlib(extended(input, fill, 64)).outcome, Outcome::refused)
                << "extended by " << int{fill};
        }
        return "refused_before_zlib_reads_on";
    }
    ADD_FAILURE() << "ours: status " << our.status << ", zlib: outcome "
                  << static_cast<int>(their.outcome);
    return "";
}

// Runs every input, names the stream of any failing case, and counts cases
// per rule so that the output shows what was exercised.
void compare_all(const std::vector<std::vector<uint8_t>>& inputs) {
    std::map<std::string, int> rules;
    for (const std::vector<uint8_t>& input : inputs) {
        const std::string rule = compare(input);
        if (::testing::Test::HasFailure()) {
            FAIL() << "stream (" << input.size() << " bytes): " << hex(input);
        }
        rules[rule] += 1;
    }
    for (const auto& [rule, count] : rules) {
        std::printf("  %-30s %d\n", rule.c_str(), count);
    }
}

std::vector<uint8_t> sample_data(std::mt19937& rng, int kind, size_t size) {
    std::vector<uint8_t> data;
    static const char TEXT[] = "the block header names the code of the block, and the code names ";
    while (data.size() < size) {
        if (kind == 0) {
            data.push_back(static_cast<uint8_t>(rng()));
        } else if (kind == 1) {
            data.insert(data.end(), TEXT + rng() % 20, TEXT + sizeof TEXT - 1);
        } else {
            data.insert(data.end(), 1 + rng() % 40, static_cast<uint8_t>(rng() % 3));
        }
    }
    data.resize(size);
    return data;
}

// Valid streams of several shapes: stored, fixed and dynamic blocks, several
// blocks through flushes.
std::vector<std::vector<uint8_t>> valid_streams() {
    std::mt19937 rng(1996);
    std::vector<std::vector<uint8_t>> streams;
    for (int kind = 0; kind < 3; ++kind) {
        for (const size_t size : {size_t{40}, size_t{300}, size_t{1200}}) {
            const std::vector<uint8_t> data = sample_data(rng, kind, size);
            for (const int level : {0, 1, 9}) {
                for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
                    if (level == 0 && strategy != Z_DEFAULT_STRATEGY) {
                        continue;  // level 0 stores whatever the strategy
                    }
                    streams.push_back(zlib_deflate_raw(data, level, strategy));
                }
            }
            streams.push_back(zlib_deflate_raw(data, 6, Z_DEFAULT_STRATEGY, Z_SYNC_FLUSH, 100));
        }
    }
    return streams;
}

TEST(Differential, ValidStreamsAgree) {
    const std::vector<std::vector<uint8_t>> streams = valid_streams();
    for (const std::vector<uint8_t>& stream : streams) {
        EXPECT_EQ(outcome_of(ours(stream).status), Outcome::finished);
    }
    compare_all(streams);
}

// Each valid stream damaged 40 ways: single and multiple bit flips, a byte
// replaced, the stream cut short, a byte dropped.
TEST(Differential, DamagedStreams) {
    std::mt19937 rng(2024);
    std::vector<std::vector<uint8_t>> inputs;
    for (const std::vector<uint8_t>& stream : valid_streams()) {
        const auto at = [&] { return static_cast<size_t>(rng() % stream.size()); };
        for (int i = 0; i < 40; ++i) {
            std::vector<uint8_t> input = stream;
            const int kind = i % 5;
            if (kind <= 1) {
                for (int flips = 0; flips <= kind * 2; ++flips) {
                    input[at()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                }
            } else if (kind == 2) {
                input[at()] = static_cast<uint8_t>(rng());
            } else if (kind == 3) {
                input.resize(at());
            } else {
                input.erase(input.begin() + static_cast<std::ptrdiff_t>(at()));
            }
            inputs.push_back(std::move(input));
        }
    }
    compare_all(inputs);
}

// Short random strings whose first byte is steered half the time to a fixed
// or dynamic block header, so that most get past the block type.
TEST(Differential, RandomStreams) {
    std::mt19937 rng(1950);
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> input(1 + rng() % 48);
        for (uint8_t& b : input) {
            b = static_cast<uint8_t>(rng());
        }
        if (i % 3 != 0) {
            const uint8_t type = i % 3 == 1 ? 0x02 : 0x04;  // bits 1-2: 01 fixed, 10 dynamic
            input[0] = static_cast<uint8_t>((input[0] & 0xF9) | type);
        }
        inputs.push_back(std::move(input));
    }
    compare_all(inputs);
}

// Each rule, pinned by a stream made for it.
struct RuleCase {
    const char* name;
    std::vector<uint8_t> stream;
    int32_t our_status;
    const char* rule;
};

std::vector<RuleCase> rule_cases() {
    std::vector<RuleCase> cases;
    {
        // Fixed block: 'a', length 3, then distance pattern 30, which has no
        // symbol; the input ends one bit later.
        BitWriter w;
        put_block_header(w, true, 1);
        put_fixed_litlen(w, 'a');
        put_fixed_litlen(w, 257);
        put_fixed_distance(w, 30);
        cases.push_back({"fixed_distance_30_at_end", w.bytes, INFLATE_INPUT_EXHAUSTED,
                         "unused_code_at_end"});
    }
    // The dynamic blocks below are last, with 257 literal/length and 1
    // distance lengths.
    {
        // Code-length code 18 -> 0, 16 -> 10, 17 -> 11 (HCLEN 0: the fields
        // for 16, 17, 18, 0); the first length is a repeat (16) at bit 29,
        // and one padding bit is all that follows, short of its 2 extra bits.
        const CanonicalCode cl = canonical_code(lengths_with(19, {{18, 1}, {16, 2}, {17, 2}}));
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl.lengths, 4);
        put_symbol(w, cl, 16);
        cases.push_back({"repeat_first_at_end", w.bytes, INFLATE_REPEAT_WITHOUT_PREVIOUS,
                         "refused_before_zlib_reads_on"});
    }
    {
        // A code-length code without codes, then 3 bytes: ours gives up
        // after 15 bits, zlib wants one bit for each of 258 lengths.
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, std::vector<int>(19, 0), 4);
        put_bits(w, 0, 24);
        cases.push_back({"empty_code_length_code", w.bytes, INFLATE_BAD_SYMBOL,
                         "refused_before_zlib_reads_on"});
    }
    // Code-length code 18 -> 0, 0 -> 10, 1 -> 11 (symbol 1 is the 18th in
    // the stream's order, so 18 lengths are sent).
    const CanonicalCode cl = canonical_code(lengths_with(19, {{18, 1}, {0, 2}, {1, 2}}));
    const auto zeros = [&cl](BitWriter& w, uint32_t count) {  // 11..138 zero lengths
        put_code_length_symbol(w, cl, 18, count - 11);
    };
    {
        // Only the end-of-block symbol has a code, 1 bit long; no distance code.
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl.lengths, 18);
        zeros(w, 138);
        zeros(w, 118);
        put_symbol(w, cl, 1);  // symbol 256
        put_symbol(w, cl, 0);  // the one distance symbol
        put_code(w, 0, 1);     // end of block
        cases.push_back({"single_one_bit_litlen_code", w.bytes, INFLATE_OK, "agree"});
    }
    {
        // 'a' -> 0 and end-of-block -> 1; no distance code; "aa".
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl.lengths, 18);
        zeros(w, 97);
        put_symbol(w, cl, 1);
        zeros(w, 138);
        zeros(w, 20);
        put_symbol(w, cl, 1);
        put_symbol(w, cl, 0);
        put_code(w, 0, 1);
        put_code(w, 0, 1);
        put_code(w, 1, 1);
        cases.push_back({"literals_without_distance_code", w.bytes, INFLATE_OK, "agree"});
    }
    return cases;
}

TEST(Differential, EachRuleOnItsOwnStream) {
    for (const RuleCase& c : rule_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ours(c.stream).status, c.our_status);
        EXPECT_EQ(compare(c.stream), c.rule) << hex(c.stream);
    }
}

}  // namespace

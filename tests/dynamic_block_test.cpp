// Dynamic blocks (RFC 1951, 3.2.7): the code description, every status it can
// produce and the boundaries of each, on streams built field by field.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bit_writer.h"
#include "decode_case.h"
#include "inflate.h"

namespace {

LayoutFacts& facts() {
    static LayoutFacts f;
    return f;
}

// A complete code-length code with all 19 symbols: 0..12 four bits, 13..18 five bits.
std::vector<int> full_cl_lengths() {
    std::vector<int> cl(19, 4);
    for (int s = 13; s < 19; ++s) {
        cl[static_cast<size_t>(s)] = 5;
    }
    return cl;
}
const std::vector<int> FULL = full_cl_lengths();
const CanonicalCode FULL_CODE = canonical_code(FULL);

// Code-length symbols with their extra values: {symbol, extra}.
using ClSequence = std::vector<std::pair<int, uint32_t>>;

void put_cl_sequence(BitWriter& w, const CanonicalCode& cl, const ClSequence& seq) {
    for (const auto& [symbol, extra] : seq) {
        put_code_length_symbol(w, cl, symbol, extra);
    }
}

// The start of a last dynamic block with the full code-length code (HCLEN 15).
BitWriter dynamic_start(int litlen_count, int distance_count) {
    BitWriter w;
    put_dynamic_start(w, true, litlen_count, distance_count, FULL, 19);
    return w;
}

// `body` behind a non-last fixed block of 9-bit literals chosen so that bit
// `mark` of the body ends a byte. The literals are the decode's first output.
struct Aligned {
    BitWriter w;
    std::string output;  // the prefix block's literals
    uint64_t offset;     // bits before the body
};

Aligned align_to_byte_end(const BitWriter& body, uint64_t mark) {
    const int n = static_cast<int>((6u + 8u - mark % 8u) % 8u);
    Aligned a;
    put_block_header(a.w, false, 1);
    for (int i = 0; i < n; ++i) {
        put_fixed_litlen(a.w, 200 + i);
        a.output.push_back(static_cast<char>(200 + i));
    }
    put_fixed_litlen(a.w, 256);
    a.offset = bit_length(a.w);
    append_bits(a.w, body);
    facts().require((a.offset + mark) % 8 == 0, "alignment");
    return a;
}

// `body` behind that prefix, its last bit ending a byte: the decode must stop
// with `status` having consumed the whole input.
DecodeCase ends_at_byte_end(std::string name, const BitWriter& body, int32_t status) {
    const Aligned a = align_to_byte_end(body, bit_length(body));
    return decode_case(std::move(name), a.w, 10, status, static_cast<uint32_t>(a.output.size()),
                       consumed_now(a.w), a.output);
}

DecodeCase cut_inside(std::string name, const BitWriter& w, uint64_t start, uint64_t end,
                      uint32_t capacity, std::string output) {
    return ::cut_inside(facts(), std::move(name), w, start, end, capacity, std::move(output));
}

// Adds a row for a stream that fails with `status` after its last bit so far,
// with trailing input after it that must not be consumed.
void add_failure(std::vector<DecodeCase>& cases, const std::string& name, const BitWriter& w,
                 int32_t status, const std::string& output = "") {
    cases.push_back(stops_here(name, w, 1000, status, output));
}

// The same for a stream that decodes to `output`; its end is the current bit.
void add_success(std::vector<DecodeCase>& cases, const std::string& name, const BitWriter& w,
                 const std::string& output) {
    cases.push_back(stops_here(name, w, static_cast<uint32_t>(output.size()), INFLATE_OK, output));
}

// Literal/length lengths 257 entries: 'a' and end-of-block one bit each;
// written with runs. Leaves the position at 257.
const ClSequence A_AND_EOB = {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {1, 0}};

// Only end-of-block, one bit: 256 zeros in two runs, then 1.
const ClSequence EOB_ONLY = {{18, 127}, {18, 107}, {1, 0}};

std::vector<DecodeCase> dynamic_cases() {
    std::vector<DecodeCase> cases;

    // ---- Counts: HLIT 29 and HDIST 29 are the largest accepted. ----
    {
        // 286 literal/length codes (226 of 8 bits, 60 of 9) and 30 distance
        // codes (2 of 4 bits, 28 of 5), each length written as its own symbol.
        std::vector<int> litlen(286, 8);
        for (size_t s = 226; s < 286; ++s) litlen[s] = 9;
        std::vector<int> dist(30, 5);
        dist[0] = dist[1] = 4;
        BitWriter w;
        const DynamicCodes codes = put_dynamic_header(w, true, litlen, dist);
        put_symbol(w, codes.litlen, 'a');
        put_symbol(w, codes.litlen, 'b');
        put_dynamic_match(w, codes, 258, 2);  // symbol 285 (9 bits), distance symbol 1
        put_symbol(w, codes.litlen, 256);
        std::string out;
        for (int i = 0; i < 130; ++i) out += "ab";
        add_success(cases, "hlit_29_hdist_29_accepted", w, out);
    }
    for (const auto& [litlen, dist] : std::vector<std::pair<int, int>>{
             {287, 1}, {288, 1}, {257, 31}, {257, 32}, {288, 32}, {287, 30}, {286, 31}}) {
        const std::string name = "too_many_codes_" + std::to_string(litlen) + "_" + std::to_string(dist);
        // HCLEN ends at bit 17; it is read before the test (cut to 2 bytes, HCLEN
        // is missing: status 2) ...
        BitWriter w = dynamic_start(litlen, dist);
        cases.push_back({name + "_hclen_missing", cut(w, 2), 10, INFLATE_INPUT_EXHAUSTED, 0, 0, ""});
        put_trailing(w);
        cases.push_back(decode_case(name, w, 10, INFLATE_TOO_MANY_CODES, 0, 3, ""));
        // ... and no code-length length is read after it: with HCLEN ending a
        // byte, the stream may stop there.
        BitWriter body;
        put_dynamic_start(body, true, litlen, dist, FULL, 0);
        facts().require(bit_length(body) == 17, "header of 17 bits");
        cases.push_back(ends_at_byte_end(name + "_stream_ends_after_hclen", body, INFLATE_TOO_MANY_CODES));
    }

    // ---- The code-length code. ----
    {
        // HCLEN 0: four lengths, for 16, 17, 18 and 0, all 2 bits; the other
        // fifteen are 0. Only zeros can be described, so end-of-block has none.
        std::vector<int> cl(19, 0);
        cl[16] = cl[17] = cl[18] = cl[0] = 2;
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl, 4);
        facts().require(bit_length(w) == 29, "HCLEN 0: 4 fields");
        put_cl_sequence(w, canonical_code(cl), {{18, 127}, {18, 108}, {0, 0}});
        add_failure(cases, "hclen_0_four_lengths", w, INFLATE_NO_END_OF_BLOCK);
    }
    {
        // HCLEN 14: 18 fields; symbol 15, the last in the order, gets 0.
        // 0..13 four bits, 14, 16, 17, 18 five bits: complete without 15.
        std::vector<int> cl(19, 4);
        cl[14] = cl[16] = cl[17] = cl[18] = 5;
        cl[15] = 0;
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl, 18);
        const CanonicalCode clc = canonical_code(cl);
        put_cl_sequence(w, clc, A_AND_EOB);
        put_cl_sequence(w, clc, {{0, 0}});
        const CanonicalCode lit = canonical_code(lengths_with(257, {{'a', 1}, {256, 1}}));
        put_symbol(w, lit, 'a');
        put_symbol(w, lit, 'a');
        put_symbol(w, lit, 256);
        add_success(cases, "hclen_14_symbol_15_gets_0", w, "aa");
    }
    {
        // HCLEN 15 and a code-length code of 15 bits lengths? No: lengths are 3
        // bits, at most 7. A code with every length 7 is over-subscribed.
        std::vector<int> cl(19, 7);
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl, 19);
        add_failure(cases, "code_length_code_over_subscribed_all_7", w, INFLATE_BAD_CODE_LENGTH_CODE);
    }
    const std::vector<std::pair<std::string, std::vector<std::pair<int, int>>>> bad_cl = {
        {"one_nonzero_18", {{18, 1}}},
        {"one_nonzero_0", {{0, 1}}},
        {"one_nonzero_15_of_7", {{15, 7}}},
        {"over_subscribed", {{16, 1}, {17, 1}, {18, 1}}},
        {"incomplete_two", {{16, 1}, {17, 2}}},
        {"over_subscribed_by_one", {{0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 3}}},
    };
    for (const auto& [name, set] : bad_cl) {
        std::vector<int> cl(19, 0);
        for (const auto& [symbol, length] : set) cl[static_cast<size_t>(symbol)] = length;
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, cl, 19);
        add_failure(cases, "code_length_code_" + name, w, INFLATE_BAD_CODE_LENGTH_CODE);
        // Nothing is read after the 19 fields: the stream may end there.
        cases.push_back(ends_at_byte_end("code_length_code_" + name + "_stream_ends_there", w,
                                         INFLATE_BAD_CODE_LENGTH_CODE));
    }
    for (const int cl_count : {4, 19}) {
        // Every code-length length 0: passes the build, then the first
        // length examines 15 bits and fails; or the input runs out first.
        BitWriter w;
        put_dynamic_start(w, true, 257, 1, std::vector<int>(19, 0), cl_count);
        const uint64_t start = bit_length(w);
        put_zero_bits(w, 15);
        const uint32_t consumed = consumed_now(w);
        const std::string name = "code_length_code_all_zero_hclen_" + std::to_string(cl_count - 4);
        cases.push_back(decode_case(name + "_at_input_end", w, 10, INFLATE_BAD_SYMBOL, 0, consumed, ""));
        cases.push_back(cut_inside(name + "_input_ends_inside", w, start, start + 15, 10, ""));
        cases.push_back(stops_here(name, w, 10, INFLATE_BAD_SYMBOL, ""));
    }

    // ---- Code-length symbols. ----
    {
        // 16 as the first length: refused before its two extra bits.
        BitWriter w = dynamic_start(257, 1);
        put_symbol(w, FULL_CODE, 16);
        const uint64_t mark = bit_length(w);
        cases.push_back(ends_at_byte_end("repeat_16_first_stream_ends_there", w, INFLATE_REPEAT_WITHOUT_PREVIOUS));
        Aligned a = align_to_byte_end(w, mark);
        put_bits(a.w, 3, 2);
        put_trailing(a.w);
        cases.push_back(decode_case("repeat_16_first", a.w, 10, INFLATE_REPEAT_WITHOUT_PREVIOUS,
                                    static_cast<uint32_t>(a.output.size()), bytes_for_bits(a.offset + mark),
                                    a.output));
    }
    {
        // 17 or 18 as the first length is accepted.
        const CanonicalCode lit = canonical_code(lengths_with(257, {{'a', 1}, {256, 1}}));
        const std::vector<std::pair<std::string, ClSequence>> starts = {
            {"repeat_17_first", {{17, 7}, {18, 76}, {1, 0}, {18, 127}, {17, 7}, {17, 7}, {1, 0}, {0, 0}}},
            {"repeat_18_first", {{18, 86}, {1, 0}, {18, 127}, {17, 7}, {17, 7}, {1, 0}, {0, 0}}},
        };
        for (const auto& [name, seq] : starts) {
            BitWriter w = dynamic_start(257, 1);
            put_cl_sequence(w, FULL_CODE, seq);
            put_symbol(w, lit, 'a');
            put_symbol(w, lit, 256);
            add_success(cases, name, w, "a");
        }
    }
    {
        // Runs against the total (257 + distance count), after 256 zeros and
        // end-of-block 1: exactly to the total, and one entry further.
        struct Run {
            const char* name;
            int distance_count;
            ClSequence tail;
            bool ok;
        };
        const Run runs[] = {
            {"run_17_to_total", 3, {{17, 0}}, true},
            {"run_17_one_past", 3, {{17, 1}}, false},
            {"run_17_longest_to_total", 10, {{17, 7}}, true},
            {"run_17_longest_one_past", 9, {{17, 7}}, false},
            {"run_18_to_total", 30, {{18, 19}}, true},
            {"run_18_one_past", 30, {{18, 20}}, false},
            {"run_18_shortest_to_total", 11, {{18, 0}}, true},
            {"run_18_shortest_one_past", 10, {{18, 0}}, false},
            {"run_18_longest_far_past", 30, {{18, 127}}, false},
            {"run_16_to_total", 4, {{0, 0}, {16, 0}}, true},
            {"run_16_one_past", 4, {{0, 0}, {16, 1}}, false},
            {"run_16_longest_to_total", 7, {{0, 0}, {16, 3}}, true},
            {"run_16_longest_one_past", 6, {{0, 0}, {16, 3}}, false},
            // A lone length after the total would have been the next symbol:
            // the loop ends at the total, so it is read as block data.
        };
        for (const Run& r : runs) {
            BitWriter w = dynamic_start(257, r.distance_count);
            put_cl_sequence(w, FULL_CODE, EOB_ONLY);
            put_cl_sequence(w, FULL_CODE, r.tail);
            if (r.ok) {
                put_bits(w, 0, 1);  // end-of-block, the one 1-bit code
                add_success(cases, r.name, w, "");
            } else {
                add_failure(cases, r.name, w, INFLATE_REPEAT_OVERRUN);
            }
        }
        // Runs past the total while still among the literal/length lengths.
        BitWriter w = dynamic_start(257, 1);
        put_cl_sequence(w, FULL_CODE, {{18, 127}, {18, 127}});
        add_failure(cases, "run_18_past_total_from_litlen", w, INFLATE_REPEAT_OVERRUN);
        // The first fault in the stream is reported: an overrun before a bad 16 can't happen
        // (16 needs a previous length), but an overrun comes before a missing end-of-block.
        BitWriter v = dynamic_start(257, 2);
        put_cl_sequence(v, FULL_CODE, {{18, 127}, {18, 107}, {0, 0}, {17, 0}});
        add_failure(cases, "overrun_before_missing_end_of_block", v, INFLATE_REPEAT_OVERRUN);
    }
    {
        // A run of 18 from the literal/length lengths into the distance
        // lengths: 270 literal/length codes ('a' 1 bit, end-of-block and 257
        // 2 bits), entries 258..269 and distance 0 zero (13 entries in one
        // run), distance 1 one bit.
        BitWriter w = dynamic_start(270, 2);
        put_cl_sequence(w, FULL_CODE,
                        {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {2, 0}, {2, 0}, {18, 2}, {1, 0}});
        DynamicCodes codes{canonical_code(lengths_with(270, {{'a', 1}, {256, 2}, {257, 2}})),
                           canonical_code({0, 1})};
        put_symbol(w, codes.litlen, 'a');
        put_symbol(w, codes.litlen, 'a');
        put_dynamic_match(w, codes, 3, 2);
        put_symbol(w, codes.litlen, 256);
        add_success(cases, "run_18_across_into_distances", w, "aaaaa");
    }
    {
        // 16 at the first distance length repeats the last literal/length
        // length (2): 'a', 'b', end-of-block, 257 two bits each; distances
        // 0..2 from the run, 3 written: four 2-bit codes.
        BitWriter w = dynamic_start(258, 4);
        put_cl_sequence(w, FULL_CODE,
                        {{18, 86}, {2, 0}, {2, 0}, {18, 127}, {18, 8}, {2, 0}, {2, 0}, {16, 0}, {2, 0}});
        DynamicCodes codes{canonical_code(lengths_with(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}})),
                           canonical_code({2, 2, 2, 2})};
        put_symbol(w, codes.litlen, 'a');
        put_symbol(w, codes.litlen, 'b');
        put_dynamic_match(w, codes, 3, 2);
        put_dynamic_match(w, codes, 3, 4);
        put_symbol(w, codes.litlen, 256);
        add_success(cases, "repeat_16_at_first_distance", w, "abababab");
    }
    {
        // A 16 run that starts at the last literal/length entry and ends
        // among the distances: 'a' 1, 'b' 2, end-of-block 3, then 16 x6
        // (257, distances 0..4) and 16 x3 (distances 5..7): eight 3-bit distances.
        BitWriter w = dynamic_start(258, 8);
        put_cl_sequence(w, FULL_CODE,
                        {{18, 86}, {1, 0}, {2, 0}, {18, 127}, {18, 8}, {3, 0}, {16, 3}, {16, 0}});
        DynamicCodes codes{canonical_code(lengths_with(258, {{'a', 1}, {'b', 2}, {256, 3}, {257, 3}})),
                           canonical_code(std::vector<int>(8, 3))};
        put_symbol(w, codes.litlen, 'a');
        put_symbol(w, codes.litlen, 'b');
        put_dynamic_match(w, codes, 3, 2);
        put_symbol(w, codes.litlen, 256);
        add_success(cases, "repeat_16_across_into_distances", w, "ababa");
    }

    // ---- End-of-block, literal/length and distance codes. ----
    {
        // End-of-block without a code, other lengths over-subscribed: -9 first.
        BitWriter w = dynamic_start(257, 3);
        ClSequence seq = {{1, 0}};
        for (int i = 0; i < 42; ++i) seq.push_back({16, 3});
        seq.push_back({16, 0});  // 1 + 252 + 3 = 256 ones
        seq.push_back({0, 0});   // end-of-block
        seq.push_back({1, 0});
        seq.push_back({1, 0});
        seq.push_back({1, 0});  // three 1-bit distances
        put_cl_sequence(w, FULL_CODE, seq);
        add_failure(cases, "no_end_of_block_other_lengths_bad", w, INFLATE_NO_END_OF_BLOCK);
        BitWriter v = dynamic_start(257, 1);
        put_cl_sequence(v, FULL_CODE, {{18, 86}, {1, 0}, {1, 0}, {18, 127}, {18, 8}, {0, 0}, {1, 0}});
        add_failure(cases, "no_end_of_block", v, INFLATE_NO_END_OF_BLOCK);
    }
    {
        // A single 1-bit code, for end-of-block: the block holds nothing else;
        // the other bit pattern examines 15 bits and fails.
        BitWriter w = dynamic_start(257, 1);
        put_cl_sequence(w, FULL_CODE, EOB_ONLY);
        put_cl_sequence(w, FULL_CODE, {{0, 0}});
        BitWriter ok = w;
        put_bits(ok, 0, 1);
        add_success(cases, "single_end_of_block_code", ok, "");
        const uint64_t start = bit_length(w);
        put_bits(w, 1, 1);
        put_zero_bits(w, 14);
        facts().require(bit_length(w) == start + 15, "15 bits");
        add_failure(cases, "single_end_of_block_code_other_pattern", w, INFLATE_BAD_SYMBOL);
    }
    {
        struct Litlen {
            const char* name;
            ClSequence seq;  // 257 entries, then one distance entry of 1
        };
        const Litlen bad[] = {
            // 'a' and end-of-block both 2 bits: incomplete, lengths over 1.
            {"litlen_two_codes_of_2", {{18, 86}, {2, 0}, {18, 127}, {18, 9}, {2, 0}}},
            // End-of-block alone, 2 bits.
            {"litlen_single_code_of_2", {{18, 127}, {18, 107}, {2, 0}}},
            // 'a' 1 bit, end-of-block 2 bits.
            {"litlen_incomplete_1_and_2", {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {2, 0}}},
            // 'a', 'b' and end-of-block 1 bit each.
            {"litlen_over_subscribed", {{18, 86}, {1, 0}, {1, 0}, {18, 127}, {18, 8}, {1, 0}}},
            // 'a' 15 bits, end-of-block 1 bit: incomplete.
            {"litlen_incomplete_with_15", {{18, 86}, {15, 0}, {18, 127}, {18, 9}, {1, 0}}},
        };
        for (const Litlen& l : bad) {
            BitWriter w = dynamic_start(257, 1);
            put_cl_sequence(w, FULL_CODE, l.seq);
            put_cl_sequence(w, FULL_CODE, {{1, 0}});
            add_failure(cases, l.name, w, INFLATE_BAD_LITLEN_CODE);
        }
    }
    {
        // Distance codes after a good literal/length code ('a' 1, end-of-block 2, 257 2).
        struct Dist {
            const char* name;
            int count;
            ClSequence seq;
            int32_t status;
        };
        const Dist dists[] = {
            {"distance_single_code_of_2", 1, {{2, 0}}, INFLATE_BAD_DISTANCE_CODE},
            {"distance_two_codes_of_2", 2, {{2, 0}, {2, 0}}, INFLATE_BAD_DISTANCE_CODE},
            {"distance_over_subscribed", 3, {{1, 0}, {1, 0}, {1, 0}}, INFLATE_BAD_DISTANCE_CODE},
            // Three of 4 bits and 27 of 5: 33/32.
            {"distance_over_subscribed_30", 30, {{4, 0}, {4, 0}, {4, 0}, {5, 0}, {16, 3}, {16, 3}, {16, 3}, {16, 3}, {5, 0}, {5, 0}}, INFLATE_BAD_DISTANCE_CODE},
            // Two of 4 bits and 28 of 5: complete.
            {"distance_complete_30", 30, {{4, 0}, {4, 0}, {5, 0}, {16, 3}, {16, 3}, {16, 3}, {16, 3}, {5, 0}, {5, 0}, {5, 0}}, INFLATE_OK},
        };
        const ClSequence litlen = {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {2, 0}, {2, 0}};
        for (const Dist& d : dists) {
            BitWriter w = dynamic_start(258, d.count);
            put_cl_sequence(w, FULL_CODE, litlen);
            put_cl_sequence(w, FULL_CODE, d.seq);
            if (d.status == INFLATE_OK) {
                put_symbol(w, canonical_code(lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}})), 256);
                add_success(cases, d.name, w, "");
            } else {
                add_failure(cases, d.name, w, d.status);
            }
        }
        // The same over-subscribed distances behind a bad literal/length code: -7.
        BitWriter w = dynamic_start(258, 3);
        put_cl_sequence(w, FULL_CODE, {{18, 86}, {1, 0}, {1, 0}, {18, 127}, {18, 8}, {1, 0}, {1, 0}});
        put_cl_sequence(w, FULL_CODE, {{1, 0}, {1, 0}, {1, 0}});
        add_failure(cases, "litlen_bad_before_distance_bad", w, INFLATE_BAD_LITLEN_CODE);

        // Empty distance code: accepted; literals decode, the first match
        // fails at its distance after 15 bits (or the input runs out).
        const CanonicalCode lit = canonical_code(lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}}));
        for (const int count : {1, 30}) {
            BitWriter v = dynamic_start(258, count);
            put_cl_sequence(v, FULL_CODE, litlen);
            if (count == 1) {
                put_cl_sequence(v, FULL_CODE, {{0, 0}});
            } else {
                put_cl_sequence(v, FULL_CODE, {{18, 19}});
            }
            put_symbol(v, lit, 'a');
            put_symbol(v, lit, 'a');
            const std::string name = "distance_code_empty_" + std::to_string(count);
            BitWriter ok = v;
            put_symbol(ok, lit, 256);
            add_success(cases, name + "_literals_only", ok, "aa");
            put_symbol(v, lit, 257);
            const uint64_t start = bit_length(v);
            put_zero_bits(v, 15);
            cases.push_back(cut_inside(name + "_match_input_ends", v, start, start + 15, 10, "aa"));
            add_failure(cases, name + "_match", v, INFLATE_BAD_SYMBOL, "aa");
        }
        // A single 1-bit distance code: accepted; the other pattern fails after 15 bits.
        BitWriter s = dynamic_start(258, 2);
        put_cl_sequence(s, FULL_CODE, litlen);
        put_cl_sequence(s, FULL_CODE, {{0, 0}, {1, 0}});
        DynamicCodes codes{lit, canonical_code({0, 1})};
        put_symbol(s, lit, 'a');
        put_symbol(s, lit, 'a');
        BitWriter ok = s;
        put_dynamic_match(ok, codes, 3, 2);
        put_symbol(ok, lit, 256);
        add_success(cases, "distance_single_code_of_1", ok, "aaaaa");
        put_symbol(s, lit, 257);
        put_bits(s, 1, 1);
        put_zero_bits(s, 14);
        add_failure(cases, "distance_single_code_of_1_other_pattern", s, INFLATE_BAD_SYMBOL, "aa");
    }
    {
        // A match too far back in a dynamic block, and the first-fault order
        // inside the data: distance test before room.
        BitWriter w = dynamic_start(258, 2);
        put_cl_sequence(w, FULL_CODE, {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {2, 0}, {2, 0}, {1, 0}, {1, 0}});
        DynamicCodes codes{canonical_code(lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}})),
                           canonical_code({1, 1})};
        put_symbol(w, codes.litlen, 'a');
        put_dynamic_match(w, codes, 3, 2);
        add_failure(cases, "dynamic_distance_too_far", w, INFLATE_DISTANCE_TOO_FAR, "a");
    }

    // ---- The input ending inside each read of the description. ----
    {
        BitWriter w;
        const DynamicCodes codes = put_dynamic_header(w, true, lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}}), {1, 1});
        put_symbol(w, codes.litlen, 'a');
        put_dynamic_match(w, codes, 3, 1);
        put_symbol(w, codes.litlen, 256);
        add_success(cases, "plain_header_block", w, "aaaa");
    }
    {
        // HLIT (bits 3..7 of the first byte) can't be cut inside at the
        // stream start; behind an aligned prefix it can.
        BitWriter body = dynamic_start(257, 1);
        Aligned a = align_to_byte_end(body, 4);
        cases.push_back(cut_inside("input_ends_in_hlit", a.w, a.offset + 3, a.offset + 8, 10, a.output));
        Aligned b = align_to_byte_end(body, 9);
        cases.push_back(cut_inside("input_ends_in_hdist", b.w, b.offset + 8, b.offset + 13, 10, b.output));
        cases.push_back(cut_inside("input_ends_in_hclen", body, 13, 17, 10, ""));
        // Code-length length k = 2 takes bits 23..25.
        cases.push_back(cut_inside("input_ends_in_code_length_length", body, 23, 26, 10, ""));
        // The first code-length symbol (18, five bits) at bit 74, behind a prefix.
        BitWriter sym = dynamic_start(257, 1);
        put_symbol(sym, FULL_CODE, 18);
        const uint64_t start = bit_length(sym) - 5;
        put_bits(sym, 127, 7);
        Aligned c = align_to_byte_end(sym, start + 2);
        cases.push_back(cut_inside("input_ends_in_code_length_symbol", c.w, c.offset + start,
                                   c.offset + start + 5, 10, c.output));
        Aligned d = align_to_byte_end(sym, start + 5 + 3);
        cases.push_back(cut_inside("input_ends_in_run_extra_bits", d.w, d.offset + start + 5,
                                   d.offset + start + 12, 10, d.output));
    }
    {
        // Two dynamic blocks: the second refers back into the first, and its
        // header starts mid-byte.
        BitWriter w;
        const DynamicCodes first = put_dynamic_header(w, false, lengths_with(257, {{'x', 1}, {256, 1}}), {0});
        put_symbol(w, first.litlen, 'x');
        put_symbol(w, first.litlen, 256);
        const DynamicCodes second = put_dynamic_header(w, true, lengths_with(258, {{'y', 1}, {256, 2}, {257, 2}}), {1, 1});
        put_symbol(w, second.litlen, 'y');
        put_dynamic_match(w, second, 3, 2);
        put_symbol(w, second.litlen, 256);
        add_success(cases, "two_dynamic_blocks", w, "xyxyx");
    }
    return cases;
}

class DynamicBlocks : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DynamicBlocks, StatusCountsAndBytes) {
    check_decode_case(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Decoder, DynamicBlocks, ::testing::ValuesIn(dynamic_cases()), decode_case_name);

TEST(DynamicBlocksLayout, HandBuiltStreamsAreLaidOutAsIntended) {
    EXPECT_TRUE(facts().broken.empty()) << ::testing::PrintToString(facts().broken);
}

}  // namespace

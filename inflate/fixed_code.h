// The fixed literal/length and distance codes, as canonical tables.
#ifndef TAVRIMOX_FIXED_CODE_H
#define TAVRIMOX_FIXED_CODE_H

#include "huffman.h"

struct FixedCode {
    int16_t litlen_counts[MAX_CODE_BITS + 1];
    int16_t litlen_symbols[FIXED_LITLEN_CODES];
    int16_t distance_counts[MAX_CODE_BITS + 1];
    int16_t distance_symbols[MAX_DIST_CODES];
};

// Literal/length lengths: 0-143 -> 8, 144-255 -> 9, 256-279 -> 7, 280-287 -> 8
// (complete); 30 distance codes of 5 bits (incomplete: the last two 5-bit
// patterns have no symbol and decode as INFLATE_BAD_SYMBOL).
constexpr FixedCode make_fixed_code() {
    FixedCode code{};
    int16_t lengths[FIXED_LITLEN_CODES] = {};
    for (int32_t s = 0; s < FIXED_LITLEN_CODES; ++s) {
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    }
    HuffmanTable litlen = {code.litlen_counts, code.litlen_symbols};
    build_huffman_table(litlen, lengths, FIXED_LITLEN_CODES);
    for (int32_t s = 0; s < MAX_DIST_CODES; ++s) {
        lengths[s] = 5;
    }
    HuffmanTable distance = {code.distance_counts, code.distance_symbols};
    build_huffman_table(distance, lengths, MAX_DIST_CODES);
    return code;
}

extern HuffmanTable fixed_litlen_table;
extern HuffmanTable fixed_distance_table;

#endif

// Canonical Huffman tables: built from code lengths, read one bit at a time.
#ifndef TAVRIMOX_HUFFMAN_H
#define TAVRIMOX_HUFFMAN_H

#include <cstdint>

#include "inflate_state.h"

// The code is fixed by the lengths alone (RFC 1951, 3.2.2): codes of one
// length are consecutive and ordered like their symbols, shorter codes first.
// Both arrays belong to the table's creator.
struct HuffmanTable {
    int16_t* length_counts;  // [16]: entry L = codes of L bits; entry 0 = symbols without a code
    int16_t* symbols;        // symbols in code order: by length, then by value
};

// Fills `table` from lengths[0 .. n), each 0..15. Returns 0 for a complete
// code or one without any code (symbols untouched), the number of free 15-bit
// patterns for an incomplete code, or a negative shortfall for an
// over-subscribed one (symbols untouched; the table must not be used).
// Examples: (1, 1) -> 0; (1) -> 16384; (2, 2, 2) -> 8192; (1, 1, 1) -> -1.
constexpr int32_t build_huffman_table(HuffmanTable& table, const int16_t* lengths, int32_t n) {
    for (int32_t len = 0; len <= MAX_CODE_BITS; ++len) {
        table.length_counts[len] = 0;
    }
    for (int32_t s = 0; s < n; ++s) {
        table.length_counts[lengths[s]] = static_cast<int16_t>(table.length_counts[lengths[s]] + 1);
    }
    if (table.length_counts[0] == n) {
        return 0;
    }
    // free starts as the one code of length 0 and, after length L, counts the
    // codes of L bits still unassigned; it peaks at 32768 before length 15.
    int32_t free = 1;
    for (int32_t len = 1; len <= MAX_CODE_BITS; ++len) {
        free = free * 2 - table.length_counts[len];
        if (free < 0) {
            return free;
        }
    }
    int16_t offsets[MAX_CODE_BITS + 1] = {};
    for (int32_t len = 1; len < MAX_CODE_BITS; ++len) {
        offsets[len + 1] = static_cast<int16_t>(offsets[len] + table.length_counts[len]);
    }
    for (int32_t s = 0; s < n; ++s) {
        if (lengths[s] != 0) {
            table.symbols[offsets[lengths[s]]] = static_cast<int16_t>(s);
            offsets[lengths[s]] = static_cast<int16_t>(offsets[lengths[s]] + 1);
        }
    }
    return free;
}

// Reads one symbol, the first bit read being the code's most significant bit.
// Returns the symbol, or INFLATE_BAD_SYMBOL once 15 bits match no code (tested
// before any fetch, so a failed code at the end of the input is -10, not an
// overrun); leaves through overrun_escape when a needed byte is missing.
int32_t decode_symbol(InflateState& state, const HuffmanTable& table);

#endif

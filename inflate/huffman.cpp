#include "huffman.h"

// Worked example: lengths (3, 3, 3, 3, 3, 2, 4, 4) give counts[2..4] = 1, 5, 2
// and symbols 5, 0, 1, 2, 3, 4, 6, 7. Byte 02 = bits 0, 1, 0, ... read low
// first: code 0 (len 1: first 0, count 0, no), 01 (len 2: first 0, count 1,
// no), 010 (len 3: first 2, count 5, yes) -> symbols[1 + 2 - 2] = 0, with 5
// bits left pending.
int32_t decode_symbol(InflateState& state, const HuffmanTable& table) {
    int32_t bits = state.bit_buffer;
    int32_t left = state.bit_count;
    int32_t code = 0;
    int32_t first = 0;  // first code of length len; reaches 65536 after 15 bits
    int32_t index = 0;  // position in symbols of the first symbol of length len
    int32_t len = 1;
    for (;;) {
        while (left > 0) {
            left -= 1;
            code |= bits & 1;
            bits >>= 1;
            const int32_t count = table.length_counts[len];
            if (code - count < first) {
                state.bit_buffer = bits;
                // Entry bits plus 8 per fetched byte, minus len, taken mod 8:
                // the bits of the last byte the code did not use.
                state.bit_count = (state.bit_count - len) & 7;
                return table.symbols[index + code - first];
            }
            index += count;
            first = (first + count) * 2;
            code *= 2;
            len += 1;
        }
        const int32_t may_read = 16 - len;
        if (may_read == 0) {
            return INFLATE_BAD_SYMBOL;
        }
        if (state.input_count == state.input_length) {
            leave_on_overrun(state);
        }
        bits = state.input[state.input_count];
        state.input_count += 1;
        left = may_read < 8 ? may_read : 8;
    }
}

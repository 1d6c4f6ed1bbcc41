// The table-driven decode of a dynamic block's code lengths.
#include "fast_path.h"
#include "word_reader.h"

int32_t decode_code_lengths_fast(InflateState& state, const HuffmanTable& code,
                                 int16_t* lengths, int32_t position, int32_t total) {
    if (state.input_length - state.input_count < FAST_INPUT_MARGIN) {
        return position;
    }
    FastCodeLengthTable table;
    build_fast_code_lengths(table, code);

    // A refill leaves enough bits for a symbol and its extra bits (7 + 7).
    const uint8_t* const input_end = state.input + (state.input_length - FAST_INPUT_MARGIN);
    const uint8_t* in = state.input + state.input_count;
    uint64_t bit_buffer = static_cast<uint32_t>(state.bit_buffer);
    uint32_t bit_count = static_cast<uint32_t>(state.bit_count);
    while (position < total && in <= input_end) {
        refill_bits(in, bit_buffer, bit_count);
        const uint32_t entry = table.entries[bit_buffer & 127];
        if (entry & FAST_SPECIAL_FLAG) {
            break;  // no code: the exact decode reports it
        }
        const uint32_t symbol = entry >> 16;
        const uint32_t len = entry & 0xFF;
        if (symbol < 16) {
            lengths[position++] = static_cast<int16_t>(symbol);
            bit_buffer >>= len;
            bit_count -= len;
            continue;
        }
        // 16: 3..6 copies of the previous length; 17: 3..10 zeros; 18: 11..138 zeros.
        const uint32_t extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        const int32_t run = (symbol == 18 ? 11 : 3) +
                            static_cast<int32_t>((bit_buffer >> len) & ((1u << extra) - 1));
        if ((symbol == 16 && position == 0) || run > total - position) {
            break;  // a repeat the exact decode refuses
        }
        const int16_t value = symbol == 16 ? lengths[position - 1] : int16_t{0};
        for (const int32_t end = position + run; position < end; ++position) {
            lengths[position] = value;
        }
        bit_buffer >>= len + extra;
        bit_count -= len + extra;
    }
    put_back_bits(state, in, bit_buffer, bit_count);
    return position;
}

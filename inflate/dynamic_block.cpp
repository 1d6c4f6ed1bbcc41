// Block type 2: the block describes its own codes (RFC 1951, 3.2.7).
#include "block_data.h"
#include "fast_path.h"

namespace {

// Entry k names the code-length symbol whose length is the k-th 3-bit field.
constexpr int16_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                           11, 4, 12, 3, 13, 2, 14, 1, 15};

// An incomplete code passes only as a single code of length 1: every length
// is then 0 or 1.
bool single_one_bit_code(const HuffmanTable& table, int32_t count) {
    return table.length_counts[0] + table.length_counts[1] == count;
}

}  // namespace

int32_t inflate_dynamic_block(InflateState& state) {
    int16_t lengths[MAX_LITLEN_CODES + MAX_DIST_CODES];
    int16_t litlen_counts[MAX_CODE_BITS + 1];
    int16_t litlen_symbols[MAX_LITLEN_CODES];
    int16_t distance_counts[MAX_CODE_BITS + 1];
    int16_t distance_symbols[MAX_DIST_CODES];
    HuffmanTable litlen = {litlen_counts, litlen_symbols};
    HuffmanTable distance = {distance_counts, distance_symbols};

    const int32_t litlen_count = static_cast<int32_t>(read_bits(state, 5)) + 257;
    const int32_t distance_count = static_cast<int32_t>(read_bits(state, 5)) + 1;
    const int32_t code_length_count = static_cast<int32_t>(read_bits(state, 4)) + 4;
    if (litlen_count > MAX_LITLEN_CODES || distance_count > MAX_DIST_CODES) {
        return INFLATE_TOO_MANY_CODES;
    }

    for (int32_t k = 0; k < 19; ++k) {
        lengths[CODE_LENGTH_ORDER[k]] =
            k < code_length_count ? static_cast<int16_t>(read_bits(state, 3)) : int16_t{0};
    }
    // The code-length code is built into the literal/length table's storage.
    if (build_huffman_table(litlen, lengths, 19) != 0) {
        return INFLATE_BAD_CODE_LENGTH_CODE;
    }

    // One sequence: a run may cross from literal/length into distance lengths.
    const int32_t total = litlen_count + distance_count;
    int32_t position = 0;
    if (state.fast_loops != nullptr) {
        position = decode_code_lengths_fast(state, litlen, lengths, position, total);
    }
    while (position < total) {
        const int32_t symbol = decode_symbol(state, litlen);
        if (symbol < 0) {
            return symbol;
        }
        if (symbol < 16) {
            lengths[position] = static_cast<int16_t>(symbol);
            position += 1;
            continue;
        }
        int16_t value = 0;
        int32_t run = 0;
        if (symbol == 16) {
            if (position == 0) {
                return INFLATE_REPEAT_WITHOUT_PREVIOUS;  // before its extra bits
            }
            value = lengths[position - 1];
            run = 3 + static_cast<int32_t>(read_bits(state, 2));
        } else if (symbol == 17) {
            run = 3 + static_cast<int32_t>(read_bits(state, 3));
        } else {
            run = 11 + static_cast<int32_t>(read_bits(state, 7));
        }
        if (run > total - position) {
            return INFLATE_REPEAT_OVERRUN;
        }
        for (int32_t end = position + run; position < end; ++position) {
            lengths[position] = value;
        }
    }

    if (lengths[256] == 0) {
        return INFLATE_NO_END_OF_BLOCK;
    }
    const int32_t litlen_result = build_huffman_table(litlen, lengths, litlen_count);
    if (litlen_result < 0 ||
        (litlen_result > 0 && !single_one_bit_code(litlen, litlen_count))) {
        return INFLATE_BAD_LITLEN_CODE;
    }
    const int32_t distance_result =
        build_huffman_table(distance, lengths + litlen_count, distance_count);
    if (distance_result < 0 ||
        (distance_result > 0 && !single_one_bit_code(distance, distance_count))) {
        return INFLATE_BAD_DISTANCE_CODE;
    }
    if (state.fast_loops == nullptr) {
        return decode_block_data(state, litlen, distance, nullptr);
    }
    FastCode fast;
    build_fast_code(fast, litlen, distance);
    return decode_block_data(state, litlen, distance, &fast);
}

#include "block_data.h"

#include <cstdint>

#include "fast_path.h"

namespace {

constexpr int32_t END_OF_BLOCK = 256;

// Stores one literal, or counts it. Count-only mode stops where the count
// would pass 2^32 - 1 rather than wrap.
inline int32_t put_literal(InflateState& state, int32_t symbol) {
    if (state.output != nullptr) {
        if (state.output_count == state.output_capacity) {
            return INFLATE_OUTPUT_FULL;
        }
        state.output[state.output_count] = static_cast<uint8_t>(symbol);
    } else if (state.output_count == UINT32_MAX) {
        return INFLATE_OUTPUT_FULL;
    }
    state.output_count += 1;
    return INFLATE_OK;
}

// Copies lowest position first, so an overlapping match (distance < length)
// repeats its last `distance` bytes. The distance was checked against output_count.
inline int32_t put_match(InflateState& state, uint32_t length, uint32_t distance) {
    if (state.output != nullptr) {
        if (length > state.output_capacity - state.output_count) {
            return INFLATE_OUTPUT_FULL;
        }
        uint8_t* out = state.output + state.output_count;
        const uint8_t* from = out - distance;
        for (uint32_t i = 0; i < length; ++i) {
            out[i] = from[i];
        }
    } else if (length > UINT32_MAX - state.output_count) {
        return INFLATE_OUTPUT_FULL;
    }
    state.output_count += length;
    return INFLATE_OK;
}

}  // namespace

int32_t decode_block_data(InflateState& state, const HuffmanTable& litlen,
                          const HuffmanTable& distance, const FastCode* fast) {
    for (;;) {
        if (fast != nullptr && decode_fast(state, *fast) != 0) {
            return INFLATE_OK;
        }
        const int32_t symbol = decode_symbol(state, litlen);
        if (symbol < 0) {
            return symbol;
        }
        if (symbol < END_OF_BLOCK) {
            const int32_t status = put_literal(state, symbol);
            if (status != INFLATE_OK) {
                return status;
            }
            continue;
        }
        if (symbol == END_OF_BLOCK) {
            return INFLATE_OK;
        }
        const int32_t i = symbol - 257;
        if (i > 28) {
            return INFLATE_BAD_SYMBOL;  // 286 and 287 have fixed codes but no meaning
        }
        const uint32_t length =
            static_cast<uint32_t>(LENGTH_BASE[i]) + read_bits(state, LENGTH_EXTRA[i]);
        const int32_t d = decode_symbol(state, distance);
        if (d < 0) {
            return d;
        }
        const uint32_t dist =
            static_cast<uint32_t>(DISTANCE_BASE[d]) + read_bits(state, DISTANCE_EXTRA[d]);
        // Tested before room, and in count-only mode too.
        if (dist > state.output_count) {
            return INFLATE_DISTANCE_TOO_FAR;
        }
        const int32_t status = put_match(state, length, dist);
        if (status != INFLATE_OK) {
            return status;
        }
    }
}

// Table-driven decoding of a Huffman block's body while input and output
// room are plentiful. The bit-by-bit decode in block_data.cpp stays the
// definition of every result: this path takes only the elements it can finish
// and hands back before anything else, with the state exactly as the exact
// decode would have it, so both give the same statuses, counts and bytes.
#ifndef TAVRIMOX_FAST_PATH_H
#define TAVRIMOX_FAST_PATH_H

#include <cstdint>

#include "deflate_tables.h"
#include "fast_table.h"
#include "inflate_internal.h"
#include "inflate_state.h"

// The longest match, plus the 32 bytes past it that a match copy may read
// and write (and puts back); a refill's 8 input bytes.
inline constexpr uint32_t FAST_INPUT_MARGIN = 8;
inline constexpr uint32_t FAST_OUTPUT_MARGIN = 258 + 32;

// One loop (a word width on one instruction set), in two forms: one that
// tests each distance against the output's start and hands back once the
// output reaches MAX_DISTANCE, and one that tests none, for the output past
// that. Each returns as decode_fast does, and needs its margins.
using FastLoopFunction = int32_t (*)(InflateState& state, const FastCode& fast);
struct FastLoops {
    FastLoopFunction checked;
    FastLoopFunction unchecked;
};

// The loops `options` asks for, or nullptr for the exact decode alone. The
// processor's features are tested once per process, on first use.
const FastLoops* fast_loops_for(const DecodeOptions& options);

// Decodes literals and matches with the state's loops while at least
// FAST_INPUT_MARGIN input bytes and FAST_OUTPUT_MARGIN bytes of room remain.
// Returns 1 when it consumed the block's end-of-block symbol, 0 when it
// handed back (at once where the margins are not there); either way the
// state satisfies every invariant of InflateState, and the buffer past
// output_count is as the caller left it.
inline int32_t decode_fast(InflateState& state, const FastCode& fast) {
    // Checked here: the loop's limits cannot wrap, and its first refill has
    // its 8 input bytes.
    const bool room = state.output == nullptr
                          ? state.output_count <= UINT32_MAX - FAST_OUTPUT_MARGIN
                          : state.output_capacity - state.output_count >= FAST_OUTPUT_MARGIN;
    if (!room || state.input_length - state.input_count < FAST_INPUT_MARGIN) {
        return 0;
    }
    return state.output_count < MAX_DISTANCE ? state.fast_loops->checked(state, fast)
                                            : state.fast_loops->unchecked(state, fast);
}

// Decodes a dynamic block's code lengths, from lengths[position] up to
// lengths[total], with a lookup table for the code-length code `code`, while
// FAST_INPUT_MARGIN input bytes remain. Stops before a symbol with no code or
// a repeat the exact decode refuses, with the state as decode_symbol and
// read_bits would leave it. Returns the position reached.
int32_t decode_code_lengths_fast(InflateState& state, const HuffmanTable& code,
                                 int16_t* lengths, int32_t position, int32_t total);

#endif

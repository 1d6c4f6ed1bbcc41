// The decoder's per-call state and its bit input.
#ifndef TAVRIMOX_INFLATE_STATE_H
#define TAVRIMOX_INFLATE_STATE_H

#include <csetjmp>
#include <cstdint>

#include "inflate.h"

struct FastLoops;

inline constexpr int32_t MAX_CODE_BITS = 15;
inline constexpr int32_t MAX_LITLEN_CODES = 286;
inline constexpr int32_t MAX_DIST_CODES = 30;
inline constexpr int32_t FIXED_LITLEN_CODES = 288;

// Invariants between any two decoder operations:
// - 0 <= bit_count <= 7 and bit_buffer holds exactly bit_count bits, every
//   higher bit zero: the unread high bits of input[input_count - 1].
// - input_count <= input_length; with output present, output_count <= output_capacity.
// So the bits consumed so far are always 8 * input_count - bit_count, except
// right after a stored block, whose header drops the pending bits.
struct InflateState {
    uint8_t* output;  // nullptr: count-only mode
    uint32_t output_capacity;
    uint32_t output_count;
    const uint8_t* input;
    uint32_t input_length;
    uint32_t input_count;
    int32_t bit_buffer;
    int32_t bit_count;
    const FastLoops* fast_loops;  // the table-driven loops; nullptr: the exact decode alone
    std::jmp_buf overrun_escape;  // where a read past the input's end lands
};

// Leaves the whole decode; inflate_raw then returns INFLATE_INPUT_EXHAUSTED.
// No decoder frame holds anything that needs releasing, so this may cross any of them.
[[noreturn]] inline void leave_on_overrun(InflateState& state) {
    std::longjmp(state.overrun_escape, 1);
}

// Returns the next `need` (0..13) bits, first-read bit lowest. Fetches a byte
// only while fewer than `need` bits are at hand, so the working value never
// holds more than need + 7 <= 20 bits.
inline uint32_t read_bits(InflateState& state, int32_t need) {
    int32_t bits = state.bit_buffer;
    while (state.bit_count < need) {
        if (state.input_count == state.input_length) {
            leave_on_overrun(state);
        }
        bits |= static_cast<int32_t>(state.input[state.input_count]) << state.bit_count;
        state.input_count += 1;
        state.bit_count += 8;
    }
    state.bit_buffer = bits >> need;
    state.bit_count -= need;
    return static_cast<uint32_t>(bits) & ((1u << need) - 1u);
}

int32_t inflate_stored_block(InflateState& state);
int32_t inflate_fixed_block(InflateState& state);
int32_t inflate_dynamic_block(InflateState& state);

#endif

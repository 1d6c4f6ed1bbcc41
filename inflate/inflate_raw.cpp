// The decoder entry and stored blocks.
#include <csetjmp>
#include <cstring>

#include "fast_path.h"
#include "inflate_internal.h"
#include "inflate_state.h"

namespace {

// A stored block's header, after the dropped bits: LEN (2 bytes, low first),
// then NLEN, its one's complement. Example: 01 03 00 FC FF 61 62 63 is a last
// stored block (bits 1, 00) of LEN 3 holding "abc".
constexpr uint32_t STORED_HEADER_BYTES = 4;

}  // namespace

int32_t inflate_stored_block(InflateState& state) {
    state.bit_buffer = 0;
    state.bit_count = 0;
    if (STORED_HEADER_BYTES > state.input_length - state.input_count) {
        return INFLATE_INPUT_EXHAUSTED;
    }
    const uint8_t* header = state.input + state.input_count;
    const uint32_t len = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8;
    state.input_count += 3;
    if (header[2] != static_cast<uint8_t>(~header[0])) {
        return INFLATE_STORED_LENGTH_MISMATCH;
    }
    state.input_count += 1;
    if (header[3] != static_cast<uint8_t>(~header[1])) {
        return INFLATE_STORED_LENGTH_MISMATCH;
    }
    if (len > state.input_length - state.input_count) {
        return INFLATE_INPUT_EXHAUSTED;
    }
    if (state.output != nullptr) {
        if (len > state.output_capacity - state.output_count) {
            return INFLATE_OUTPUT_FULL;
        }
        // len may be 0 with output_count == capacity; memcpy of 0 bytes is fine
        // on any valid pointer, and output is never null here.
        std::memcpy(state.output + state.output_count, state.input + state.input_count, len);
    } else if (len > UINT32_MAX - state.output_count) {
        return INFLATE_OUTPUT_FULL;  // the count itself would wrap
    }
    state.output_count += len;
    state.input_count += len;
    return INFLATE_OK;
}

namespace {

// Kept apart from inflate_raw so that no local of the frame that calls setjmp
// is modified between setjmp and longjmp.
int32_t decode_blocks(InflateState& state) {
    for (;;) {
        const uint32_t last = read_bits(state, 1);
        int32_t status = INFLATE_BAD_BLOCK_TYPE;
        switch (read_bits(state, 2)) {
            case 0: status = inflate_stored_block(state); break;
            case 1: status = inflate_fixed_block(state); break;
            case 2: status = inflate_dynamic_block(state); break;
            default: break;
        }
        if (status != INFLATE_OK || last != 0) {
            return status;
        }
    }
}

}  // namespace

int32_t inflate_raw_with(uint8_t* output, uint32_t* output_length, const uint8_t* input,
                         uint32_t* input_length, const DecodeOptions& options) {
    InflateState state;
    state.output = output;
    state.output_capacity = *output_length;
    state.output_count = 0;
    state.input = input;
    state.input_length = *input_length;
    state.input_count = 0;
    state.bit_buffer = 0;
    state.bit_count = 0;
    state.fast_loops = fast_loops_for(options);
    if (setjmp(state.overrun_escape) != 0) {
        return INFLATE_INPUT_EXHAUSTED;
    }
    const int32_t status = decode_blocks(state);
    if (status <= 0) {
        *output_length = state.output_count;
        *input_length = state.input_count;
    }
    return status;
}

int32_t inflate_raw(uint8_t* output, uint32_t* output_length, const uint8_t* input,
                    uint32_t* input_length) {
    static constexpr DecodeOptions DEFAULTS{};
    return inflate_raw_with(output, output_length, input, input_length, DEFAULTS);
}

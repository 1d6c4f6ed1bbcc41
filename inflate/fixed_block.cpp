// Block type 1: the fixed code of RFC 1951, 3.2.6.
#include "block_data.h"
#include "fast_path.h"
#include "fixed_code.h"

// Built by the compiler, so no first-use flag and no race between threads.
constinit FixedCode fixed_code = make_fixed_code();
constinit HuffmanTable fixed_litlen_table = {fixed_code.litlen_counts, fixed_code.litlen_symbols};
constinit HuffmanTable fixed_distance_table = {fixed_code.distance_counts,
                                               fixed_code.distance_symbols};

int32_t inflate_fixed_block(InflateState& state) {
    return decode_block_data(state, fixed_litlen_table, fixed_distance_table,
                             state.fast_loops != nullptr ? &fixed_fast_code : nullptr);
}

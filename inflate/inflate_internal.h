// The decoder's internal entry: inflate_raw with the path chosen by the
// caller. For the tests, fuzz targets and benchmark, which compare the exact
// decode with each table-driven loop on the same streams; every choice gives
// the same statuses, counts and bytes. Nothing here is process-wide, so
// decodes with different choices may run on several threads at once.
#ifndef TAVRIMOX_INFLATE_INTERNAL_H
#define TAVRIMOX_INFLATE_INTERNAL_H

#include <cstdint>

#include "inflate.h"

// The loop is compiled for any processor and, on x86, for BMI2 and (on 32-bit
// x86, whose baseline lacks it) for SSE2 alone. Ordered: a choice allows
// itself and the loops before it.
enum FastLoop : uint32_t { FAST_LOOP_PORTABLE, FAST_LOOP_SSE2, FAST_LOOP_BMI2 };

// The loop keeps its bit buffer in a 64-bit word, or in a 32-bit one where
// registers are 32 bits wide; either runs on any processor.
inline constexpr uint32_t FAST_DEFAULT_READER_BITS = sizeof(void*) >= 8 ? 64 : 32;

struct DecodeOptions {
    bool fast = true;  // false: the exact bit-by-bit decode alone
    uint32_t reader_bits = FAST_DEFAULT_READER_BITS;  // 32, else 64
    // The best loop allowed: the best one this build and processor have, up to this.
    FastLoop best_loop = FAST_LOOP_BMI2;
};

// inflate_raw is this with DecodeOptions{}.
int32_t inflate_raw_with(uint8_t* output, uint32_t* output_length, const uint8_t* input,
                         uint32_t* input_length, const DecodeOptions& options);

// Whether this build has `loop` and this processor can run it.
bool fast_loop_available(FastLoop loop);

#endif

// The loop instantiated for each word and instruction set, and the choice
// among them: the processor's features are tested once per process.
#include <algorithm>

#include "fast_loop.h"

namespace {

template <typename Bits, FastLoop TARGET, bool CHECK_DISTANCE>
FAST_LOOP_INLINE int32_t fast_loop_either_mode(InflateState& state, const FastCode& fast) {
    return state.output == nullptr ? fast_loop<Bits, TARGET, true, CHECK_DISTANCE>(state, fast)
                                   : fast_loop<Bits, TARGET, false, CHECK_DISTANCE>(state, fast);
}

// Each loop a function of its own, so that adding one leaves the others'
// code as it was, and each starts on a 4 KiB boundary: a loop is smaller
// than that, so none straddles a page, where it ran slower, and its speed
// does not move with the size of the code linked before it.
template <typename Bits, bool CHECK_DISTANCE>
[[gnu::aligned(4096)]] int32_t portable_loop(InflateState& state, const FastCode& fast) {
    return fast_loop_either_mode<Bits, FAST_LOOP_PORTABLE, CHECK_DISTANCE>(state, fast);
}

#if HAS_BMI2_LOOP
template <typename Bits, bool CHECK_DISTANCE>
[[BMI2_LOOP_TARGET, gnu::aligned(4096)]] int32_t bmi2_loop(InflateState& state, const FastCode& fast) {
    return fast_loop_either_mode<Bits, FAST_LOOP_BMI2, CHECK_DISTANCE>(state, fast);
}
#endif

#if HAS_SSE2_LOOP
template <typename Bits, bool CHECK_DISTANCE>
[[SSE2_LOOP_TARGET, gnu::aligned(4096)]] int32_t sse2_loop(InflateState& state, const FastCode& fast) {
    return fast_loop_either_mode<Bits, FAST_LOOP_SSE2, CHECK_DISTANCE>(state, fast);
}

// The SSE2 and BMI2 loops may keep 16-byte values on the stack, which 32-bit
// Windows aligns to 4 bytes only. A loop that realigned its own stack would
// give up a register (of seven) to the frame pointer for it, so each is
// entered through this, which realigns once per call.
template <FastLoopFunction LOOP>
[[gnu::force_align_arg_pointer, gnu::noinline]]
int32_t realigned(InflateState& state, const FastCode& fast) {
    return LOOP(state, fast);
}
#define SSE_LOOP_ENTRY(loop) realigned<loop>
#else
#define SSE_LOOP_ENTRY(loop) loop
#endif

// A loop this build lacks is the best one below it.
template <typename Bits>
constexpr FastLoops loops_of([[maybe_unused]] FastLoop loop) {
#if HAS_BMI2_LOOP
    if (loop == FAST_LOOP_BMI2) {
        return {SSE_LOOP_ENTRY((bmi2_loop<Bits, true>)), SSE_LOOP_ENTRY((bmi2_loop<Bits, false>))};
    }
#endif
#if HAS_SSE2_LOOP
    if (loop == FAST_LOOP_SSE2) {
        return {SSE_LOOP_ENTRY((sse2_loop<Bits, true>)), SSE_LOOP_ENTRY((sse2_loop<Bits, false>))};
    }
#endif
    return {portable_loop<Bits, true>, portable_loop<Bits, false>};
}

// Indexed by [32-bit reader][loop].
struct LoopTable {
    FastLoops of[2][3];
};
constexpr LoopTable make_loop_table() {
    LoopTable table{};
    for (const FastLoop loop : {FAST_LOOP_PORTABLE, FAST_LOOP_SSE2, FAST_LOOP_BMI2}) {
        table.of[0][loop] = loops_of<uint64_t>(loop);
        table.of[1][loop] = loops_of<uint32_t>(loop);
    }
    return table;
}
constinit const LoopTable LOOP_TABLE = make_loop_table();

// The best loop this processor can run, tested once: a function-local
// static is initialised by one thread while any others wait.
FastLoop best_loop_here() {
    static const FastLoop best = [] {
        for (const FastLoop loop : {FAST_LOOP_BMI2, FAST_LOOP_SSE2}) {
            if (fast_loop_available(loop)) {
                return loop;
            }
        }
        return FAST_LOOP_PORTABLE;
    }();
    return best;
}

}  // namespace

const FastLoops* fast_loops_for(const DecodeOptions& options) {
    if (!options.fast) {
        return nullptr;
    }
    const FastLoop loop = std::min(options.best_loop, best_loop_here());
    return &LOOP_TABLE.of[options.reader_bits == 32 ? 1 : 0][loop];
}

bool fast_loop_available(FastLoop loop) {
#if HAS_BMI2_LOOP
    struct Features {
        bool sse2;
        bool bmi2;
    };
    static const Features features = [] {
        __builtin_cpu_init();
        const bool sse2 = __builtin_cpu_supports("sse2") != 0;
        return Features{sse2, sse2 && __builtin_cpu_supports("bmi2") != 0};
    }();
    switch (loop) {
    case FAST_LOOP_PORTABLE:
        return true;
    case FAST_LOOP_SSE2:
        return HAS_SSE2_LOOP && features.sse2;
    case FAST_LOOP_BMI2:
        return features.bmi2;
    }
    return false;
#else
    return loop == FAST_LOOP_PORTABLE;
#endif
}

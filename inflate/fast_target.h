// Which loops a build compiles, and the attributes they are compiled with.
// On x86 the loop is compiled for any processor and again with BMI2's shifts
// and masks that need no count register (fewer instructions per length and
// distance); the processor picks one at run time. 32-bit x86 has no SSE2 in
// its baseline, so it copies 16 bytes as four 4-byte moves: there the BMI2
// loop takes SSE2 too (every BMI2 processor has it), and a third loop has
// SSE2 alone for processors without BMI2.
#ifndef TAVRIMOX_FAST_TARGET_H
#define TAVRIMOX_FAST_TARGET_H

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define HAS_BMI2_LOOP 1
// The loop's helpers are inlined by force: inlined later, or called out of
// line (as g++ -m32 did in the BMI2 loops), they moved the loop's register
// allocation, or cost a call per match with the registers reloaded after it.
#define FAST_LOOP_INLINE [[gnu::always_inline]] inline
#else
#define HAS_BMI2_LOOP 0
#define FAST_LOOP_INLINE inline
#endif
#if HAS_BMI2_LOOP && defined(__i386__) && !defined(__SSE2__)
#define HAS_SSE2_LOOP 1
#define SSE2_LOOP_TARGET gnu::target("sse2")
#define BMI2_LOOP_TARGET gnu::target("bmi2,sse2")
#else
#define HAS_SSE2_LOOP 0
#define BMI2_LOOP_TARGET gnu::target("bmi2")
#endif

#endif

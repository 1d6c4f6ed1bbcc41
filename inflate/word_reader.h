// The table-driven path's bit reader: a word of W = 64 or 32 bits (Bits),
// refilled a whole word at a time.
#ifndef TAVRIMOX_WORD_READER_H
#define TAVRIMOX_WORD_READER_H

#include <cstdint>
#include <cstring>

#include "fast_target.h"
#include "inflate_state.h"

template <typename Bits>
inline Bits load_le(const uint8_t* p) {
    Bits v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    if constexpr (sizeof v == 8) {
        return __builtin_bswap64(v);
    } else {
        return __builtin_bswap32(v);
    }
#else
    return v;
#endif
}

// `bit_count` (mod W) bits of `bit_buffer` are unconsumed and `in` is the
// next byte to load. A refill brings the buffer to W - 8 .. W - 1 bits
// (56..63, 24..31); with that many at hand it adds nothing, the same bits
// or-ed again. It reads the W / 8 bytes from `in`, and all W bits of the
// buffer are the stream's.
template <typename Bits>
inline void refill_bits(const uint8_t*& in, Bits& bit_buffer, uint32_t& bit_count) {
    constexpr uint32_t BYTES = sizeof(Bits);
    bit_buffer |= load_le<Bits>(in) << (bit_count & (8 * BYTES - 1));
    in += (BYTES - 1) - ((bit_count >> 3) & (BYTES - 1));
    bit_count |= 8 * BYTES - 8;
}

// Back to the exact decode's form from a word reader that has loaded up to
// `in` and holds bit_count (mod W) unconsumed bits: input_count covers every
// byte holding a consumed bit, and the pending bits are that byte's unread
// high bits.
template <typename Bits>
inline void put_back_bits(InflateState& state, const uint8_t* in, Bits bit_buffer,
                          uint32_t bit_count) {
    bit_count &= 8 * sizeof(Bits) - 1;
    const uint32_t consumed_bits_mod = bit_count & 7;  // 8 * in - consumed, mod 8
    const uint32_t whole_bytes = bit_count >> 3;      // loaded but untouched
    state.input_count = static_cast<uint32_t>(in - state.input) - whole_bytes;
    state.bit_count = static_cast<int32_t>(consumed_bits_mod);
    state.bit_buffer = static_cast<int32_t>(static_cast<uint32_t>(bit_buffer) &
                                            ((1u << consumed_bits_mod) - 1));
}

// The extra bits of a length or distance entry: the entry's low byte counts
// the code and its extra bits, bits 8..13 the code alone (bits 12..13, the
// special kind, are 0 in these entries; a shift uses only 6 bits of its count).
template <bool BMI2, typename Bits>
FAST_LOOP_INLINE Bits extra_bits(Bits bits, uint32_t entry) {
    const Bits code_and_extra = bits & ((Bits{1} << (entry & 0xFF)) - 1);
    return code_and_extra >> ((entry >> 8) & (8 * sizeof(Bits) - 1));
}

#if HAS_BMI2_LOOP
// BZHI keeps the bits below the count in the entry's low byte, in one step.
// Written out because the compiler does not pick it for the mask above, and
// its intrinsic cannot be inlined through the loop's target-neutral body.
// The 32-bit word's too: there the mask took four instructions.
#if defined(__x86_64__)
template <>
FAST_LOOP_INLINE uint64_t extra_bits<true, uint64_t>(uint64_t bits, uint32_t entry) {
    uint64_t code_and_extra;
    asm("bzhi %q2, %1, %0" : "=r"(code_and_extra) : "rm"(bits), "r"(entry));
    return code_and_extra >> ((entry >> 8) & 63);
}
#endif
template <>
FAST_LOOP_INLINE uint32_t extra_bits<true, uint32_t>(uint32_t bits, uint32_t entry) {
    uint32_t code_and_extra;
    asm("bzhi %2, %1, %0" : "=r"(code_and_extra) : "rm"(bits), "r"(entry));
    return code_and_extra >> ((entry >> 8) & 31);
}
#endif

#endif

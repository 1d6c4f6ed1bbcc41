// The lookup tables of the table-driven path: entry format, build, and the
// walk for codes longer than a table.
#ifndef TAVRIMOX_FAST_TABLE_H
#define TAVRIMOX_FAST_TABLE_H

#include <cstddef>
#include <cstdint>

#include "huffman.h"

inline constexpr int32_t FAST_LITLEN_BITS = 11;
inline constexpr int32_t FAST_DISTANCE_BITS = 8;

// A lookup entry, indexed by the next FAST_*_BITS stream bits (first bit lowest):
//   bits 0..7   bits to consume: the code and the extra bits after it
//   bits 8..11  bits before the extra bits still to read: the code length,
//               or all of bits 0..7 where the entry holds a whole length
//               (0 for FAST_LONG)
//   bits 12..13 for a special entry: FAST_LENGTH_EXTRA, FAST_END_OF_BLOCK,
//               FAST_INVALID or FAST_LONG
//   bits 16..30 the distance base (distance entries); in litlen entries
//               bits 16..24 a length, whole where its extra bits fit in the
//               table beside its code, else its base (FAST_LENGTH_EXTRA)
//   bit 30      special: not a literal or a whole length (litlen entries only)
//   bit 31      literal; its byte is bits 16..23
// Worked values: fixed-code length symbol 265 (code 0001001, 7 bits, 1 extra
// bit, lengths 11 and 12) is 8 | 8 << 8 | 11 << 16 at the patterns whose
// eighth bit is 0, and 8 | 8 << 8 | 12 << 16 where it is 1. Symbol 280 (8
// bits, 4 extra bits, base 115) does not fit in 11 bits: it is
// 12 | 8 << 8 | 115 << 16 | FAST_SPECIAL_FLAG, of kind FAST_LENGTH_EXTRA.
inline constexpr uint32_t FAST_LITERAL_FLAG = 0x80000000u;
inline constexpr uint32_t FAST_SPECIAL_FLAG = 0x40000000u;
inline constexpr uint32_t FAST_LENGTH_EXTRA = 0;  // a length whose extra bits do not fit in the table
inline constexpr uint32_t FAST_END_OF_BLOCK = 1;
inline constexpr uint32_t FAST_INVALID = 2;  // no code, or symbol 286/287: the exact decode reports it
inline constexpr uint32_t FAST_LONG = 3;     // the code is longer than the table's bits

// One code's lookup table plus what decoding its longer codes needs.
template <int32_t BITS, int32_t SYMBOLS>
struct FastTable {
    uint32_t entries[size_t{1} << BITS];
    // Canonical walk beyond BITS bits: codes of length L are first[L] ..
    // first[L] + count[L] - 1, for the symbols from entry_of[offset[L]] on.
    uint32_t first[MAX_CODE_BITS + 1];
    uint32_t count[MAX_CODE_BITS + 1];
    uint32_t offset[MAX_CODE_BITS + 1];
    uint32_t entry_of[static_cast<size_t>(SYMBOLS)];  // entries of the symbols in code order, without the code length
};

using FastLitlenTable = FastTable<FAST_LITLEN_BITS, FIXED_LITLEN_CODES>;
using FastDistanceTable = FastTable<FAST_DISTANCE_BITS, MAX_DIST_CODES>;
// The code-length code has at most 7 bits, so no entry is LONG; an entry's
// symbol is bits 16..20.
using FastCodeLengthTable = FastTable<7, 19>;

// litlen's literal entries in 16 bits, 0 for every other entry: for the step
// that may or may not be a second literal, which then shifts the bit buffer
// and moves the output on by the entry as loaded. Taken from litlen, the
// entry needs a mask made from its literal flag first: two more instructions
// on the chain from one lookup to the next. Half litlen's size, so that the
// two tables take less of the cache that long matches stream the output
// through.
//   bits 0..3   bits to consume; bits 4..6 are 0, so that a shift by the
//               entry (by its low 5 or 6 bits) and the reader's count (exact
//               in those bits only) take these alone
//   bits 7..14  the literal's byte
//   bit 15      literal
struct FastCode {
    FastLitlenTable litlen;
    FastDistanceTable distance;
    uint16_t literals[size_t{1} << FAST_LITLEN_BITS];
};

// Builds the lookup tables of a block from its canonical tables, which must
// have been built without over-subscription.
void build_fast_code(FastCode& fast, const HuffmanTable& litlen, const HuffmanTable& distance);
void build_fast_code_lengths(FastCodeLengthTable& fast, const HuffmanTable& code);

// The fixed code's lookup tables, built by the compiler.
extern const FastCode fixed_fast_code;

constexpr uint32_t fast_special_entry(uint32_t kind) {
    return FAST_SPECIAL_FLAG | kind << 12;
}

constexpr uint32_t with_code_length(uint32_t entry, uint32_t len) {
    return entry + len + (len << 8);
}

// Stream bits -> code: the first of 15 stream bits becomes the code's top bit.
// Reversal is its own inverse, so this also maps a left-aligned code to the
// stream bits that carry it.
struct Reversal {
    uint8_t bytes[256];
};
constexpr Reversal make_reversal() {
    Reversal r{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t v = 0;
        for (uint32_t i = 0; i < 8; ++i) {
            v |= ((b >> i) & 1u) << (7 - i);
        }
        r.bytes[b] = static_cast<uint8_t>(v);
    }
    return r;
}
inline constexpr Reversal REVERSAL = make_reversal();

constexpr uint32_t reverse15(uint32_t bits) {
    return static_cast<uint32_t>(REVERSAL.bytes[bits & 0xFF]) << 7 |
           static_cast<uint32_t>(REVERSAL.bytes[(bits >> 8) & 0x7F]) >> 1;
}

// The walk for a code longer than the table: the next 15 stream bits read as
// a code, tried at each length beyond BITS. Returns the entry with its code
// length, or an INVALID entry when no code matches.
template <int32_t BITS, int32_t SYMBOLS>
inline uint32_t walk_long_code(const FastTable<BITS, SYMBOLS>& fast, uint64_t bits) {
    const uint32_t code15 = reverse15(static_cast<uint32_t>(bits));
    // A code that passed the block header's checks covers every pattern
    // under a long prefix, so the INVALID below is only a guard.
    for (int32_t len = BITS + 1; len <= MAX_CODE_BITS; ++len) {
        const uint32_t code = code15 >> (MAX_CODE_BITS - len);
        if (code - fast.first[len] < fast.count[len]) {
            return with_code_length(fast.entry_of[fast.offset[len] + code - fast.first[len]],
                                    static_cast<uint32_t>(len));
        }
    }
    return fast_special_entry(FAST_INVALID);
}

#endif

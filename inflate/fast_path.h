// Table-driven decoding of a Huffman block's body while input and output
// room are plentiful. The bit-by-bit decode in block_data.cpp stays the
// definition of every result: this path takes only the elements it can finish
// and hands back before anything else, with the state exactly as the exact
// decode would have it, so both give the same statuses, counts and bytes.
#ifndef TAVRIMOX_FAST_PATH_H
#define TAVRIMOX_FAST_PATH_H

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

struct FastCode {
    FastLitlenTable litlen;
    FastDistanceTable distance;
};

// Builds the lookup tables of a block from its canonical tables, which must
// have been built without over-subscription.
void build_fast_code(FastCode& fast, const HuffmanTable& litlen, const HuffmanTable& distance);

// The fixed code's lookup tables, built by the compiler.
extern const FastCode fixed_fast_code;

// Decodes literals and matches while at least FAST_INPUT_MARGIN input bytes and
// FAST_OUTPUT_MARGIN bytes of room remain: the longest match, plus the 32
// bytes past it that a match copy may read and write (and puts back).
// It also hands back once the output reaches 32 KiB, the largest distance:
// a call from there on tests no distance against the output's start.
// Returns 1 when it consumed the block's end-of-block symbol, 0 when it
// handed back (at once where the margins are not there); either way the
// state satisfies every invariant of InflateState, and the buffer past
// output_count is as the caller left it.
inline constexpr uint32_t FAST_INPUT_MARGIN = 8;
inline constexpr uint32_t FAST_OUTPUT_MARGIN = 258 + 32;
int32_t decode_fast(InflateState& state, const FastCode& fast);

// Decodes a dynamic block's code lengths, from lengths[position] up to
// lengths[total], with a lookup table for the code-length code `code`, while
// FAST_INPUT_MARGIN input bytes remain. Stops before a symbol with no code or
// a repeat the exact decode refuses, with the state as decode_symbol and
// read_bits would leave it. Returns the position reached.
int32_t decode_code_lengths_fast(InflateState& state, const HuffmanTable& code,
                                 int16_t* lengths, int32_t position, int32_t total);

// Tests turn the fast path off to compare both decodes on the same streams.
void set_fast_path_enabled(bool enabled);
bool fast_path_enabled();

// The loop keeps its bit buffer in a 64-bit word, or in a 32-bit one where
// registers are 32 bits wide; tests choose each on any processor.
inline constexpr uint32_t FAST_DEFAULT_READER_BITS = sizeof(void*) >= 8 ? 64 : 32;
void set_fast_path_reader_bits(uint32_t bits);

// The loop is compiled for any processor and, on x86, for BMI2 and (on 32-bit
// x86, whose baseline lacks it) for SSE2 alone; the fast path runs the best
// one the processor has. Tests lower the best allowed to run each loop on
// the same streams.
enum FastLoop : uint32_t { FAST_LOOP_PORTABLE, FAST_LOOP_SSE2, FAST_LOOP_BMI2 };
void set_fast_path_best_loop(FastLoop loop);
bool fast_path_loop_available(FastLoop loop);

#endif

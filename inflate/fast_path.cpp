#include "fast_path.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "block_data.h"
#include "fixed_code.h"

// On x86 the loop is compiled for any processor and again with BMI2's shifts
// and masks that need no count register (fewer instructions per length and
// distance); the processor picks one at run time. 32-bit x86 has no SSE2 in
// its baseline, so it copies 16 bytes as four 4-byte moves: there the BMI2
// loop takes SSE2 too (every BMI2 processor has it), and a third loop has
// SSE2 alone for processors without BMI2.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define HAS_BMI2_LOOP 1
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

namespace {

constexpr uint32_t special_entry(uint32_t kind) {
    return FAST_SPECIAL_FLAG | kind << 12;
}

// Entries without their code length, which the table fill adds.
constexpr uint32_t litlen_entry(int32_t symbol) {
    if (symbol < 256) {
        return FAST_LITERAL_FLAG | static_cast<uint32_t>(symbol) << 16;
    }
    if (symbol == 256) {
        return special_entry(FAST_END_OF_BLOCK);
    }
    if (symbol > 285) {
        return special_entry(FAST_INVALID);
    }
    const int32_t i = symbol - 257;
    return static_cast<uint32_t>(LENGTH_BASE[i]) << 16 | static_cast<uint32_t>(LENGTH_EXTRA[i]);
}

constexpr uint32_t distance_entry(int32_t symbol) {
    return static_cast<uint32_t>(DISTANCE_BASE[symbol]) << 16 |
           static_cast<uint32_t>(DISTANCE_EXTRA[symbol]);
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
constexpr Reversal REVERSAL = make_reversal();

constexpr uint32_t reverse15(uint32_t bits) {
    return static_cast<uint32_t>(REVERSAL.bytes[bits & 0xFF]) << 7 |
           static_cast<uint32_t>(REVERSAL.bytes[(bits >> 8) & 0x7F]) >> 1;
}

// Codes are placed in canonical order, shortest first. Once the codes of up
// to L bits are in, entries [0, 2^L) are final for them, and every pattern
// of BITS bits that starts with the same L bits must hold the same entry: so
// before the codes of L + 1 bits go in, [0, 2^L) is copied to [2^L, 2^(L+1)).
// A code of L bits then needs one store, at its own L stream bits, and the
// whole table costs one copy of itself. Patterns no code covers keep the
// INVALID they started with; codes longer than BITS mark their BITS-bit
// prefix LONG, after the last copy, and are found by the canonical walk.
// Worked value: lengths (1, 2, 2) for symbols (A, B, C), BITS = 3. Codes
// 0, 10, 11, whose stream bits read as numbers (first bit lowest) are 0, 1
// and 3. Length 1: [A INVALID]. Copy, then length 2: [A B A C]. Copy:
// [A B A C A B A C].
// With WHOLE_LENGTHS, a length code of L bits whose E extra bits fit in the
// table beside it gets the whole length in its entries, so that the loop
// reads no extra bits for most matches (4 instructions fewer each): the
// pattern with the code's L bits and then the E-bit value x holds base + x
// and consumes L + E bits, placed as a code of L + E bits would be, one
// store each, and copied on with the rest. One whose extra bits do not fit
// is marked FAST_LENGTH_EXTRA, for the loop to read them. Worked value:
// fixed-code symbol 265 (code 0001001, stream bits 1001000 = 72, 1 extra
// bit, base 11) is placed at 72 (length 11) and 200 (length 12) once the
// table holds the codes of up to 8 bits.
template <bool WHOLE_LENGTHS = false, int32_t BITS, int32_t SYMBOLS, typename EntryOf>
constexpr void build_fast_table(FastTable<BITS, SYMBOLS>& fast, const HuffmanTable& table,
                                EntryOf entry_of_symbol) {
    fast.entries[0] = special_entry(FAST_INVALID);
    fast.entries[1] = special_entry(FAST_INVALID);
    uint32_t code = 0;
    uint32_t position = 0;
    fast.first[0] = 0;
    fast.count[0] = 0;
    fast.offset[0] = 0;
    // Length codes waiting for the stage of their bits and extra bits.
    struct Whole {
        uint32_t stream_bits;
        uint32_t code_length;
        uint32_t entry;
    };
    Whole waiting[std::size(LENGTH_BASE)] = {};
    uint32_t waiting_count = 0;
    for (int32_t len = 1; len <= MAX_CODE_BITS; ++len) {
        if (len >= 2 && len <= BITS) {
            const uint32_t half = 1u << (len - 1);
            if (std::is_constant_evaluated()) {
                for (uint32_t i = 0; i < half; ++i) {
                    fast.entries[half + i] = fast.entries[i];
                }
            } else {
                std::memcpy(fast.entries + half, fast.entries, half * sizeof fast.entries[0]);
            }
        }
        for (uint32_t w = 0; w < waiting_count; ++w) {
            const Whole& whole = waiting[w];
            const uint32_t extra = whole.entry & 0xFF;
            if (whole.code_length + extra == static_cast<uint32_t>(len)) {
                for (uint32_t x = 0; x < (1u << extra); ++x) {
                    const uint32_t length = (whole.entry >> 16) + x;
                    fast.entries[whole.stream_bits | x << whole.code_length] =
                        with_code_length(length << 16, static_cast<uint32_t>(len));
                }
            }
        }
        const uint32_t count = static_cast<uint32_t>(table.length_counts[len]);
        fast.first[len] = code;
        fast.count[len] = count;
        fast.offset[len] = position;
        for (uint32_t k = 0; k < count; ++k, ++code, ++position) {
            const uint32_t entry = entry_of_symbol(table.symbols[position]);
            fast.entry_of[position] = entry;
            const uint32_t stream_bits = reverse15(code << (MAX_CODE_BITS - len));
            if (len <= BITS) {
                uint32_t placed = with_code_length(entry, static_cast<uint32_t>(len));
                const uint32_t extra = entry & 0xFF;  // of a length entry
                if (WHOLE_LENGTHS && !(entry & (FAST_LITERAL_FLAG | FAST_SPECIAL_FLAG)) && extra != 0) {
                    if (static_cast<uint32_t>(len) + extra <= BITS) {
                        waiting[waiting_count++] = {stream_bits, static_cast<uint32_t>(len), entry};
                    } else {
                        placed |= FAST_SPECIAL_FLAG;
                    }
                }
                fast.entries[stream_bits] = placed;
            } else {
                fast.entries[stream_bits & ((1u << BITS) - 1)] = special_entry(FAST_LONG);
            }
        }
        code <<= 1;
    }
}

constexpr void build_fast_code_tables(FastCode& fast, const HuffmanTable& litlen,
                                      const HuffmanTable& distance) {
    build_fast_table<true>(fast.litlen, litlen, litlen_entry);
    build_fast_table(fast.distance, distance, distance_entry);
}

constexpr FastCode make_fixed_fast_code() {
    FixedCode fixed = make_fixed_code();
    HuffmanTable litlen = {fixed.litlen_counts, fixed.litlen_symbols};
    HuffmanTable distance = {fixed.distance_counts, fixed.distance_symbols};
    FastCode fast{};
    build_fast_code_tables(fast, litlen, distance);
    return fast;
}

std::atomic<bool> fast_enabled{true};
std::atomic<uint32_t> best_loop_allowed{FAST_LOOP_BMI2};

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
    return special_entry(FAST_INVALID);
}

// The extra bits of a length or distance entry: the entry's low byte counts
// the code and its extra bits, bits 8..13 the code alone (bits 12..13, the
// special kind, are 0 in these entries; a shift uses only 6 bits of its count).
template <bool BMI2, typename Bits>
FAST_LOOP_INLINE Bits extra_bits(Bits bits, uint32_t entry) {
    const Bits code_and_extra = bits & ((Bits{1} << (entry & 0xFF)) - 1);
    return code_and_extra >> ((entry >> 8) & (8 * sizeof(Bits) - 1));
}

#if HAS_BMI2_LOOP && defined(__x86_64__)
// BZHI keeps the bits below the count in the entry's low byte, in one step.
// Written out because the compiler does not pick it for the mask above, and
// its intrinsic cannot be inlined through the loop's target-neutral body.
template <>
FAST_LOOP_INLINE uint64_t extra_bits<true, uint64_t>(uint64_t bits, uint32_t entry) {
    uint64_t code_and_extra;
    asm("bzhi %q2, %1, %0" : "=r"(code_and_extra) : "rm"(bits), "r"(entry));
    return code_and_extra >> ((entry >> 8) & 63);
}
#endif

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

// N bytes held as one value. In the 32-bit loops compiled for SSE2, GCC
// also stores a byte array to the stack at every copy (a dead store that it
// keeps), so those hold a vector; the 32-bit loop without SSE2 splits a
// vector into worse code than the array, and the 64-bit loops are tuned
// with the array.
#if defined(__GNUC__)
template <size_t N>
struct VectorOf {
    typedef uint8_t type __attribute__((vector_size(N)));
};
template <size_t N, bool VECTOR>
using Block = std::conditional_t<VECTOR, typename VectorOf<N>::type, uint8_t[N]>;
#else
template <size_t N, bool VECTOR>
using Block = uint8_t[N];
#endif

// N bytes loaded whole, then stored: one register move where N is 8 or 16.
template <size_t N, bool VECTOR>
inline void copy_block(uint8_t* out, const uint8_t* from) {
    Block<N, VECTOR> chunk;
    std::memcpy(&chunk, from, N);
    std::memcpy(out, &chunk, N);
}

// A match of up to 32 bytes is copied exactly, in two 16-byte blocks whose
// second ends at the match's end; only one shorter than 16 bytes writes past
// its end, up to 13 bytes. Longer ones are copied in whole steps of 32 bytes,
// which write up to 31 bytes past the end. Those bytes are copies of earlier
// output, which the following literals and matches overwrite. So that a
// hand-back leaves every byte past output_count as the caller had it, each
// match first keeps the caller's bytes it may overwrite, and the way out puts
// them back.
// A place in the output is a position in it (the 64-bit loop) or an address
// (the 32-bit loop, short of registers: one for both buffer and position).
//   dirty: [out, dirty) may hold bytes written past a match's end; from
//          dirty on, the buffer is as the caller left it.
//          dirty - out <= 31 after every literal and match.
//   bytes: the caller's byte at place p is bytes[256 + p % 256] for every
//          p in [out, dirty). Each save of 16 bytes from place t lands
//          twice, at t % 256 and at 256 + t % 256, so that place p is at
//          256 + p % 256 whether or not the 16 bytes wrap past a multiple of
//          256 (in the buffer or in the address space: either numbering
//          works, as long as one is kept). A save overwrites only places
//          more than 240 bytes before its own, which lie before the match's
//          end.
// dirty is a variable of its own, not a member: beside the array it would
// live in memory, and it is read and written by every match.
// The ring is 256 bytes so that a place's slot is its low byte, taken in one
// instruction where a mask of 63 took two.
inline constexpr uint32_t KEPT_RING = 256;
struct Kept {
    uint8_t bytes[2 * KEPT_RING + 16];
};

inline uint8_t* address_of(uint8_t* output, size_t position) {
    return output + position;
}
inline uint8_t* address_of(uint8_t*, uint8_t* address) {
    return address;
}
inline uint32_t ring_slot(size_t position) {
    return static_cast<uint32_t>(position & (KEPT_RING - 1));
}
inline uint32_t ring_slot(const uint8_t* address) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address) & (KEPT_RING - 1));
}

// Keeps the caller's bytes [t, t + 16).
template <typename Place>
inline void keep_callers_bytes(Kept& kept, uint8_t* output, Place t) {
    const size_t slot = ring_slot(t);  // wide, so KEPT_RING folds into the store's offset
    std::memcpy(kept.bytes + slot, address_of(output, t), 16);
    std::memcpy(kept.bytes + KEPT_RING + slot, address_of(output, t), 16);
}

template <typename Place>
inline void restore_callers_bytes(const Kept& kept, Place dirty, uint8_t* output, Place out) {
    for (Place p = out; p < dirty; ++p) {
        *address_of(output, p) = kept.bytes[KEPT_RING + ring_slot(p)];
    }
}

// The smallest multiple of each distance below 16 that is at least 16: a
// copy from that far back reads the same bytes, since they repeat with the
// distance, and each of its 16-byte loads lies wholly before its store.
struct Periods {
    uint8_t of[16];
};
constexpr Periods make_periods() {
    Periods p{};
    for (uint32_t d = 1; d < 16; ++d) {
        p.of[d] = static_cast<uint8_t>((16 + d - 1) / d * d);
    }
    return p;
}
constexpr Periods PERIODS = make_periods();

// Where the second 16-byte block of a match of 32 bytes or fewer starts:
// max(length, 16) - 16, so that it ends at the match's end, or starts at the
// match's start for a match shorter than 16. Looked up, as one load, in place
// of the four instructions of the max and the subtraction on every short
// match: 1.4 to 2% fewer instructions per byte, and 5 to 6% in the 32-bit
// BMI2 loop.
struct SecondBlock {
    uint8_t at[33];
};
constexpr SecondBlock make_second_block() {
    SecondBlock b{};
    for (uint32_t length = 0; length <= 32; ++length) {
        b.at[length] = static_cast<uint8_t>(std::max(length, 16u) - 16);
    }
    return b;
}
constexpr SecondBlock SECOND_BLOCK = make_second_block();

// A long match's keeps read the caller's bytes ahead of the output, which in
// a large output are not in the cache yet, and a load that misses holds up
// the loop where a store would not. Asked for this far ahead after each long
// match, they are there in time: textures of 4 MiB and 16 MiB decode 4 to 6%
// faster. A prefetch is a hint that reads nothing and cannot fault, so the
// address may lie past the buffer; it is formed as an integer, since a
// pointer past the buffer's end is undefined.
inline constexpr uintptr_t OUTPUT_PREFETCH_AHEAD = 1024;

inline void prefetch_for_write([[maybe_unused]] const uint8_t* at, [[maybe_unused]] uintptr_t ahead) {
#if defined(__GNUC__)
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(at) + ahead), 1);
#endif
}

// Copies a match: the bytes of a copy one byte at a time, lowest first, and
// up to 31 more past its end (see Kept). Inlined by force: g++ -m32 called it
// out of line from the BMI2 loops: a call per match, its arguments on the
// stack, and the loop's registers reloaded after it.
template <bool VECTOR, typename Place>
FAST_LOOP_INLINE void copy_match(Kept& kept, Place& dirty, uint8_t* output, Place out,
                                 uint32_t distance, uint32_t length) {
    const Place end = out + length;
    // The caller's bytes before dirty are kept already.
    keep_callers_bytes(kept, output, std::max(end, dirty));
    uint8_t* to = address_of(output, out);  // and stays the address of place `out`
    const uint8_t* from = to - distance;
    if (distance < 16) [[unlikely]] {
        // The first 16 bytes in order, each after the byte it may repeat:
        // 8 at a time when each 8-byte load lies wholly before its store,
        // else one by one. After them the bytes repeat with a period of 16
        // or more.
        if (distance >= 8) {
            copy_block<8, VECTOR>(to, from);
            copy_block<8, VECTOR>(to + 8, from + 8);
        } else {
            for (uint32_t i = 0; i < 16; ++i) {
                to[i] = from[i];
            }
        }
        if (length <= 16) {
            dirty = std::max(dirty, out + 16);
            return;
        }
        out += 16;
        to += 16;
        length -= 16;
        distance = PERIODS.of[distance];
        from = to - distance;
    }
    // Each 16-byte load lies wholly before its store, so the blocks hold
    // the bytes of an in-order copy, overlapping matches included.
    copy_block<16, VECTOR>(to, from);
    if (length > 32) [[unlikely]] {
        // The end is more than 32 bytes on, past dirty: so the save above
        // was of [end, end + 16). The steps write up to 31 bytes past the
        // end, so the 16 after those are kept too.
        keep_callers_bytes(kept, output, end + 16);
        copy_block<16, VECTOR>(to + 16, from + 16);
        uint32_t done = 32;
        if (distance == 16) {
            // A long run of one 16-byte texture block: one register stored
            // again and again, so no load waits on the store before it.
            Block<16, VECTOR> pattern;
            std::memcpy(&pattern, from, 16);
            do {
                std::memcpy(to + done, &pattern, 16);
                std::memcpy(to + done + 16, &pattern, 16);
                done += 32;
            } while (done < length);
        } else {
            do {
                copy_block<16, VECTOR>(to + done, from + done);
                copy_block<16, VECTOR>(to + done + 16, from + done + 16);
                done += 32;
            } while (done < length);
        }
        prefetch_for_write(to + done, OUTPUT_PREFETCH_AHEAD);
        dirty = out + done;
        return;
    }
    // The second block ends at the match's end, or repeats the first for a
    // match shorter than 16 bytes; all it reads was written before it.
    // Here length <= 32.
    const uint32_t last = SECOND_BLOCK.at[length];
    copy_block<16, VECTOR>(to + last, from + last);
    dirty = std::max(dirty, out + 16);
}

// The word-wise bit reader, on a word of W = 64 or 32 bits: `bit_count`
// (mod W) bits of `bit_buffer` are unconsumed and `in` is the next byte to
// load. A refill brings the buffer to W - 8 .. W - 1 bits (56..63, 24..31);
// with that many at hand it adds nothing, the same bits or-ed again. It reads
// the W / 8 bytes from `in`, and all W bits of the buffer are the stream's.
template <typename Bits>
inline void refill_bits(const uint8_t*& in, Bits& bit_buffer, uint32_t& bit_count) {
    constexpr uint32_t BYTES = sizeof(Bits);
    bit_buffer |= load_le<Bits>(in) << (bit_count & (8 * BYTES - 1));
    in += (BYTES - 1) - ((bit_count >> 3) & (BYTES - 1));
    bit_count |= 8 * BYTES - 8;
}

// Back to the exact decode's form from a word-wise reader that has loaded up
// to `in` and holds bit_count (mod W) unconsumed bits: input_count covers
// every byte holding a consumed bit, and the pending bits are that byte's
// unread high bits.
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

// The largest distance. Until the output holds this much, a distance may
// reach before its start: the loops test each one (CHECK_DISTANCE) and stop
// at this much output. From there on no distance can, and loops without the
// test go on: 2 instructions fewer per match, and 1 to 8% faster on most
// streams.
inline constexpr uint32_t MAX_DISTANCE = 32768;
static_assert(MAX_DISTANCE == static_cast<uint32_t>(DISTANCE_BASE[29] + (1 << DISTANCE_EXTRA[29]) - 1),
              "the last distance code's largest value");

// The last output position a step may start at: room for the widest step
// remains, and a loop that tests distances stays in the first 32 KiB.
// Inlined by force, as the loops' other helpers: inlined later, it moved
// their register allocation.
template <bool COUNT_ONLY, bool CHECK_DISTANCE>
FAST_LOOP_INLINE uint32_t last_step_start(const InflateState& state) {
    return std::min((COUNT_ONLY ? UINT32_MAX : state.output_capacity) - FAST_OUTPUT_MARGIN,
                    CHECK_DISTANCE ? MAX_DISTANCE - 1 : UINT32_MAX);
}

template <bool COUNT_ONLY, FastLoop LOOP, bool CHECK_DISTANCE>
FAST_LOOP_INLINE int32_t decode_fast_loop(InflateState& state, const FastCode& fast) {
    constexpr bool BMI2 = LOOP == FAST_LOOP_BMI2;
    constexpr bool VECTOR = HAS_SSE2_LOOP && LOOP != FAST_LOOP_PORTABLE;
    constexpr uint32_t LITLEN_MASK = (1u << FAST_LITLEN_BITS) - 1;
    constexpr uint32_t DISTANCE_MASK = (1u << FAST_DISTANCE_BITS) - 1;
    const uint8_t* const input_end = state.input + (state.input_length - FAST_INPUT_MARGIN);
    const size_t output_end = last_step_start<COUNT_ONLY, CHECK_DISTANCE>(state);
    uint8_t* const output = state.output;

    // bit_count bits of bit_buffer are accounted for; the bits above them
    // are the stream's own next bits, up to the last refill's 64, then zeros.
    // A refill takes at most 48 bits before the next one, so at least 16 real
    // bits are always there: enough to look up the next entry (11 bits, or
    // 15 for a long code) before the refill, off the refill's path.
    // Consumed so far: 8 * (in - state.input) - bit_count bits, always. Only
    // the low 6 bits of bit_count are kept exact: whole entries are
    // subtracted from it, and an entry's low byte is the number of bits it
    // consumes.
    const uint8_t* in = state.input + state.input_count;
    uint64_t bit_buffer = static_cast<uint32_t>(state.bit_buffer);
    uint32_t bit_count = static_cast<uint32_t>(state.bit_count);
    // As wide as a pointer, so that each use as an index needs no
    // zero-extension: 0.5 to 1% fewer instructions per byte.
    size_t out = state.output_count;
    int32_t result = 0;
    Kept kept;
    size_t dirty = out;

    // 56 bits after a refill: enough for a whole match (15 + 5 + 15 + 13).
    const auto refill = [&] { refill_bits(in, bit_buffer, bit_count); };
    const auto take_literal = [&](uint32_t literal) {
        bit_buffer >>= literal & 63;
        bit_count -= literal;
        if (!COUNT_ONLY) {
            output[out] = static_cast<uint8_t>(literal >> 16);
        }
        out += 1;
    };
    // The same for an entry that may not be a literal, without a branch:
    // a literal is taken; anything else consumes nothing and stores the
    // byte already there, so the caller's bytes stay as they were.
    const auto take_if_literal = [&](uint32_t e) {
        const uint32_t literal = e >> 31;
        const uint32_t taken = e & (0u - literal);
        bit_buffer >>= taken & 63;
        bit_count -= taken;
        if (!COUNT_ONLY) {
            const uint8_t before = output[out];
            output[out] = literal != 0 ? static_cast<uint8_t>(e >> 16) : before;
        }
        out += literal;
    };
    refill();
    // The entry for the bits at hand, looked up before they are refilled.
    uint32_t entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
    // The margins are tested before every refill, the first included: the
    // refill above may have moved `in` up to 7 bytes closer to the end.
    while (in <= input_end && out <= output_end) {
        refill();
        if (entry & FAST_LITERAL_FLAG) {
            // Up to two literals per refill. Whether a second literal
            // follows is close to a coin toss in most streams, so it is
            // taken without a branch that would be mispredicted; a third
            // step, branch-free or not, costs more than it saves.
            take_literal(entry);
            entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
            take_if_literal(entry);
            entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
            continue;
        }
        uint32_t length = entry >> 16;
        // Here and in copy_match the rare branches are marked, so that a
        // whole length, a one-level distance and a match of up to 32 bytes
        // from 16 or more back run straight through: 1.4 and 1.5% faster as
        // a geometric mean in two interleaved runs (homeworld 7 to 14%, the
        // smaller softwaves texture 1 to 3% slower), and up to 1% fewer
        // instructions.
        if (entry & FAST_SPECIAL_FLAG) [[unlikely]] {
            uint32_t kind = (entry >> 12) & 3;
            if (kind == FAST_LONG) {
                entry = walk_long_code(fast.litlen, bit_buffer);
                if (entry & FAST_LITERAL_FLAG) {
                    take_literal(entry);
                    entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
                    continue;
                }
                kind = (entry >> 12) & 3;  // a length from the walk: FAST_LENGTH_EXTRA
            }
            if (kind == FAST_END_OF_BLOCK) {
                bit_buffer >>= entry & 63;
                bit_count -= entry;
                result = 1;
                break;
            }
            if (kind != FAST_LENGTH_EXTRA) {
                break;  // no code or symbol 286/287: the exact decode reports it
            }
            length = ((entry >> 16) & 0x1FF) +  // the base, below the special flag
                     static_cast<uint32_t>(extra_bits<BMI2>(bit_buffer, entry));
        }
        // A match. Nothing is consumed until its distance has passed, so a
        // bad one is handed back whole.
        const uint64_t after_length = bit_buffer >> (entry & 63);
        uint32_t dentry = fast.distance.entries[after_length & DISTANCE_MASK];
        if (dentry & (3u << 12)) [[unlikely]] {
            if (((dentry >> 12) & 3) != FAST_LONG) {
                break;
            }
            dentry = walk_long_code(fast.distance, after_length);
            if (dentry & (3u << 12)) {
                break;
            }
        }
        const uint32_t distance =
            (dentry >> 16) + static_cast<uint32_t>(extra_bits<BMI2>(after_length, dentry));
        if (CHECK_DISTANCE && distance > out) {
            break;
        }
        bit_buffer = after_length >> (dentry & 63);
        bit_count -= entry;
        bit_count -= dentry;
        entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
        if (!COUNT_ONLY) {
            copy_match<VECTOR>(kept, dirty, output, out, distance, length);
        }
        out += length;
    }

    put_back_bits(state, in, bit_buffer, bit_count);
    state.output_count = static_cast<uint32_t>(out);
    if (!COUNT_ONLY) {
        restore_callers_bytes(kept, dirty, output, out);
    }
    return result;
}

// Where the 32-bit loop's next byte goes: its address, or with no buffer
// (count-only) its position.
template <bool COUNT_ONLY>
using Cursor = std::conditional_t<COUNT_ONLY, uint32_t, uint8_t*>;

template <bool COUNT_ONLY>
inline Cursor<COUNT_ONLY> cursor_at(uint8_t* output, uint32_t position) {
    if constexpr (COUNT_ONLY) {
        return position;
    } else {
        return output + position;
    }
}

template <bool COUNT_ONLY>
inline uint32_t position_of(Cursor<COUNT_ONLY> to, const uint8_t* output) {
    if constexpr (COUNT_ONLY) {
        return to;
    } else {
        return static_cast<uint32_t>(to - output);
    }
}

// The loop for processors with 32-bit registers, where a 64-bit bit buffer
// takes two of them and a pair of shifts per step. After a refill 24 bits are
// at hand (all 32 in the buffer are the stream's): enough for a literal or a
// length (15 + 5 bits), looked up after the refill. A second refill brings
// the distance's bits (a table code: 8 + 13); a longer distance code whose
// extra bits do not fit is handed back. Two refills read at most 3 + 4 bytes
// from `in`, within the input margin.
template <bool COUNT_ONLY, FastLoop LOOP, bool CHECK_DISTANCE>
FAST_LOOP_INLINE int32_t decode_fast_loop_32(InflateState& state, const FastCode& fast) {
    constexpr bool BMI2 = LOOP == FAST_LOOP_BMI2;
    constexpr bool VECTOR = HAS_SSE2_LOOP && LOOP != FAST_LOOP_PORTABLE;
    constexpr uint32_t LITLEN_MASK = (1u << FAST_LITLEN_BITS) - 1;
    constexpr uint32_t DISTANCE_MASK = (1u << FAST_DISTANCE_BITS) - 1;
    const uint8_t* const input_end = state.input + (state.input_length - FAST_INPUT_MARGIN);
    uint8_t* const output = state.output;
    const Cursor<COUNT_ONLY> output_end =
        cursor_at<COUNT_ONLY>(output, last_step_start<COUNT_ONLY, CHECK_DISTANCE>(state));

    // As in the 64-bit loop, bit_count is exact in its low 5 bits only.
    const uint8_t* in = state.input + state.input_count;
    uint32_t bit_buffer = static_cast<uint32_t>(state.bit_buffer);
    uint32_t bit_count = static_cast<uint32_t>(state.bit_count);
    // `to` is the next byte's address (its position when counting only).
    Cursor<COUNT_ONLY> to = cursor_at<COUNT_ONLY>(output, state.output_count);
    int32_t result = 0;
    Kept kept;
    Cursor<COUNT_ONLY> dirty = to;

    const auto take_literal = [&](uint32_t literal) {
        bit_buffer >>= literal & 31;
        bit_count -= literal;
        if constexpr (!COUNT_ONLY) {
            *to = static_cast<uint8_t>(literal >> 16);
        }
        to += 1;
    };
    // The 64-bit loop's step with a 32-bit mask, written out: one helper for
    // both changed that loop's register allocation and cost it 2%.
    const auto take_if_literal = [&](uint32_t e) {
        const uint32_t literal = e >> 31;
        const uint32_t taken = e & (0u - literal);
        bit_buffer >>= taken & 31;
        bit_count -= taken;
        if constexpr (!COUNT_ONLY) {
            const uint8_t before = *to;
            *to = literal != 0 ? static_cast<uint8_t>(e >> 16) : before;
        }
        to += literal;
    };
    while (in <= input_end && to <= output_end) {
        refill_bits(in, bit_buffer, bit_count);
        uint32_t entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
        if (entry & FAST_LITERAL_FLAG) {
            // A table literal takes at most 11 of the 24 bits at hand, which
            // leaves enough to look up the next entry: taken, without a
            // branch, when it is a literal too.
            take_literal(entry);
            take_if_literal(fast.litlen.entries[bit_buffer & LITLEN_MASK]);
            continue;
        }
        uint32_t length = entry >> 16;
        // The same rare branches as the 64-bit loop's, marked the same way:
        // 3.0 and 3.8% faster as a geometric mean (as --reader-bits 32, in
        // two interleaved runs), and under qemu-i386 3.5 to 9.5% fewer
        // instructions in the 32-bit program.
        if (entry & FAST_SPECIAL_FLAG) [[unlikely]] {
            uint32_t kind = (entry >> 12) & 3;
            if (kind == FAST_LONG) {
                entry = walk_long_code(fast.litlen, bit_buffer);
                if (entry & FAST_LITERAL_FLAG) {
                    take_literal(entry);
                    continue;
                }
                kind = (entry >> 12) & 3;  // a length from the walk: FAST_LENGTH_EXTRA
            }
            if (kind == FAST_END_OF_BLOCK) {
                bit_buffer >>= entry & 31;
                bit_count -= entry;
                result = 1;
                break;
            }
            if (kind != FAST_LENGTH_EXTRA) {
                break;  // no code or symbol 286/287: the exact decode reports it
            }
            length = ((entry >> 16) & 0x1FF) +  // the base, below the special flag
                     extra_bits<BMI2>(bit_buffer, entry);
        }
        // A match. The reader after the length is a copy (bits, count) until
        // the distance has passed; a hand-back puts `in` back to match_in, so
        // the match is handed back whole.
        const uint8_t* const match_in = in;
        uint32_t bits = bit_buffer >> (entry & 31);
        uint32_t count = bit_count - entry;
        refill_bits(in, bits, count);
        uint32_t dentry = fast.distance.entries[bits & DISTANCE_MASK];
        if (dentry & (3u << 12)) [[unlikely]] {
            if (((dentry >> 12) & 3) != FAST_LONG) {
                in = match_in;
                break;
            }
            dentry = walk_long_code(fast.distance, bits);
            if ((dentry & (3u << 12)) || (dentry & 0xFF) > (count & 31)) {
                in = match_in;
                break;
            }
        }
        const uint32_t distance = (dentry >> 16) + extra_bits<BMI2>(bits, dentry);
        if (CHECK_DISTANCE && distance > position_of<COUNT_ONLY>(to, output)) {
            in = match_in;
            break;
        }
        bit_buffer = bits >> (dentry & 31);
        bit_count = count - dentry;
        if constexpr (!COUNT_ONLY) {
            copy_match<VECTOR>(kept, dirty, output, to, distance, length);
        }
        to += length;
    }

    put_back_bits(state, in, bit_buffer, bit_count);
    state.output_count = position_of<COUNT_ONLY>(to, output);
    if constexpr (!COUNT_ONLY) {
        restore_callers_bytes(kept, dirty, output, to);
    }
    return result;
}

std::atomic<uint32_t> reader_bits{FAST_DEFAULT_READER_BITS};

template <FastLoop LOOP, bool READER_32, bool CHECK_DISTANCE>
FAST_LOOP_INLINE int32_t decode_fast_either_mode(InflateState& state, const FastCode& fast) {
    if constexpr (READER_32) {
        return state.output == nullptr ? decode_fast_loop_32<true, LOOP, CHECK_DISTANCE>(state, fast)
                                       : decode_fast_loop_32<false, LOOP, CHECK_DISTANCE>(state, fast);
    } else {
        return state.output == nullptr ? decode_fast_loop<true, LOOP, CHECK_DISTANCE>(state, fast)
                                       : decode_fast_loop<false, LOOP, CHECK_DISTANCE>(state, fast);
    }
}

// Each loop a function of its own, so that adding one leaves the others'
// code as it was, and each starts on a 64-byte boundary, so that its speed
// does not move with the size of the code linked before it (which moved the
// same loop by 3 to 6% between builds).
template <bool CHECK_DISTANCE>
[[gnu::aligned(64)]] int32_t decode_fast_portable(InflateState& state, const FastCode& fast) {
    return decode_fast_either_mode<FAST_LOOP_PORTABLE, false, CHECK_DISTANCE>(state, fast);
}

template <bool CHECK_DISTANCE>
[[gnu::aligned(64)]] int32_t decode_fast_portable_32(InflateState& state, const FastCode& fast) {
    return decode_fast_either_mode<FAST_LOOP_PORTABLE, true, CHECK_DISTANCE>(state, fast);
}

#if HAS_SSE2_LOOP
template <bool CHECK_DISTANCE>
[[SSE2_LOOP_TARGET, gnu::aligned(64)]]
int32_t decode_fast_sse2(InflateState& state, const FastCode& fast) {
    return decode_fast_either_mode<FAST_LOOP_SSE2, false, CHECK_DISTANCE>(state, fast);
}

template <bool CHECK_DISTANCE>
[[SSE2_LOOP_TARGET, gnu::aligned(64)]]
int32_t decode_fast_sse2_32(InflateState& state, const FastCode& fast) {
    return decode_fast_either_mode<FAST_LOOP_SSE2, true, CHECK_DISTANCE>(state, fast);
}
#endif

#if HAS_BMI2_LOOP
template <bool CHECK_DISTANCE>
[[BMI2_LOOP_TARGET, gnu::aligned(64)]]
int32_t decode_fast_bmi2(InflateState& state, const FastCode& fast) {
    return decode_fast_either_mode<FAST_LOOP_BMI2, false, CHECK_DISTANCE>(state, fast);
}

template <bool CHECK_DISTANCE>
[[BMI2_LOOP_TARGET, gnu::aligned(64)]]
int32_t decode_fast_bmi2_32(InflateState& state, const FastCode& fast) {
    return decode_fast_either_mode<FAST_LOOP_BMI2, true, CHECK_DISTANCE>(state, fast);
}
#endif

#if HAS_SSE2_LOOP
// The SSE2 and BMI2 loops may keep 16-byte values on the stack, which 32-bit
// Windows aligns to 4 bytes only. A loop that realigned its own stack would
// give up a register (of seven) to the frame pointer for it, so each is
// entered through this, which realigns once per call.
template <int32_t (*LOOP)(InflateState&, const FastCode&)>
[[gnu::force_align_arg_pointer, gnu::noinline]]
int32_t realigned(InflateState& state, const FastCode& fast) {
    return LOOP(state, fast);
}
#define SSE_LOOP_ENTRY(loop) realigned<loop>
#else
#define SSE_LOOP_ENTRY(loop) loop
#endif

[[maybe_unused]] bool loop_runs(FastLoop loop) {
    return best_loop_allowed.load(std::memory_order_relaxed) >= loop &&
           fast_path_loop_available(loop);
}

template <bool CHECK_DISTANCE>
int32_t decode_fast_with(InflateState& state, const FastCode& fast, bool reader_32) {
#if HAS_BMI2_LOOP
    if (loop_runs(FAST_LOOP_BMI2)) {
        return reader_32 ? SSE_LOOP_ENTRY(decode_fast_bmi2_32<CHECK_DISTANCE>)(state, fast)
                         : SSE_LOOP_ENTRY(decode_fast_bmi2<CHECK_DISTANCE>)(state, fast);
    }
#endif
#if HAS_SSE2_LOOP
    if (loop_runs(FAST_LOOP_SSE2)) {
        return reader_32 ? SSE_LOOP_ENTRY(decode_fast_sse2_32<CHECK_DISTANCE>)(state, fast)
                         : SSE_LOOP_ENTRY(decode_fast_sse2<CHECK_DISTANCE>)(state, fast);
    }
#endif
    return reader_32 ? decode_fast_portable_32<CHECK_DISTANCE>(state, fast)
                     : decode_fast_portable<CHECK_DISTANCE>(state, fast);
}

}  // namespace

constinit const FastCode fixed_fast_code = make_fixed_fast_code();

void build_fast_code(FastCode& fast, const HuffmanTable& litlen, const HuffmanTable& distance) {
    build_fast_code_tables(fast, litlen, distance);
}

int32_t decode_fast(InflateState& state, const FastCode& fast) {
    // Checked here: the loop's limits cannot wrap, and its first refill has
    // its 8 input bytes.
    const bool room = state.output == nullptr
                          ? state.output_count <= UINT32_MAX - FAST_OUTPUT_MARGIN
                          : state.output_capacity - state.output_count >= FAST_OUTPUT_MARGIN;
    if (!room || state.input_length - state.input_count < FAST_INPUT_MARGIN) {
        return 0;
    }
    const bool reader_32 = reader_bits.load(std::memory_order_relaxed) == 32;
    return state.output_count < MAX_DISTANCE ? decode_fast_with<true>(state, fast, reader_32)
                                            : decode_fast_with<false>(state, fast, reader_32);
}

int32_t decode_code_lengths_fast(InflateState& state, const HuffmanTable& code,
                                 int16_t* lengths, int32_t position, int32_t total) {
    if (state.input_length - state.input_count < FAST_INPUT_MARGIN) {
        return position;
    }
    // The code-length code has at most 7 bits, so no entry is LONG.
    FastTable<7, 19> table;
    build_fast_table(table, code, [](int32_t symbol) { return static_cast<uint32_t>(symbol) << 16; });

    // A refill leaves enough bits for a symbol and its extra bits (7 + 7).
    const uint8_t* const input_end = state.input + (state.input_length - FAST_INPUT_MARGIN);
    const uint8_t* in = state.input + state.input_count;
    uint64_t bit_buffer = static_cast<uint32_t>(state.bit_buffer);
    uint32_t bit_count = static_cast<uint32_t>(state.bit_count);
    while (position < total && in <= input_end) {
        refill_bits(in, bit_buffer, bit_count);
        const uint32_t entry = table.entries[bit_buffer & 127];
        if (entry & FAST_SPECIAL_FLAG) {
            break;  // no code: the exact decode reports it
        }
        const uint32_t symbol = entry >> 16;
        const uint32_t len = entry & 0xFF;
        if (symbol < 16) {
            lengths[position++] = static_cast<int16_t>(symbol);
            bit_buffer >>= len;
            bit_count -= len;
            continue;
        }
        // 16: 3..6 copies of the previous length; 17: 3..10 zeros; 18: 11..138 zeros.
        const uint32_t extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        const int32_t run = (symbol == 18 ? 11 : 3) +
                            static_cast<int32_t>((bit_buffer >> len) & ((1u << extra) - 1));
        if ((symbol == 16 && position == 0) || run > total - position) {
            break;  // a repeat the exact decode refuses
        }
        const int16_t value = symbol == 16 ? lengths[position - 1] : int16_t{0};
        for (const int32_t end = position + run; position < end; ++position) {
            lengths[position] = value;
        }
        bit_buffer >>= len + extra;
        bit_count -= len + extra;
    }
    put_back_bits(state, in, bit_buffer, bit_count);
    return position;
}

void set_fast_path_enabled(bool enabled) {
    fast_enabled.store(enabled, std::memory_order_relaxed);
}

bool fast_path_enabled() {
    return fast_enabled.load(std::memory_order_relaxed);
}

void set_fast_path_reader_bits(uint32_t bits) {
    reader_bits.store(bits == 32 ? 32u : 64u, std::memory_order_relaxed);
}

void set_fast_path_best_loop(FastLoop loop) {
    best_loop_allowed.store(loop, std::memory_order_relaxed);
}

bool fast_path_loop_available(FastLoop loop) {
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

// The table-driven loop, written once: a template over the bit buffer's word
// (Bits: uint64_t or uint32_t) and the instruction set, instantiated per
// target by fast_dispatch.cpp. The places where the two words differ are
// compile-time branches on WIDE.
#ifndef TAVRIMOX_FAST_LOOP_H
#define TAVRIMOX_FAST_LOOP_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "deflate_tables.h"
#include "fast_path.h"
#include "fast_target.h"
#include "match_copy.h"
#include "word_reader.h"

// The last output position a step may start at: room for the widest step
// remains, and a loop that tests distances stays below MAX_DISTANCE, where
// it hands back to the caller, who from there on runs the loop without the
// test.
template <bool COUNT_ONLY, bool CHECK_DISTANCE>
FAST_LOOP_INLINE uint32_t last_step_start(const InflateState& state) {
    return std::min((COUNT_ONLY ? UINT32_MAX : state.output_capacity) - FAST_OUTPUT_MARGIN,
                    CHECK_DISTANCE ? MAX_DISTANCE - 1 : UINT32_MAX);
}

// A place in the output (see Kept): with a 64-bit word, a position as wide
// as a pointer, so that each use as an index needs no zero-extension; with a
// 32-bit word, for processors short of registers, the address, one register
// for both buffer and position (with no buffer, the position).
template <bool WIDE, bool COUNT_ONLY>
using Place = std::conditional_t<WIDE, size_t, std::conditional_t<COUNT_ONLY, uint32_t, uint8_t*>>;

template <typename P>
FAST_LOOP_INLINE P place_at(uint8_t* output, uint32_t position) {
    if constexpr (std::is_pointer_v<P>) {
        return output + position;
    } else {
        return position;
    }
}

template <typename P>
FAST_LOOP_INLINE auto position_of(P place, const uint8_t* output) {
    if constexpr (std::is_pointer_v<P>) {
        return static_cast<uint32_t>(place - output);
    } else {
        return place;
    }
}

// Decodes literals and matches from the state's position (see decode_fast).
//
// The reader: bit_count bits of bit_buffer are accounted for, exact in their
// low log2(W) bits only, since whole entries are subtracted from bit_count
// (an entry's low byte is the number of bits it consumes); the bits above
// them are the stream's own next bits, up to the last refill's W, then
// zeros. Consumed so far: 8 * (in - state.input) - bit_count bits, always.
// With W = 64 a refill leaves 56 bits, enough for a whole match (15 + 5 + 15
// + 13), and a step takes at most 48 bits before the next refill, so at least
// 16 real bits are always there: enough to look up the next entry (11 bits,
// or 15 for a long code) before the refill, off the refill's path.
// With W = 32 a refill leaves 24 bits: enough for a literal or a length
// (15 + 5 bits), looked up after the refill. The distance's entry is looked
// up from the bits the length leaves, and a second refill brings its extra
// bits (a table code: 8 + 13); a longer distance code whose extra bits do
// not fit is handed back. Two refills read at most 3 + 4 bytes from
// `in`, within the input margin.
template <typename Bits, FastLoop TARGET, bool COUNT_ONLY, bool CHECK_DISTANCE>
FAST_LOOP_INLINE int32_t fast_loop(InflateState& state, const FastCode& fast) {
    constexpr bool WIDE = sizeof(Bits) == 8;
    constexpr uint32_t SHIFT_MASK = 8 * sizeof(Bits) - 1;
    constexpr bool BMI2 = TARGET == FAST_LOOP_BMI2;
    constexpr bool VECTOR = HAS_SSE2_LOOP && TARGET != FAST_LOOP_PORTABLE;
    constexpr uint32_t LITLEN_MASK = (1u << FAST_LITLEN_BITS) - 1;
    constexpr uint32_t DISTANCE_MASK = (1u << FAST_DISTANCE_BITS) - 1;
    using Out = Place<WIDE, COUNT_ONLY>;
    const uint8_t* const input_end = state.input + (state.input_length - FAST_INPUT_MARGIN);
    uint8_t* const output = state.output;
    const Out output_end = place_at<Out>(output, last_step_start<COUNT_ONLY, CHECK_DISTANCE>(state));

    const uint8_t* in = state.input + state.input_count;
    Bits bit_buffer = static_cast<uint32_t>(state.bit_buffer);
    uint32_t bit_count = static_cast<uint32_t>(state.bit_count);
    Out out = place_at<Out>(output, state.output_count);
    int32_t result = 0;
    Kept kept;
    Out dirty = out;

    const auto next_entry = [&] { return fast.litlen.entries[bit_buffer & LITLEN_MASK]; };
    const auto take_literal = [&](uint32_t literal) {
        bit_buffer >>= literal & SHIFT_MASK;
        bit_count -= literal;
        if constexpr (!COUNT_ONLY) {
            *address_of(output, out) = static_cast<uint8_t>(literal >> 16);
        }
        out += 1;
    };
    // The same for the next bits, which may not be a literal's, without a
    // branch: a literal is taken; anything else, whose entry in
    // fast.literals is 0, consumes nothing and stores the byte already
    // there, so the caller's bytes stay as they were.
    const auto take_if_literal = [&] {
        const uint32_t e = fast.literals[bit_buffer & LITLEN_MASK];
        const uint32_t literal = e >> 15;
        bit_buffer >>= e & SHIFT_MASK;
        bit_count -= e;
        if constexpr (!COUNT_ONLY) {
            const uint8_t before = *address_of(output, out);
            *address_of(output, out) = literal != 0 ? static_cast<uint8_t>(e >> 7) : before;
        }
        out += literal;
    };
    // The entry for the bits at hand: with W = 64 looked up before the
    // refill, and carried from step to step.
    uint32_t entry = 0;
    const auto look_ahead = [&] {
        if constexpr (WIDE) {
            entry = next_entry();
        }
    };
    if constexpr (WIDE) {
        refill_bits(in, bit_buffer, bit_count);
        look_ahead();
    }
    // The margins are tested before every refill, the first included: a
    // refill above may have moved `in` up to 7 bytes closer to the end.
    while (in <= input_end && out <= output_end) {
        refill_bits(in, bit_buffer, bit_count);
        if constexpr (!WIDE) {
            entry = next_entry();
        }
        if (entry & FAST_LITERAL_FLAG) {
            // Up to two literals per refill: a literal takes at most 11 of
            // the bits at hand, which leaves enough to look up the next
            // entry. Whether a second literal follows is close to a coin
            // toss in most streams, so it is taken without a branch that
            // would be mispredicted; a third step, branch-free or not, costs
            // more than it saves.
            take_literal(entry);
            take_if_literal();
            look_ahead();
            continue;
        }
        uint32_t length = entry >> 16;
        // Here and in copy_match the rare branches are marked, so that a
        // whole length, a one-level distance and a match of up to 32 bytes
        // from 16 or more back run straight through.
        [[maybe_unused]] bool late = false;  // a special entry: see below
        if (entry & FAST_SPECIAL_FLAG) [[unlikely]] {
            late = true;
            uint32_t kind = (entry >> 12) & 3;
            if (kind == FAST_LONG) {
                entry = walk_long_code(fast.litlen, bit_buffer);
                if (entry & FAST_LITERAL_FLAG) {
                    take_literal(entry);
                    look_ahead();
                    continue;
                }
                kind = (entry >> 12) & 3;  // a length from the walk: FAST_LENGTH_EXTRA
            }
            if (kind == FAST_END_OF_BLOCK) {
                bit_buffer >>= entry & SHIFT_MASK;
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
        // bad one is handed back whole: the reader after the length is a
        // copy (bits, count), and with W = 32, whose second refill moves
        // `in`, a hand-back puts `in` back to match_in.
        const uint8_t* const match_in = in;
        Bits after_length = bit_buffer >> (entry & SHIFT_MASK);
        uint32_t count = bit_count;  // with W = 32: the bits at hand after the length
        uint32_t dentry = fast.distance.entries[after_length & DISTANCE_MASK];
        if constexpr (!WIDE) {
            // A whole length takes at most 11 of the 24 bits at hand, which
            // leaves the distance table's bits: looked up above, before the
            // refill, so that the lookup does not wait on it. After a
            // special entry it is looked up again: the same entry, since
            // the word holds 32 of the stream's bits after a refill, but
            // without this the compiler allocated the loop's registers
            // otherwise and it ran no faster. `late` is known on each way
            // in, so the compiler tests it on neither.
            count -= entry;
            refill_bits(in, after_length, count);
            if (late) [[unlikely]] {
                dentry = fast.distance.entries[after_length & DISTANCE_MASK];
            }
        }
        if (dentry & (3u << 12)) [[unlikely]] {
            if (((dentry >> 12) & 3) != FAST_LONG) {
                in = match_in;
                break;
            }
            dentry = walk_long_code(fast.distance, after_length);
            if ((dentry & (3u << 12)) || (!WIDE && (dentry & 0xFF) > (count & 31))) {
                in = match_in;
                break;
            }
        }
        const uint32_t distance =
            (dentry >> 16) + static_cast<uint32_t>(extra_bits<BMI2>(after_length, dentry));
        if (CHECK_DISTANCE && distance > position_of(out, output)) {
            in = match_in;
            break;
        }
        bit_buffer = after_length >> (dentry & SHIFT_MASK);
        if constexpr (WIDE) {
            bit_count -= entry;
            bit_count -= dentry;
        } else {
            bit_count = count - dentry;
        }
        look_ahead();
        if constexpr (!COUNT_ONLY) {
            copy_match<VECTOR>(kept, dirty, output, out, distance, length);
        }
        out += length;
    }

    put_back_bits(state, in, bit_buffer, bit_count);
    state.output_count = static_cast<uint32_t>(position_of(out, output));
    if constexpr (!COUNT_ONLY) {
        restore_callers_bytes(kept, dirty, output, out);
    }
    return result;
}

#endif

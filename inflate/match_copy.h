// Match copy for the table-driven path, with the ring that keeps the
// caller's bytes a copy may overwrite past the match's end.
#ifndef TAVRIMOX_MATCH_COPY_H
#define TAVRIMOX_MATCH_COPY_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "fast_target.h"

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
inline constexpr Periods PERIODS = make_periods();

// Where the second 16-byte block of a match of 32 bytes or fewer starts:
// max(length, 16) - 16, so that it ends at the match's end, or starts at the
// match's start for a match shorter than 16. Looked up, as one load, in place
// of the max and the subtraction on every short match.
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
inline constexpr SecondBlock SECOND_BLOCK = make_second_block();

// A long match's keeps read the caller's bytes ahead of the output, which in
// a large output are not in the cache yet, and a load that misses holds up
// the loop where a store would not. Asked for this far ahead after each long
// match, they are there in time. A prefetch is a hint that reads nothing and
// cannot fault, so the address may lie past the buffer; it is formed as an
// integer, since a pointer past the buffer's end is undefined. Inlined by
// force: a call to it, having no effect the compiler can see, is dropped.
inline constexpr uintptr_t OUTPUT_PREFETCH_AHEAD = 1024;

FAST_LOOP_INLINE void prefetch_for_write([[maybe_unused]] const uint8_t* at, [[maybe_unused]] uintptr_t ahead) {
#if defined(__GNUC__)
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(at) + ahead), 1);
#endif
}

// Copies a match: the bytes of a copy one byte at a time, lowest first, and
// up to 31 more past its end (see Kept).
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

#endif

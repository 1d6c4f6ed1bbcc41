#include "fast_table.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>
#include <iterator>
#include <type_traits>

#include "deflate_tables.h"
#include "fixed_code.h"

namespace {

enum class TableKind : uint8_t { LITLEN, DISTANCE, CODE_LENGTH };

// A symbol's entry without its code length, which the table fill adds.
template <TableKind KIND>
constexpr uint32_t entry_of_symbol(int32_t symbol) {
    if constexpr (KIND == TableKind::DISTANCE) {
        return static_cast<uint32_t>(DISTANCE_BASE[symbol]) << 16 |
               static_cast<uint32_t>(DISTANCE_EXTRA[symbol]);
    } else if constexpr (KIND == TableKind::CODE_LENGTH) {
        return static_cast<uint32_t>(symbol) << 16;
    } else {
        if (symbol < 256) {
            return FAST_LITERAL_FLAG | static_cast<uint32_t>(symbol) << 16;
        }
        if (symbol == 256) {
            return fast_special_entry(FAST_END_OF_BLOCK);
        }
        if (symbol > 285) {
            return fast_special_entry(FAST_INVALID);
        }
        const int32_t i = symbol - 257;
        return static_cast<uint32_t>(LENGTH_BASE[i]) << 16 | static_cast<uint32_t>(LENGTH_EXTRA[i]);
    }
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
// In the literal/length table, a length code of L bits whose E extra bits fit
// in the table beside it gets the whole length in its entries, so that the
// loop reads no extra bits for most matches: the pattern with the code's L
// bits and then the E-bit value x holds base + x and consumes L + E bits,
// placed as a code of L + E bits would be, one store each, and copied on with
// the rest. One whose extra bits do not fit is marked FAST_LENGTH_EXTRA, for
// the loop to read them. Worked value: fixed-code symbol 265 (code 0001001,
// stream bits 1001000 = 72, 1 extra bit, base 11) is placed at 72 (length 11)
// and 200 (length 12) once the table holds the codes of up to 8 bits.
template <TableKind KIND, int32_t BITS, int32_t SYMBOLS>
constexpr void build_fast_table(FastTable<BITS, SYMBOLS>& fast, const HuffmanTable& table) {
    constexpr bool WHOLE_LENGTHS = KIND == TableKind::LITLEN;
    fast.entries[0] = fast_special_entry(FAST_INVALID);
    fast.entries[1] = fast_special_entry(FAST_INVALID);
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
            const uint32_t entry = entry_of_symbol<KIND>(table.symbols[position]);
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
                fast.entries[stream_bits & ((1u << BITS) - 1)] = fast_special_entry(FAST_LONG);
            }
        }
        code <<= 1;
    }
}

// A litlen entry as FastCode::literals holds it.
constexpr uint16_t literal_entry(uint32_t entry) {
    const uint32_t literal = (entry & 0xFF) | (entry >> 16 & 0xFF) << 7 | 1u << 15;
    return static_cast<uint16_t>(literal & (0u - (entry >> 31)));
}

#if defined(__SSE2__)
// Once per block, so it counts where blocks are small and decode fast. The
// compiler narrows 32-bit lanes to 16 with a dozen shuffles per 8 entries;
// SSE2's saturating pack does it in one, and exactly for values from -0x8000
// to 0x7FFF: a literal's entry with its flag is one of these (as a negative
// 32-bit value: its flag and every bit above it set), any other entry 0.
void pack_literal_entries(FastCode& fast) {
    const __m128i low_byte = _mm_set1_epi32(0xFF);
    const __m128i byte_bits = _mm_set1_epi32(0x7F80);
    const __m128i flag_and_above = _mm_set1_epi32(static_cast<int32_t>(0xFFFF8000u));
    const auto literal_entries = [&](__m128i entries) {
        const __m128i byte = _mm_and_si128(_mm_srli_epi32(entries, 9), byte_bits);
        const __m128i entry = _mm_or_si128(_mm_or_si128(_mm_and_si128(entries, low_byte), byte), flag_and_above);
        return _mm_and_si128(entry, _mm_srai_epi32(entries, 31));  // all ones for a literal
    };
    for (size_t i = 0; i < std::size(fast.literals); i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fast.litlen.entries + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fast.litlen.entries + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(fast.literals + i),
                         _mm_packs_epi32(literal_entries(a), literal_entries(b)));
    }
}
#endif

constexpr void build_fast_code_tables(FastCode& fast, const HuffmanTable& litlen,
                                      const HuffmanTable& distance) {
    build_fast_table<TableKind::LITLEN>(fast.litlen, litlen);
#if defined(__SSE2__)
    if (!std::is_constant_evaluated()) {
        pack_literal_entries(fast);
    } else
#endif
    {
        for (size_t i = 0; i < std::size(fast.literals); ++i) {
            fast.literals[i] = literal_entry(fast.litlen.entries[i]);
        }
    }
    build_fast_table<TableKind::DISTANCE>(fast.distance, distance);
}

constexpr FastCode make_fixed_fast_code() {
    FixedCode fixed = make_fixed_code();
    HuffmanTable litlen = {fixed.litlen_counts, fixed.litlen_symbols};
    HuffmanTable distance = {fixed.distance_counts, fixed.distance_symbols};
    FastCode fast{};
    build_fast_code_tables(fast, litlen, distance);
    return fast;
}

}  // namespace

constinit const FastCode fixed_fast_code = make_fixed_fast_code();

void build_fast_code(FastCode& fast, const HuffmanTable& litlen, const HuffmanTable& distance) {
    build_fast_code_tables(fast, litlen, distance);
}

void build_fast_code_lengths(FastCodeLengthTable& fast, const HuffmanTable& code) {
    build_fast_table<TableKind::CODE_LENGTH>(fast, code);
}

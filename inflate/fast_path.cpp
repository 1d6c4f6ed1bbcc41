#include "fast_path.h"

#include <atomic>
#include <cstring>

#include "block_data.h"
#include "fixed_code.h"

namespace {

constexpr uint32_t make_entry(uint32_t kind, uint32_t value, uint32_t extra) {
    return value << 16 | kind << 8 | extra << 4;
}

constexpr uint32_t litlen_entry(int32_t symbol) {
    if (symbol < 256) {
        return make_entry(FAST_LITERAL, static_cast<uint32_t>(symbol), 0);
    }
    if (symbol == 256) {
        return make_entry(FAST_END_OF_BLOCK, 0, 0);
    }
    if (symbol > 285) {
        return make_entry(FAST_INVALID, 0, 0);
    }
    const int32_t i = symbol - 257;
    return make_entry(FAST_LENGTH, static_cast<uint32_t>(LENGTH_BASE[i]),
                      static_cast<uint32_t>(LENGTH_EXTRA[i]));
}

constexpr uint32_t distance_entry(int32_t symbol) {
    return make_entry(FAST_LENGTH, static_cast<uint32_t>(DISTANCE_BASE[symbol]),
                      static_cast<uint32_t>(DISTANCE_EXTRA[symbol]));
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

// Every pattern starts INVALID; each code of up to BITS bits fills the
// 2^(BITS - L) entries that begin with it; longer codes mark their BITS-bit
// prefix LONG and are found by the canonical walk.
template <int32_t BITS, int32_t SYMBOLS, typename EntryOf>
constexpr void build_fast_table(FastTable<BITS, SYMBOLS>& fast, const HuffmanTable& table,
                                EntryOf entry_of_symbol) {
    for (uint32_t& e : fast.entries) {
        e = make_entry(FAST_INVALID, 0, 0);
    }
    uint32_t code = 0;
    uint32_t position = 0;
    fast.first[0] = 0;
    fast.count[0] = 0;
    fast.offset[0] = 0;
    for (int32_t len = 1; len <= MAX_CODE_BITS; ++len) {
        const uint32_t count = static_cast<uint32_t>(table.length_counts[len]);
        fast.first[len] = code;
        fast.count[len] = count;
        fast.offset[len] = position;
        for (uint32_t k = 0; k < count; ++k, ++code, ++position) {
            const uint32_t entry = entry_of_symbol(table.symbols[position]);
            fast.entry_of[position] = entry;
            const uint32_t stream_bits = reverse15(code << (MAX_CODE_BITS - len));
            if (len <= BITS) {
                for (uint32_t i = stream_bits; i < (1u << BITS); i += 1u << len) {
                    fast.entries[i] = entry | static_cast<uint32_t>(len);
                }
            } else {
                fast.entries[stream_bits & ((1u << BITS) - 1)] = make_entry(FAST_LONG, 0, 0);
            }
        }
        code <<= 1;
    }
}

constexpr void build_fast_code_tables(FastCode& fast, const HuffmanTable& litlen,
                                      const HuffmanTable& distance) {
    build_fast_table(fast.litlen, litlen, litlen_entry);
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

// The walk for a code longer than the table: the next 15 stream bits read as
// a code, tried at each length beyond BITS. Returns the entry with its code
// length, or an INVALID entry when no code matches.
template <int32_t BITS, int32_t SYMBOLS>
inline uint32_t walk_long_code(const FastTable<BITS, SYMBOLS>& fast, uint64_t bits) {
    const uint32_t code15 = reverse15(static_cast<uint32_t>(bits));
    for (int32_t len = BITS + 1; len <= MAX_CODE_BITS; ++len) {
        const uint32_t code = code15 >> (MAX_CODE_BITS - len);
        if (code - fast.first[len] < fast.count[len]) {
            return fast.entry_of[fast.offset[len] + code - fast.first[len]] |
                   static_cast<uint32_t>(len);
        }
    }
    return make_entry(FAST_INVALID, 0, 0);
}

inline uint64_t load_le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Copies a match lowest byte first in effect, never writing past its end.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    if (distance >= 8) {
        // Each 8-byte load lies wholly before the bytes it is stored over.
        uint32_t done = 0;
        for (; done + 8 <= length; done += 8) {
            uint64_t word;
            std::memcpy(&word, from + done, 8);
            std::memcpy(out + done, &word, 8);
        }
        if (done < length) {
            if (length >= 8) {
                // The last 8 bytes again: what it rewrites it rewrites unchanged.
                uint64_t word;
                std::memcpy(&word, from + length - 8, 8);
                std::memcpy(out + length - 8, &word, 8);
            } else {
                for (; done < length; ++done) {
                    out[done] = from[done];
                }
            }
        }
    } else if (distance == 1) {
        std::memset(out, out[-1], length);
    } else {
        for (uint32_t i = 0; i < length; ++i) {
            out[i] = from[i];
        }
    }
}

template <bool COUNT_ONLY>
int32_t decode_fast_loop(InflateState& state, const FastCode& fast) {
    constexpr uint32_t LITLEN_MASK = (1u << FAST_LITLEN_BITS) - 1;
    constexpr uint32_t DISTANCE_MASK = (1u << FAST_DISTANCE_BITS) - 1;
    const uint8_t* const input = state.input;
    const uint32_t input_end = state.input_length - FAST_INPUT_MARGIN;
    const uint32_t output_end =
        (COUNT_ONLY ? UINT32_MAX : state.output_capacity) - FAST_OUTPUT_MARGIN;
    uint8_t* const output = state.output;

    // bit_buffer holds bit_count valid bits; bits above them are either zero
    // or the stream's own next bits, so or-ing a fresh load over them is safe.
    // Consumed so far: 8 * in - bit_count bits, always.
    uint32_t in = state.input_count;
    uint64_t bit_buffer = static_cast<uint32_t>(state.bit_buffer);
    uint32_t bit_count = static_cast<uint32_t>(state.bit_count);
    uint32_t out = state.output_count;
    int32_t result = 0;

    while (in <= input_end && out <= output_end) {
        // Refill to 56..63 bits: enough for a whole match (15 + 5 + 15 + 13).
        bit_buffer |= load_le64(input + in) << bit_count;
        in += (63 - bit_count) >> 3;
        bit_count |= 56;
        const uint64_t saved_buffer = bit_buffer;
        const uint32_t saved_count = bit_count;

        uint32_t entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
        uint32_t kind = (entry >> 8) & 7;
        if (kind == FAST_LITERAL) {
            // Up to three literals per refill: 3 * 15 bits fit in 56.
            for (int32_t n = 0;;) {
                const uint32_t len = entry & 15;
                bit_buffer >>= len;
                bit_count -= len;
                if (!COUNT_ONLY) {
                    output[out] = static_cast<uint8_t>(entry >> 16);
                }
                out += 1;
                if (++n == 3) {
                    break;
                }
                entry = fast.litlen.entries[bit_buffer & LITLEN_MASK];
                if (((entry >> 8) & 7) != FAST_LITERAL) {
                    break;
                }
            }
            continue;
        }
        if (kind == FAST_LONG) {
            entry = walk_long_code(fast.litlen, bit_buffer);
            kind = (entry >> 8) & 7;
            if (kind == FAST_LITERAL) {
                const uint32_t len = entry & 15;
                bit_buffer >>= len;
                bit_count -= len;
                if (!COUNT_ONLY) {
                    output[out] = static_cast<uint8_t>(entry >> 16);
                }
                out += 1;
                continue;
            }
        }
        if (kind == FAST_END_OF_BLOCK) {
            const uint32_t len = entry & 15;
            bit_buffer >>= len;
            bit_count -= len;
            result = 1;
            break;
        }
        if (kind != FAST_LENGTH) {
            break;  // the exact decode reports it
        }
        uint32_t len = entry & 15;
        uint32_t extra = (entry >> 4) & 15;
        bit_buffer >>= len;
        const uint32_t length =
            (entry >> 16) + static_cast<uint32_t>(bit_buffer & ((1u << extra) - 1));
        bit_buffer >>= extra;
        bit_count -= len + extra;

        entry = fast.distance.entries[bit_buffer & DISTANCE_MASK];
        if (((entry >> 8) & 7) == FAST_LONG) {
            entry = walk_long_code(fast.distance, bit_buffer);
        }
        if (((entry >> 8) & 7) != FAST_LENGTH) {
            bit_buffer = saved_buffer;
            bit_count = saved_count;
            break;
        }
        len = entry & 15;
        extra = (entry >> 4) & 15;
        bit_buffer >>= len;
        const uint32_t distance =
            (entry >> 16) + static_cast<uint32_t>(bit_buffer & ((1u << extra) - 1));
        if (distance > out) {
            bit_buffer = saved_buffer;
            bit_count = saved_count;
            break;
        }
        bit_buffer >>= extra;
        bit_count -= len + extra;
        if (!COUNT_ONLY) {
            copy_match(output + out, distance, length);
        }
        out += length;
    }

    // Back to the exact decode's form: input_count covers every byte holding
    // a consumed bit, and the pending bits are that byte's unread high bits.
    const uint32_t consumed_bits_mod = bit_count & 7;  // 8 * in - consumed, mod 8
    const uint32_t whole_bytes = bit_count >> 3;      // loaded but untouched
    state.input_count = in - whole_bytes;
    state.bit_count = static_cast<int32_t>(consumed_bits_mod);
    state.bit_buffer = static_cast<int32_t>(bit_buffer & ((1u << consumed_bits_mod) - 1));
    state.output_count = out;
    return result;
}

}  // namespace

constinit const FastCode fixed_fast_code = make_fixed_fast_code();

void build_fast_code(FastCode& fast, const HuffmanTable& litlen, const HuffmanTable& distance) {
    build_fast_code_tables(fast, litlen, distance);
}

int32_t decode_fast(InflateState& state, const FastCode& fast) {
    // Checked here so that the loop's limits below cannot wrap.
    const bool room = state.output == nullptr
                          ? state.output_count <= UINT32_MAX - FAST_OUTPUT_MARGIN
                          : state.output_capacity - state.output_count >= FAST_OUTPUT_MARGIN;
    if (!room || state.input_length - state.input_count < FAST_INPUT_MARGIN) {
        return 0;
    }
    return state.output == nullptr ? decode_fast_loop<true>(state, fast)
                                   : decode_fast_loop<false>(state, fast);
}

void set_fast_path_enabled(bool enabled) {
    fast_enabled.store(enabled, std::memory_order_relaxed);
}

bool fast_path_enabled() {
    return fast_enabled.load(std::memory_order_relaxed);
}

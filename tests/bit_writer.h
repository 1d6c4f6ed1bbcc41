// Builds DEFLATE bit streams field by field, in the stream's own bit order.
#ifndef TAVRIMOX_TESTS_BIT_WRITER_H
#define TAVRIMOX_TESTS_BIT_WRITER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

struct BitWriter {
    std::vector<uint8_t> bytes;
    int used = 8;  // bits of bytes.back() already taken
};

// Appends the low `count` bits of value, lowest first (header fields, extra bits).
inline void put_bits(BitWriter& w, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        if (w.used == 8) {
            w.bytes.push_back(0);
            w.used = 0;
        }
        w.bytes.back() = static_cast<uint8_t>(w.bytes.back() | ((value >> i) & 1u) << w.used);
        w.used += 1;
    }
}

// Appends a Huffman code of `length` bits, most significant bit first.
inline void put_code(BitWriter& w, uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) {
        put_bits(w, (code >> i) & 1u, 1);
    }
}

// Pads to the next byte boundary with zero bits.
inline void align(BitWriter& w) {
    w.used = 8;
}

inline void put_bytes(BitWriter& w, const std::vector<uint8_t>& data) {
    align(w);
    w.bytes.insert(w.bytes.end(), data.begin(), data.end());
}

// The fixed code's literal/length codes (RFC 1951, 3.2.6).
inline void put_fixed_litlen(BitWriter& w, int symbol) {
    if (symbol < 144) {
        put_code(w, 0x30u + static_cast<uint32_t>(symbol), 8);
    } else if (symbol < 256) {
        put_code(w, 0x190u + static_cast<uint32_t>(symbol - 144), 9);
    } else if (symbol < 280) {
        put_code(w, static_cast<uint32_t>(symbol - 256), 7);
    } else {
        put_code(w, 0xC0u + static_cast<uint32_t>(symbol - 280), 8);
    }
}

// ---- Positions, bulk bits and splicing ----

// Bits written so far.
inline uint64_t bit_length(const BitWriter& w) {
    return static_cast<uint64_t>(w.bytes.size()) * 8u - static_cast<uint64_t>(8 - w.used);
}

// Bytes that hold the first `bits` bits: what a decode that stopped right
// after them has consumed.
inline uint32_t bytes_for_bits(uint64_t bits) {
    return static_cast<uint32_t>((bits + 7u) / 8u);
}

// The consumed count of a decode that stopped right after the last bit written so far.
inline uint32_t consumed_now(const BitWriter& w) {
    return bytes_for_bits(bit_length(w));
}

// Appends `count` zero bits quickly (whole zero bytes where possible).
inline void put_zero_bits(BitWriter& w, uint64_t count) {
    while (count > 0 && w.used != 8) {
        put_bits(w, 0, 1);
        count -= 1;
    }
    w.bytes.resize(w.bytes.size() + static_cast<size_t>(count / 8u), 0);
    put_bits(w, 0, static_cast<int>(count % 8u));
}

// Appends every bit written to `src`, in order.
inline void append_bits(BitWriter& w, const BitWriter& src) {
    const uint64_t n = bit_length(src);
    for (uint64_t i = 0; i < n; ++i) {
        put_bits(w, static_cast<uint32_t>(src.bytes[static_cast<size_t>(i / 8u)] >> (i % 8u)) & 1u, 1);
    }
}

// Fills the rest of the current byte with ones, then appends `extra` bytes of
// 0xFF: input that a decode which stopped earlier must not have touched.
inline void put_trailing(BitWriter& w, int extra = 2) {
    while (w.used != 8) {
        put_bits(w, 1, 1);
    }
    w.bytes.insert(w.bytes.end(), static_cast<size_t>(extra), uint8_t{0xFF});
}

// ---- Block headers and the length/distance alphabets (RFC 1951, 3.2.5) ----

// BFINAL then BTYPE (0 stored, 1 fixed, 2 dynamic, 3 reserved).
inline void put_block_header(BitWriter& w, bool last, uint32_t type) {
    put_bits(w, last ? 1u : 0u, 1);
    put_bits(w, type, 2);
}

// A symbol of the length or distance alphabet with its extra bits.
struct SymbolWithExtra {
    int symbol;
    uint32_t extra;
    int extra_bits;
};

inline constexpr int RFC_LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,
                                            15, 17, 19, 23, 27, 31, 35, 43,  51,  59,
                                            67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr int RFC_LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr int RFC_DISTANCE_BASE[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr int RFC_DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Length 3..258 -> symbol 257..285 (258 is symbol 285, not 284 + 31).
inline SymbolWithExtra length_symbol(int length) {
    if (length == 258) {
        return {285, 0, 0};
    }
    int i = 27;
    while (RFC_LENGTH_BASE[i] > length) {
        --i;
    }
    return {257 + i, static_cast<uint32_t>(length - RFC_LENGTH_BASE[i]), RFC_LENGTH_EXTRA[i]};
}

// Distance 1..32768 -> symbol 0..29.
inline SymbolWithExtra distance_symbol(int distance) {
    int d = 29;
    while (RFC_DISTANCE_BASE[d] > distance) {
        --d;
    }
    return {d, static_cast<uint32_t>(distance - RFC_DISTANCE_BASE[d]), RFC_DISTANCE_EXTRA[d]};
}

// The fixed code's five-bit distance codes (symbols 30 and 31 have codes but no meaning).
inline void put_fixed_distance(BitWriter& w, int symbol) {
    put_code(w, static_cast<uint32_t>(symbol), 5);
}

// A whole fixed-code match: length symbol, its extra bits, distance code, its extra bits.
inline void put_fixed_match(BitWriter& w, int length, int distance) {
    const SymbolWithExtra l = length_symbol(length);
    put_fixed_litlen(w, l.symbol);
    put_bits(w, l.extra, l.extra_bits);
    const SymbolWithExtra d = distance_symbol(distance);
    put_fixed_distance(w, d.symbol);
    put_bits(w, d.extra, d.extra_bits);
}

// ---- Canonical codes and dynamic block headers (RFC 1951, 3.2.2 and 3.2.7) ----

// The codes that a list of code lengths stands for (0 = no code).
struct CanonicalCode {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
};

// RFC 1951, 3.2.2. The lengths need not form a complete code; over-subscribed
// lists give codes that collide (only useful to write streams that fail).
inline CanonicalCode canonical_code(const std::vector<int>& lengths) {
    int bl_count[16] = {};
    for (const int len : lengths) {
        bl_count[len] += 1;
    }
    bl_count[0] = 0;
    uint32_t next_code[16] = {};
    uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + static_cast<uint32_t>(bl_count[bits - 1])) << 1;
        next_code[bits] = code;
    }
    CanonicalCode result{lengths, std::vector<uint32_t>(lengths.size(), 0)};
    for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) {
            result.codes[s] = next_code[lengths[s]]++;
        }
    }
    return result;
}

// Appends the code of `symbol`, which must have a nonzero length.
inline void put_symbol(BitWriter& w, const CanonicalCode& code, int symbol) {
    put_code(w, code.codes[static_cast<size_t>(symbol)], code.lengths[static_cast<size_t>(symbol)]);
}

// Entry k names the code-length symbol whose length is the k-th 3-bit field.
inline constexpr int RFC_CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};

// Block header of a dynamic block, then HLIT, HDIST, HCLEN formed from the
// counts (no range check, so 288 literal/length codes give HLIT 31), then the
// first `cl_count` code-length lengths in the permuted order, taken from
// cl_lengths (indexed by code-length symbol 0..18).
inline void put_dynamic_start(BitWriter& w, bool last, int litlen_count, int distance_count,
                              const std::vector<int>& cl_lengths, int cl_count) {
    put_block_header(w, last, 2);
    put_bits(w, static_cast<uint32_t>(litlen_count - 257), 5);
    put_bits(w, static_cast<uint32_t>(distance_count - 1), 5);
    put_bits(w, static_cast<uint32_t>(cl_count - 4), 4);
    for (int k = 0; k < cl_count; ++k) {
        put_bits(w, static_cast<uint32_t>(cl_lengths[static_cast<size_t>(RFC_CODE_LENGTH_ORDER[k])]), 3);
    }
}

// One code-length symbol and, for 16, 17 and 18, its extra bits (2, 3, 7).
inline void put_code_length_symbol(BitWriter& w, const CanonicalCode& cl, int symbol,
                                   uint32_t extra = 0) {
    put_symbol(w, cl, symbol);
    if (symbol == 16) {
        put_bits(w, extra, 2);
    } else if (symbol == 17) {
        put_bits(w, extra, 3);
    } else if (symbol == 18) {
        put_bits(w, extra, 7);
    }
}

// The code-length lengths of put_dynamic_header: symbols 0 to 15 four bits
// each (a complete code), no repeat symbols.
inline std::vector<int> literal_code_length_lengths() {
    std::vector<int> cl(19, 0);
    for (int s = 0; s < 16; ++s) {
        cl[static_cast<size_t>(s)] = 4;
    }
    return cl;
}

struct DynamicCodes {
    CanonicalCode litlen;
    CanonicalCode distance;
};

// A whole dynamic block header: counts from the list sizes, HCLEN 15, and
// every length written as its own code-length symbol (no runs). Returns the
// block's codes, for writing its data.
inline DynamicCodes put_dynamic_header(BitWriter& w, bool last, const std::vector<int>& litlen_lengths,
                                       const std::vector<int>& distance_lengths) {
    const std::vector<int> cl_lengths = literal_code_length_lengths();
    put_dynamic_start(w, last, static_cast<int>(litlen_lengths.size()),
                      static_cast<int>(distance_lengths.size()), cl_lengths, 19);
    const CanonicalCode cl = canonical_code(cl_lengths);
    for (const int len : litlen_lengths) {
        put_code_length_symbol(w, cl, len);
    }
    for (const int len : distance_lengths) {
        put_code_length_symbol(w, cl, len);
    }
    return {canonical_code(litlen_lengths), canonical_code(distance_lengths)};
}

// A list of `count` zero lengths with the given (symbol, length) pairs set.
inline std::vector<int> lengths_with(int count, std::initializer_list<std::pair<int, int>> set) {
    std::vector<int> lengths(static_cast<size_t>(count), 0);
    for (const auto& [symbol, length] : set) {
        lengths[static_cast<size_t>(symbol)] = length;
    }
    return lengths;
}

// A whole dynamic-code match: length symbol, extra bits, distance symbol, extra bits.
inline void put_dynamic_match(BitWriter& w, const DynamicCodes& codes, int length, int distance) {
    const SymbolWithExtra l = length_symbol(length);
    put_symbol(w, codes.litlen, l.symbol);
    put_bits(w, l.extra, l.extra_bits);
    const SymbolWithExtra d = distance_symbol(distance);
    put_symbol(w, codes.distance, d.symbol);
    put_bits(w, d.extra, d.extra_bits);
}

#endif

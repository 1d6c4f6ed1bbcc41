// Builds DEFLATE bit streams field by field, in the stream's own bit order.
#ifndef TAVRIMOX_TESTS_BIT_WRITER_H
#define TAVRIMOX_TESTS_BIT_WRITER_H

#include <cstdint>
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

#endif

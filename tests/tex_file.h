// Assembles TEX files and the DDS files they should convert to, byte by byte,
// independently of the driver's own layout code.
#ifndef TAVRIMOX_TESTS_TEX_FILE_H
#define TAVRIMOX_TESTS_TEX_FILE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline void put_le(Bytes& out, size_t offset, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Resize and copy: GCC 12 misreports vector::insert at the end (-Warray-bounds).
inline Bytes concat(Bytes a, const Bytes& b) {
    const size_t old = a.size();
    a.resize(old + b.size());
    std::copy(b.begin(), b.end(), a.begin() + static_cast<std::ptrdiff_t>(old));
    return a;
}

struct TexFields {
    uint16_t width = 0x0100;
    uint16_t height = 0x0080;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
    uint8_t filler = 0;  // the value of the bytes the format leaves uninterpreted
};

// 32 header bytes: "TEX ", width, height, 12 filler, compressed_size,
// uncompressed_size, 4 filler.
inline Bytes tex_header(const TexFields& f) {
    Bytes h(32, f.filler);
    h[0] = 'T';
    h[1] = 'E';
    h[2] = 'X';
    h[3] = ' ';
    put_le(h, 4, f.width, 2);
    put_le(h, 6, f.height, 2);
    put_le(h, 20, f.compressed_size, 4);
    put_le(h, 24, f.uncompressed_size, 4);
    return h;
}

// A TEX file announcing exactly the payload given.
inline Bytes tex_file(const Bytes& payload, uint32_t uncompressed_size, TexFields f = {}) {
    f.compressed_size = static_cast<uint32_t>(payload.size());
    f.uncompressed_size = uncompressed_size;
    return concat(tex_header(f), payload);
}

// A TEX file whose header announces the sizes given, whatever follows it.
inline Bytes tex_with_sizes(uint32_t compressed_size, uint32_t uncompressed_size, const Bytes& payload) {
    TexFields f;
    f.compressed_size = compressed_size;
    f.uncompressed_size = uncompressed_size;
    return concat(tex_header(f), payload);
}

inline Bytes truncated(Bytes b, size_t size) {
    b.resize(size);
    return b;
}

// One stored block; a stream of them is a valid DEFLATE stream once the last
// one has `last` set. data must hold at most 65535 bytes.
inline Bytes stored_block(const Bytes& data, bool last) {
    const auto len = static_cast<uint16_t>(data.size());
    const auto nlen = static_cast<uint16_t>(~len);
    Bytes b = {static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(len),
               static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(nlen),
               static_cast<uint8_t>(nlen >> 8)};
    return concat(std::move(b), data);
}

// The 128 bytes every output starts with, from the DDS field offsets.
inline Bytes expected_dds_header(uint16_t width, uint16_t height) {
    Bytes h(128, 0);
    put_le(h, 0, 0x20534444, 4);   // "DDS "
    put_le(h, 4, 124, 4);          // dwSize
    put_le(h, 8, 0x1007, 4);       // CAPS | HEIGHT | WIDTH | PIXELFORMAT
    put_le(h, 12, height, 4);      // dwHeight before dwWidth
    put_le(h, 16, width, 4);
    put_le(h, 76, 32, 4);          // ddspf.dwSize
    put_le(h, 80, 4, 4);           // DDPF_FOURCC
    put_le(h, 84, 0x35545844, 4);  // "DXT5"
    return h;
}

inline Bytes dds_file(const Bytes& payload, uint16_t width = 0x0100, uint16_t height = 0x0080) {
    return concat(expected_dds_header(width, height), payload);
}

#endif

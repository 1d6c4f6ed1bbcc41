// zlib as a peer: raw DEFLATE streams to decode, and a second opinion on them.
#ifndef TAVRIMOX_TESTS_ZLIB_RAW_H
#define TAVRIMOX_TESTS_ZLIB_RAW_H

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

// Compresses data as raw DEFLATE (windowBits -15). With flush_every > 0 the
// input goes in pieces of that size, each ended by `flush` (Z_SYNC_FLUSH and
// Z_FULL_FLUSH add an empty stored block, Z_PARTIAL_FLUSH an empty fixed
// one); the stream always ends with Z_FINISH.
inline std::vector<uint8_t> zlib_deflate_raw(const std::vector<uint8_t>& data, int level,
                                             int strategy, int flush = Z_NO_FLUSH,
                                             size_t flush_every = 0) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    const size_t pieces = flush_every == 0 ? 1 : data.size() / flush_every + 1;
    // Each flush adds at most a few bytes of block headers and padding.
    std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())) +
                             pieces * 16 + 64);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    size_t at = 0;
    for (;;) {
        const size_t piece = flush_every == 0 ? data.size() - at
                                              : std::min(flush_every, data.size() - at);
        const bool last = at + piece == data.size();
        stream.next_in = const_cast<Bytef*>(data.data() + at);
        stream.avail_in = static_cast<uInt>(piece);
        const int status = deflate(&stream, last ? Z_FINISH : flush);
        if (stream.avail_in != 0 || (last ? status != Z_STREAM_END : status != Z_OK)) {
            deflateEnd(&stream);
            throw std::runtime_error("deflate");
        }
        at += piece;
        if (last) {
            break;
        }
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// zlib's inflate over one whole input: the outcome as our decoder's statuses
// would name it.
enum class Outcome { finished, refused, truncated, output_full };

struct ZlibResult {
    Outcome outcome;
    size_t produced;  // bytes zlib wrote to output before stopping
    size_t consumed;  // total_in; exact only when finished
};

inline ZlibResult zlib_inflate_raw(const uint8_t* input, size_t size, uint8_t* output,
                                   size_t capacity) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) {
        throw std::runtime_error("inflateInit2");
    }
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(capacity);
    const int status = inflate(&stream, Z_NO_FLUSH);
    Outcome outcome = Outcome::truncated;  // all input used, more wanted
    if (status == Z_STREAM_END) {
        outcome = Outcome::finished;
    } else if (status == Z_DATA_ERROR) {
        outcome = Outcome::refused;
    } else if ((status == Z_OK || status == Z_BUF_ERROR) && stream.avail_out == 0) {
        outcome = Outcome::output_full;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
        inflateEnd(&stream);
        throw std::runtime_error("inflate");
    }
    const ZlibResult result{outcome, stream.total_out, stream.total_in};
    inflateEnd(&stream);
    return result;
}

#endif

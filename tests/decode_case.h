// One table row of a decoder test and the checks every row gets.
#ifndef TAVRIMOX_TESTS_DECODE_CASE_H
#define TAVRIMOX_TESTS_DECODE_CASE_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "bit_writer.h"
#include "inflate.h"
#include "inflate_internal.h"

struct DecodeCase {
    std::string name;  // letters, digits and underscores: it becomes the test name
    std::vector<uint8_t> stream;
    uint32_t capacity;
    int32_t status;
    // For statuses 0 and below, the lengths written back. For 1 and 2 the
    // lengths must come back unchanged; `produced` then only documents how
    // many bytes were written before the stop.
    uint32_t produced;
    uint32_t consumed;
    // The bytes at the start of the buffer afterwards; every byte after them
    // must be untouched.
    std::string output;
};

inline void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

// Shorthand for rows built from a BitWriter.
inline DecodeCase decode_case(std::string name, const BitWriter& w, uint32_t capacity,
                              int32_t status, uint32_t produced, uint32_t consumed,
                              std::string output) {
    return {std::move(name), w.bytes, capacity, status, produced, consumed, std::move(output)};
}

// A row for a stream whose decode stops right after the last bit written so
// far, having written `output`; ones fill the rest of the byte and two more,
// which it must not consume.
inline DecodeCase stops_here(std::string name, BitWriter w, uint32_t capacity, int32_t status,
                             std::string output) {
    const uint32_t consumed = consumed_now(w);
    put_trailing(w);
    const auto produced = static_cast<uint32_t>(output.size());
    return {std::move(name), std::move(w.bytes), capacity, status, produced, consumed, std::move(output)};
}

// The stream cut to its first `length` bytes.
inline std::vector<uint8_t> cut(const BitWriter& w, uint32_t length) {
    return {w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

// Facts about a hand-built stream's layout that its row relies on (that an
// element straddles a byte end, say). Rows are built before any test runs, so
// each test file records broken facts here and checks them in a test of its own.
struct LayoutFacts {
    std::vector<std::string> broken;
    void require(bool ok, const std::string& what) {
        if (!ok) {
            broken.push_back(what);
        }
    }
};

// The stream cut inside the element that occupies bits [start, end): the
// bytes before the one holding its last bit. Records a broken fact unless the
// cut leaves part of the element in the input. Expects status 2 with the
// given bytes already written.
inline DecodeCase cut_inside(LayoutFacts& facts, std::string name, const BitWriter& w,
                             uint64_t start, uint64_t end, uint32_t capacity, std::string output) {
    const uint32_t keep = bytes_for_bits(end) - 1;
    facts.require(static_cast<uint64_t>(keep) * 8u > start, name + ": the cut falls before the element");
    const uint32_t produced = static_cast<uint32_t>(output.size());
    return {std::move(name), cut(w, keep), capacity, INFLATE_INPUT_EXHAUSTED, produced, 0, std::move(output)};
}

inline constexpr uint8_t UNTOUCHED = 0xEE;

// Decodes `c` into a buffer of `capacity` bytes (plus a guard) and checks the
// status, both lengths and the buffer.
inline void check_with_buffer(const DecodeCase& c, uint32_t capacity, const DecodeOptions& options) {
    SCOPED_TRACE("capacity " + std::to_string(capacity));
    std::vector<uint8_t> out(static_cast<size_t>(capacity) + 16, UNTOUCHED);
    uint32_t out_len = capacity;
    uint32_t in_len = static_cast<uint32_t>(c.stream.size());
    const int32_t status = inflate_raw_with(out.data(), &out_len, c.stream.data(), &in_len, options);
    EXPECT_EQ(status, c.status);
    if (c.status == INFLATE_OUTPUT_FULL || c.status == INFLATE_INPUT_EXHAUSTED) {
        EXPECT_EQ(out_len, capacity) << "output length must be left as passed";
        EXPECT_EQ(in_len, c.stream.size()) << "input length must be left as passed";
    } else {
        EXPECT_EQ(out_len, c.produced);
        EXPECT_EQ(in_len, c.consumed);
    }
    std::vector<uint8_t> expected(c.output.begin(), c.output.end());
    expected.resize(out.size(), UNTOUCHED);
    EXPECT_EQ(out, expected);
}

// Count-only mode: same status and counts as with a buffer that is big enough.
inline void check_count_only(const DecodeCase& c, const DecodeOptions& options) {
    SCOPED_TRACE("count-only");
    uint32_t out_len = c.capacity;
    uint32_t in_len = static_cast<uint32_t>(c.stream.size());
    const int32_t status = inflate_raw_with(nullptr, &out_len, c.stream.data(), &in_len, options);
    EXPECT_EQ(status, c.status);
    if (c.status == INFLATE_INPUT_EXHAUSTED) {
        EXPECT_EQ(out_len, c.capacity);
        EXPECT_EQ(in_len, c.stream.size());
    } else {
        EXPECT_EQ(out_len, c.produced);
        EXPECT_EQ(in_len, c.consumed);
    }
}

// The row as given; then, unless the row's status is OUTPUT_FULL (which a
// bigger buffer or count-only mode would get past), with a bigger buffer and
// without one, which must agree.
inline void check_one_stream(const DecodeCase& c, const DecodeOptions& options) {
    check_with_buffer(c, c.capacity, options);
    if (c.status != INFLATE_OUTPUT_FULL) {
        check_with_buffer(c, c.capacity + 1000, options);
        check_count_only(c, options);
    }
}

// All of check_one_stream with the fast path and without. Unless the row
// expects INPUT_EXHAUSTED, also with 32 more bytes (zeros, then ones) after
// the stream, which must change nothing: the decode stops where it stopped,
// and the fast path, which wants input to spare, then has it.
inline void check_decode_case(const DecodeCase& c) {
    for (const bool fast : {true, false}) {
        SCOPED_TRACE(fast ? "fast path on" : "fast path off");
        DecodeOptions options;
        options.fast = fast;
        check_one_stream(c, options);
        if (c.status != INFLATE_INPUT_EXHAUSTED) {
            for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
                SCOPED_TRACE(fill == 0 ? "32 zero bytes after" : "32 0xFF bytes after");
                DecodeCase padded = c;
                padded.stream.insert(padded.stream.end(), 32, fill);
                check_one_stream(padded, options);
            }
        }
    }
}

inline std::string decode_case_name(const ::testing::TestParamInfo<DecodeCase>& info) {
    return info.param.name;
}

#endif

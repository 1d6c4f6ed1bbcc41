// Shared by the fuzz targets: a failed check, and one decode into an exactly
// sized buffer that also tells which bytes the decoder wrote.
#ifndef TAVRIMOX_FUZZ_SUPPORT_H
#define TAVRIMOX_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "inflate.h"

// Aborts, so that libFuzzer keeps the input as a finding.
inline void expect(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

// The input in a heap buffer of exactly its size (libFuzzer's own may have
// slack), so that a read one byte past the end is caught.
inline std::unique_ptr<uint8_t[]> exact_copy(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    return copy;
}

// Every status the decoder may return.
inline bool known_status(int32_t status) {
    return status >= INFLATE_DISTANCE_TOO_FAR && status <= INFLATE_INPUT_EXHAUSTED;
}

// Output bound for an input of n bytes: a match of 258 costs at least two
// bits (one-bit literal/length and distance codes), so at most 129 bytes per
// input bit; stored data is at most the input itself.
inline uint64_t output_bound(size_t n) {
    return 1040u * static_cast<uint64_t>(n) + 64u;
}

// One buffered decode. bytes holds the run filled with 0x00 beforehand;
// written is the length of the prefix the decoder wrote.
struct BufferedRun {
    int32_t status;
    uint32_t produced;  // as written back (the capacity again for statuses 1 and 2)
    uint32_t consumed;  // as written back (the input length again for 1 and 2)
    uint32_t capacity;
    uint32_t written;
    std::unique_ptr<uint8_t[]> bytes;
};

// Decodes twice into exactly sized buffers, prefilled with 0x00 and with 0xFF.
// A byte the decoder wrote is the same in both; one it left differs. So the
// first difference is where writing stopped, and past it nothing may have
// been written at all.
inline BufferedRun decode_buffered(const uint8_t* input, uint32_t input_length,
                                   uint32_t capacity) {
    BufferedRun run{0, capacity, input_length, capacity, 0, nullptr};
    std::unique_ptr<uint8_t[]> zeros(new uint8_t[capacity]);
    std::unique_ptr<uint8_t[]> ones(new uint8_t[capacity]);
    std::memset(zeros.get(), 0x00, capacity);
    std::memset(ones.get(), 0xFF, capacity);

    run.status = inflate_raw(zeros.get(), &run.produced, input, &run.consumed);
    uint32_t produced = capacity;
    uint32_t consumed = input_length;
    const int32_t status = inflate_raw(ones.get(), &produced, input, &consumed);
    expect(status == run.status && produced == run.produced && consumed == run.consumed,
           "a decode repeats exactly");

    while (run.written < capacity && zeros[run.written] == ones[run.written]) {
        run.written += 1;
    }
    for (uint32_t i = run.written; i < capacity; ++i) {
        expect(zeros[i] == 0x00 && ones[i] == 0xFF, "the decoder writes only a prefix");
    }
    run.bytes = std::move(zeros);
    return run;
}

// The lengths are written back for statuses 0 and below only, and stay within
// the buffers; for 1 and 2 they are left as passed.
inline void expect_lengths_kept(int32_t status, uint32_t produced, uint32_t consumed,
                                uint32_t capacity, uint32_t input_length, bool count_only) {
    expect(known_status(status), "the status is one of 2 .. -11");
    if (status <= 0) {
        expect(count_only || produced <= capacity, "produced <= capacity");
        expect(consumed <= input_length, "consumed <= input length");
    } else {
        expect(produced == capacity, "status 1/2 leaves the output length alone");
        expect(consumed == input_length, "status 1/2 leaves the input length alone");
    }
}

#endif

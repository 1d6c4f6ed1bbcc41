// Decodes each input with the table-driven path on and off, at several
// capacities and in count-only mode: the status, both counts and every byte
// of the output buffer (untouched ones included) must be the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fast_path.h"
#include "fuzz_support.h"
#include "inflate.h"
#include "inflate_internal.h"

namespace {

constexpr uint32_t CAPACITY_LIMIT = 1u << 18;

struct Run {
    int32_t status;
    uint32_t produced;
    uint32_t consumed;
};

Run decode(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity,
           const DecodeOptions& options) {
    Run run{0, capacity, length};
    run.status = inflate_raw_with(output, &run.produced, input, &run.consumed, options);
    return run;
}

DecodeOptions exact_decode() {
    DecodeOptions options;
    options.fast = false;
    return options;
}

void compare(const uint8_t* input, uint32_t length, uint32_t capacity, bool count_only) {
    // Exactly sized and prefilled alike, so any stray or missing write shows.
    std::unique_ptr<uint8_t[]> exact_bytes(new uint8_t[capacity]);
    std::unique_ptr<uint8_t[]> fast_bytes(new uint8_t[capacity]);
    std::memset(exact_bytes.get(), 0x5A, capacity);
    const Run exact =
        decode(input, length, count_only ? nullptr : exact_bytes.get(), capacity, exact_decode());
    // Each loop: 64- and 32-bit bit buffers, portable and (where the build
    // and processor have them) SSE2 and BMI2.
    for (uint32_t reader_bits : {64u, 32u}) {
        for (FastLoop loop : {FAST_LOOP_PORTABLE, FAST_LOOP_SSE2, FAST_LOOP_BMI2}) {
            if (!fast_loop_available(loop)) {
                continue;
            }
            std::memset(fast_bytes.get(), 0x5A, capacity);
            DecodeOptions options;
            options.reader_bits = reader_bits;
            options.best_loop = loop;
            const Run fast =
                decode(input, length, count_only ? nullptr : fast_bytes.get(), capacity, options);
            expect(exact.status == fast.status, "the same status both ways");
            expect(exact.produced == fast.produced, "the same produced count both ways");
            expect(exact.consumed == fast.consumed, "the same consumed count both ways");
            expect(std::memcmp(exact_bytes.get(), fast_bytes.get(), capacity) == 0,
                   "the same buffer bytes both ways");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > CAPACITY_LIMIT) {
        return -1;
    }
    const uint32_t length = static_cast<uint32_t>(size);
    const std::unique_ptr<uint8_t[]> input = exact_copy(data, size);
    compare(input.get(), length, 0, true);
    uint32_t produced = 0;
    uint32_t consumed = length;
    const int32_t counted = inflate_raw_with(nullptr, &produced, input.get(), &consumed, exact_decode());
    const uint32_t full = counted <= 0 && produced <= CAPACITY_LIMIT ? produced : CAPACITY_LIMIT;
    // The exact size, a little less (the fast path's output margin), and more.
    const uint32_t margin = FAST_OUTPUT_MARGIN + 3;
    for (uint32_t capacity : {full, full > margin ? full - margin : 0u, full / 2, full + 1000}) {
        compare(input.get(), length, capacity, false);
    }
    return 0;
}

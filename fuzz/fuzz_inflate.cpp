// Decodes each input (a raw DEFLATE stream) in count-only mode and into
// buffers of several capacities, and checks what inflate_raw promises across
// them. Let N be the count-only size when count-only ends with status <= 0:
// - a capacity of N or more gives exactly the count-only status and counts;
// - a capacity below N gives status 1 (some item no longer fits);
// - when count-only ends with 2 (input exhausted), every capacity gives 2,
//   or 1 when the output ran out first;
// - the bytes of every run are a prefix of those of the largest run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "inflate.h"

namespace {

// Buffered runs never get more than this; beyond it only status 1 is checked.
constexpr uint32_t CAPACITY_LIMIT = 1u << 20;
// The same for a stream cut short, whose size count-only does not tell: kept
// smaller, as most inputs end so and every run clears its buffer twice.
constexpr uint32_t CUT_SHORT_LIMIT = 1u << 17;

// Distinct from any capacity tried, to show the value is not consulted.
constexpr uint32_t COUNT_ONLY_PROBE = 0xA5A5A5A5u;

struct CountOnly {
    int32_t status;
    uint32_t produced;
    uint32_t consumed;
};

CountOnly count_only(const uint8_t* input, uint32_t input_length, uint32_t passed_capacity) {
    CountOnly run{0, passed_capacity, input_length};
    run.status = inflate_raw(nullptr, &run.produced, input, &run.consumed);
    expect_lengths_kept(run.status, run.produced, run.consumed, passed_capacity, input_length,
                        true);
    return run;
}

void check_against_count_only(const BufferedRun& run, const CountOnly& counted,
                              uint32_t input_length) {
    expect_lengths_kept(run.status, run.produced, run.consumed, run.capacity, input_length,
                        false);
    if (run.status <= 0) {
        expect(run.written == run.produced, "every byte produced is written");
    }
    if (counted.status <= 0) {
        if (run.capacity >= counted.produced) {
            expect(run.status == counted.status, "with room, the status is count-only's");
            expect(run.produced == counted.produced, "with room, produced is count-only's");
            expect(run.consumed == counted.consumed, "with room, consumed is count-only's");
        } else {
            expect(run.status == INFLATE_OUTPUT_FULL, "without room, the status is 1");
        }
    } else {
        expect(run.status == INFLATE_INPUT_EXHAUSTED || run.status == INFLATE_OUTPUT_FULL,
               "a stream cut short gives 2, or 1 when the output runs out first");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > CAPACITY_LIMIT) {
        return -1;
    }
    const uint32_t length = static_cast<uint32_t>(size);
    const std::unique_ptr<uint8_t[]> input = exact_copy(data, size);

    const CountOnly counted = count_only(input.get(), length, COUNT_ONLY_PROBE);
    expect(counted.status != INFLATE_OUTPUT_FULL, "count-only stops at 1 only past 2^32 - 1");
    const CountOnly again = count_only(input.get(), length, 0);
    expect(again.status == counted.status && (counted.status > 0 ||
                                              (again.produced == counted.produced &&
                                               again.consumed == counted.consumed)),
           "count-only ignores the capacity passed");

    // The largest run: room for everything where the size is known or bounded.
    const uint64_t wanted = counted.status <= 0 ? uint64_t{counted.produced} + 64u
                                                : output_bound(size);
    const uint32_t limit = counted.status <= 0 ? CAPACITY_LIMIT : CUT_SHORT_LIMIT;
    const uint32_t ample = wanted < limit ? static_cast<uint32_t>(wanted) : limit;
    const BufferedRun largest = decode_buffered(input.get(), length, ample);
    check_against_count_only(largest, counted, length);
    if (ample < limit) {
        expect(largest.status != INFLATE_OUTPUT_FULL, "an ample buffer never fills");
    }

    uint32_t capacities[5] = {0, 1u + length % 16u, ample / 2u, ample, ample};
    if (counted.status <= 0 && counted.produced <= CAPACITY_LIMIT) {
        capacities[3] = counted.produced;  // exact
        if (counted.produced > 0) {
            capacities[4] = counted.produced - 1;  // one short
        }
    }
    for (uint32_t capacity : capacities) {
        if (capacity > ample) {
            continue;
        }
        const BufferedRun run = decode_buffered(input.get(), length, capacity);
        check_against_count_only(run, counted, length);
        expect(run.written <= largest.written, "a smaller buffer gets no further");
        expect(run.written == 0 || std::memcmp(run.bytes.get(), largest.bytes.get(),
                                               run.written) == 0,
               "a smaller buffer holds a prefix of the largest one's bytes");
    }
    return 0;
}

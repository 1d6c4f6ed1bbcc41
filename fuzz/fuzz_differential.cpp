// Our decoder against zlib's raw inflate (inflateInit2 with -15) on the same
// bytes.
//
// Both refuse the same streams: a distance beyond the bytes produced so far
// (zlib keeps no preset dictionary, and both reach back at most 32 KiB), more
// than 286/30 codes, an incomplete or over-subscribed code other than a
// single one-bit literal/length or distance code, an empty code only where a
// symbol of it is then read, symbols 286/287 and distance 30/31. So:
// - a stream one accepts, the other accepts ("accepted": our status 0,
//   zlib's Z_STREAM_END), with the same bytes and the same input consumed;
// - on any stream, the bytes both produced agree as far as both got.
// Not compared: the reason for a refusal, and how far a refused stream got.
// zlib stops at the first pattern that no code covers, while we read it out
// to 15 bits, so near the end of the input one says "input exhausted" where
// the other says "malformed", and an empty code-length code is read by zlib as
// lengths of 0 one bit at a time where we refuse at once (both then refuse).
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "inflate.h"

namespace {

constexpr uint32_t OUTPUT_LIMIT = 1u << 20;
constexpr uint32_t ZLIB_CHUNK = 1u << 15;
// For a stream cut short, whose size count-only does not tell.
constexpr uint32_t CUT_SHORT_LIMIT = 1u << 17;

struct ZlibRun {
    bool decided;  // finished, refused or out of input, within OUTPUT_LIMIT
    bool accepted;
    size_t consumed;
    std::vector<uint8_t> bytes;
};

ZlibRun zlib_inflate(const uint8_t* input, uint32_t length) {
    ZlibRun run{false, false, 0, {}};
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    expect(inflateInit2(&stream, -15) == Z_OK, "zlib starts");
    stream.next_in = input;
    stream.avail_in = length;
    int result = Z_OK;
    while (result == Z_OK && run.bytes.size() < OUTPUT_LIMIT) {
        const size_t before = run.bytes.size();
        run.bytes.resize(before + ZLIB_CHUNK);
        stream.next_out = run.bytes.data() + before;
        stream.avail_out = ZLIB_CHUNK;
        result = inflate(&stream, Z_NO_FLUSH);
        run.bytes.resize(before + ZLIB_CHUNK - stream.avail_out);
    }
    expect(result != Z_MEM_ERROR && result != Z_STREAM_ERROR, "zlib runs");
    run.decided = result != Z_OK;
    run.accepted = result == Z_STREAM_END;
    run.consumed = length - stream.avail_in;
    inflateEnd(&stream);
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > OUTPUT_LIMIT) {
        return -1;
    }
    const uint32_t length = static_cast<uint32_t>(size);
    const std::unique_ptr<uint8_t[]> input = exact_copy(data, size);

    uint32_t counted = 0;
    uint32_t counted_input = length;
    const int32_t status = inflate_raw(nullptr, &counted, input.get(), &counted_input);
    expect(known_status(status), "the status is one of 2 .. -11");

    const ZlibRun zlib = zlib_inflate(input.get(), length);
    if (zlib.decided) {
        expect((status == INFLATE_OK) == zlib.accepted, "both accept or both refuse");
    }

    // Our bytes: all of them below the limit, or at least as many as zlib's.
    const uint64_t wanted =
        status <= 0 ? uint64_t{counted} : std::min(output_bound(size), uint64_t{CUT_SHORT_LIMIT});
    const uint64_t limit = zlib.bytes.size() > OUTPUT_LIMIT ? zlib.bytes.size() : OUTPUT_LIMIT;
    const uint32_t capacity = static_cast<uint32_t>(wanted < limit ? wanted : limit);
    const BufferedRun ours = decode_buffered(input.get(), length, capacity);

    if (status == INFLATE_OK && zlib.accepted) {
        expect(ours.status == INFLATE_OK, "with room, the buffered run ends as count-only");
        expect(ours.produced == zlib.bytes.size(), "accepted: the same size");
        expect(ours.consumed == zlib.consumed, "accepted: the same input consumed");
    }
    const size_t common = ours.written < zlib.bytes.size() ? ours.written : zlib.bytes.size();
    expect(common == 0 || std::memcmp(ours.bytes.get(), zlib.bytes.data(), common) == 0,
           "the bytes agree as far as both got");
    return 0;
}

// The table-driven path must be invisible: every stream, capacity and cut of
// the input gives the same status, counts and buffer bytes with it as without.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <cstdint>
#include <random>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "bit_writer.h"
#include "block_data.h"
#include "fast_path.h"
#include "inflate.h"
#include "inflate_internal.h"
#include "zlib_raw.h"

namespace {

struct Decoded {
    int32_t status;
    uint32_t produced;
    uint32_t consumed;
    std::vector<uint8_t> buffer;  // the whole output buffer, untouched bytes included
};

// The caller's bytes in the output buffer, different at each position, so
// that a byte put back in the wrong place or kept from an earlier save shows.
uint8_t callers_byte(size_t position) {
    return static_cast<uint8_t>(position * 131 + 7);
}

// The input is placed to end right before an inaccessible page, so that a
// read even one byte past it faults in every build, not only under a
// sanitizer. One region for the process, made on first use; these tests run
// on one thread.
constexpr size_t GUARDED_BYTES = size_t{4} << 20;
constexpr size_t GUARD_BYTES = size_t{64} << 10;  // a whole page of any size up to 64 KiB

uint8_t* guarded_region_end() {
    static uint8_t* const end = [] {
#if defined(_WIN32)
        auto* const base = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, GUARDED_BYTES + GUARD_BYTES, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD was = 0;
        const bool guarded =
            base != nullptr && VirtualProtect(base + GUARDED_BYTES, GUARD_BYTES, PAGE_NOACCESS, &was) != 0;
#else
        void* const mapped = mmap(nullptr, GUARDED_BYTES + GUARD_BYTES, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        auto* const base = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
        const bool guarded = base != nullptr && mprotect(base + GUARDED_BYTES, GUARD_BYTES, PROT_NONE) == 0;
#endif
        if (!guarded) {
            std::abort();
        }
        return base + GUARDED_BYTES;
    }();
    return end;
}

// The output buffer is a heap buffer of exactly the capacity, so a sanitizer
// build also catches a write one byte past it.
Decoded decode(const std::vector<uint8_t>& stream, size_t input_size, uint32_t capacity,
               bool count_only, const DecodeOptions& options) {
    if (input_size > GUARDED_BYTES) {
        std::abort();
    }
    uint8_t* const input = guarded_region_end() - input_size;
    if (input_size != 0) {
        std::memcpy(input, stream.data(), input_size);
    }
    Decoded d{};
    d.buffer.resize(capacity);
    for (size_t i = 0; i < capacity; ++i) {
        d.buffer[i] = callers_byte(i);
    }
    d.produced = capacity;
    d.consumed = static_cast<uint32_t>(input_size);
    d.status = inflate_raw_with(count_only ? nullptr : d.buffer.data(), &d.produced, input,
                                &d.consumed, options);
    return d;
}

const DecodeOptions EXACT = [] {
    DecodeOptions options;
    options.fast = false;
    return options;
}();
const DecodeOptions FAST = DecodeOptions{};

struct LoopChoice {
    DecodeOptions options;
    std::string name;
};

// Each loop this processor can run: with a 64-bit and a 32-bit bit buffer,
// each portable and compiled for SSE2 and BMI2 where this build and
// processor have them.
std::vector<LoopChoice> runnable_loops() {
    const char* const names[] = {"portable loop", "SSE2 loop", "BMI2 loop"};
    std::vector<LoopChoice> choices;
    for (uint32_t reader_bits : {64u, 32u}) {
        for (FastLoop loop : {FAST_LOOP_PORTABLE, FAST_LOOP_SSE2, FAST_LOOP_BMI2}) {
            if (fast_loop_available(loop)) {
                DecodeOptions options;
                options.reader_bits = reader_bits;
                options.best_loop = loop;
                choices.push_back({options, std::to_string(reader_bits) + "-bit reader, " + names[loop]});
            }
        }
    }
    return choices;
}

// The exact decode against the table-driven one, in each loop.
void expect_same_both_ways(const std::vector<uint8_t>& stream, size_t input_size,
                           uint32_t capacity, bool count_only, const std::string& what) {
    const Decoded exact = decode(stream, input_size, capacity, count_only, EXACT);
    for (const LoopChoice& choice : runnable_loops()) {
        const Decoded fast = decode(stream, input_size, capacity, count_only, choice.options);
        const std::string which = what + " (" + choice.name + ")";
        ASSERT_EQ(fast.status, exact.status) << which;
        ASSERT_EQ(fast.produced, exact.produced) << which;
        ASSERT_EQ(fast.consumed, exact.consumed) << which;
        ASSERT_TRUE(fast.buffer == exact.buffer) << which;
    }
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

// Text-like data with repeats at every distance, runs, and a random tail, so
// that every kind of match and copy width occurs.
std::vector<uint8_t> mixed_data(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    const std::string words[] = {"texture ", "block ", "alpha ", "DXT5 ", "mip ", "\n"};
    while (v.size() < n) {
        switch (rng() % 4) {
            case 0: {
                const std::string& w = words[rng() % 6];
                v.insert(v.end(), w.begin(), w.end());
                break;
            }
            case 1:
                v.insert(v.end(), 1 + rng() % 300, static_cast<uint8_t>(rng()));
                break;
            case 2:
                if (!v.empty()) {
                    const size_t dist = 1 + rng() % std::min<size_t>(v.size(), 40000);
                    const size_t len = 3 + rng() % 300;
                    for (size_t i = 0; i < len; ++i) {
                        v.push_back(v[v.size() - dist]);
                    }
                }
                break;
            default:
                v.push_back(static_cast<uint8_t>(rng()));
        }
    }
    v.resize(n);
    return v;
}

struct Corpus {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> stream;
};

std::vector<Corpus> corpus() {
    std::vector<Corpus> c;
    const std::vector<uint8_t> mixed = mixed_data(200000, 7);
    const std::vector<uint8_t> noise = random_bytes(30000, 8);
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE};
    for (int level : {1, 6, 9}) {
        for (int strategy : strategies) {
            c.push_back({"mixed_l" + std::to_string(level) + "_s" + std::to_string(strategy), mixed,
                         zlib_deflate_raw(mixed, level, strategy)});
        }
    }
    c.push_back({"noise_l6", noise, zlib_deflate_raw(noise, 6, Z_DEFAULT_STRATEGY)});
    c.push_back({"mixed_sync_flushes", mixed,
                 zlib_deflate_raw(mixed, 6, Z_DEFAULT_STRATEGY, Z_SYNC_FLUSH, 3000)});
    return c;
}

TEST(FastPath, WholeStreamsDecodeTheSameAtEveryCapacity) {
    for (const Corpus& c : corpus()) {
        const uint32_t n = static_cast<uint32_t>(c.data.size());
        const Decoded full = decode(c.stream, c.stream.size(), n, false, FAST);
        ASSERT_EQ(full.status, INFLATE_OK) << c.name;
        ASSERT_TRUE(full.buffer == c.data) << c.name;
        for (uint32_t capacity : {n, n + 1, n - 1, n - 258, n - 259, n - FAST_OUTPUT_MARGIN,
                                  n - FAST_OUTPUT_MARGIN - 1, n / 2, 300u, 257u, 0u}) {
            expect_same_both_ways(c.stream, c.stream.size(), capacity, false,
                                  c.name + " capacity " + std::to_string(capacity));
        }
        expect_same_both_ways(c.stream, c.stream.size(), 0, true, c.name + " count-only");
    }
}

// Cuts near the end of the input, where the fast path's 8-byte margin ends,
// and near every output room boundary of a match.
TEST(FastPath, BuffersEndingWhereTheFastPathMustStop) {
    for (const Corpus& c : corpus()) {
        const uint32_t n = static_cast<uint32_t>(c.data.size());
        for (size_t cut = 0; cut <= 24 && cut <= c.stream.size(); ++cut) {
            const size_t size = c.stream.size() - cut;
            expect_same_both_ways(c.stream, size, n, false, c.name + " cut " + std::to_string(cut));
            expect_same_both_ways(c.stream, size, 0, true,
                                  c.name + " count-only cut " + std::to_string(cut));
        }
        for (uint32_t short_by = 1; short_by <= FAST_OUTPUT_MARGIN + 40; short_by += 7) {
            expect_same_both_ways(c.stream, c.stream.size(), n - short_by, false,
                                  c.name + " short by " + std::to_string(short_by));
        }
    }
}

// Matches are copied in whole blocks that may run past their end. A stream
// that ends with a match and has input after it lets the table-driven path
// decode that match and the end of block itself; the bytes after the output
// must still be the caller's. A long match just before the last one runs
// furthest past its end, so the last one must keep what that one did not.
TEST(FastPath, BytesPastTheOutputStayTheCallers) {
    for (uint32_t lead : {0u, 100u}) {
        for (uint32_t length : {3u, 15u, 16u, 17u, 40u, 258u}) {
            for (uint32_t distance : {1u, 5u, 16u, 17u, 300u}) {
                // Eight letters: Huffman coding pays, so the stream is not stored.
                std::vector<uint8_t> data = random_bytes(1000, length * 1000 + distance);
                for (uint8_t& b : data) {
                    b = static_cast<uint8_t>('a' + b % 8);
                }
                for (uint32_t i = 0; i < lead; ++i) {
                    data.push_back(data[data.size() - 500]);
                }
                for (uint32_t i = 0; i < length; ++i) {
                    data.push_back(data[data.size() - distance]);
                }
                std::vector<uint8_t> stream = zlib_deflate_raw(data, 6, Z_DEFAULT_STRATEGY);
                stream.insert(stream.end(), 16, 0);
                const uint32_t n = static_cast<uint32_t>(data.size());
                const Decoded d =
                    decode(stream, stream.size(), n + FAST_OUTPUT_MARGIN, false, FAST);
                ASSERT_EQ(d.status, INFLATE_OK);
                ASSERT_TRUE(std::equal(data.begin(), data.end(), d.buffer.begin()));
                for (uint32_t i = n; i < d.buffer.size(); ++i) {
                    ASSERT_EQ(d.buffer[i], callers_byte(i))
                        << "lead " << lead << " length " << length << " distance " << distance
                        << " byte " << i;
                }
            }
        }
    }
}

// One final block: 300 literals, then for each length from 3 to `last` a
// literal and a match of that length at `distance`, then end of block. The
// code is the fixed one where `litlen` is empty, else a dynamic one with
// these literal/length code lengths and distance codes 0 and 16 (distances 1
// to 384). `literal(k)` is the symbol of the k-th literal. The stream is
// exact to the end of block, then zeros.
struct MatchRun {
    std::vector<uint8_t> bytes;
    uint32_t size;  // decoded
};
template <typename Literal>
MatchRun matches_of_each_length(const std::vector<int>& litlen, int distance, int last, Literal literal) {
    BitWriter w;
    DynamicCodes dynamic;
    if (litlen.empty()) {
        put_block_header(w, true, 1);
    } else {
        dynamic = put_dynamic_header(w, true, litlen, lengths_with(17, {{0, 1}, {16, 1}}));
    }
    int k = 0;
    const auto put_literal = [&](int symbol) {
        litlen.empty() ? put_fixed_litlen(w, symbol) : put_symbol(w, dynamic.litlen, symbol);
    };
    for (; k < 300; ++k) {
        put_literal(literal(k));
    }
    uint32_t size = 300;
    for (int length = 3; length <= last; ++length) {
        put_literal(literal(k++));
        litlen.empty() ? put_fixed_match(w, length, distance) : put_dynamic_match(w, dynamic, length, distance);
        size += static_cast<uint32_t>(length) + 1;
    }
    put_literal(256);
    put_trailing(w, 16);
    return {w.bytes, size};
}

// A match is copied by its width: byte by byte or 8 bytes at a time below a
// distance of 16, two 16-byte blocks up to 32 bytes (the second placed by
// length), 32-byte steps beyond; all but the two blocks may write past the
// match's end. Streams of matches of every length from 3 up, each after a
// literal, end with a match of each length up to 66, at distances on both
// sides of each width's edge: every byte written and every byte past the
// output must be as the exact decode leaves them.
TEST(FastPath, EveryShortLengthAtEveryCopyWidth) {
    const std::vector<uint8_t> lead = random_bytes(300, 7);
    // The lead's random bytes, then before each match its length.
    const auto literal = [&](int k) { return k < 300 ? int{lead[static_cast<size_t>(k)]} : k - 297; };
    for (int distance : {1, 7, 8, 15, 16, 17, 31, 32, 33, 64, 299}) {
        for (int last = 3; last <= 66; ++last) {
            const MatchRun run = matches_of_each_length({}, distance, last, literal);
            const std::string what =
                "distance " + std::to_string(distance) + ", last length " + std::to_string(last);
            ASSERT_EQ(decode(run.bytes, run.bytes.size(), run.size, false, EXACT).status, INFLATE_OK) << what;
            expect_same_both_ways(run.bytes, run.bytes.size(), run.size + FAST_OUTPUT_MARGIN, false, what);
        }
    }
}

// A length comes whole from its table entry, or as a base whose extra bits the
// loop reads (FAST_LENGTH_EXTRA: the code and its extra bits pass the table's
// 11 bits), or from the walk beyond the table. Every length from 3 to 258 is
// decoded through each, in codes that put the length codes at 5 bits (all
// whole), at 10 bits (whole up to one extra bit), at 15 bits (all walked), and
// in the fixed code (7 and 8 bits: lengths from 115 on are not whole).
TEST(FastPath, EveryLengthThroughEachKindOfEntry) {
    struct Code {
        std::string name;
        std::vector<int> litlen;  // empty: the fixed code
    };
    // Literals 'a'.., then end of block and the 29 length symbols.
    const auto code_with = [](std::initializer_list<int> literal_lengths, int end_length, int length_bits) {
        std::vector<int> lengths(286, 0);
        int symbol = 'a';
        for (const int len : literal_lengths) {
            lengths[static_cast<size_t>(symbol++)] = len;
        }
        lengths[256] = end_length;
        std::fill(lengths.begin() + 257, lengths.end(), length_bits);
        return lengths;
    };
    const Code codes[] = {
        {"fixed code", {}},
        {"5-bit length codes", code_with({5, 5}, 5, 5)},
        {"10-bit length codes", code_with({1, 2, 3, 4, 5, 10}, 9, 10)},
        {"15-bit length codes", code_with({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15}, 14, 15)},
    };
    // 'a' and 'b', which every code has: mixed in the lead, alternating after.
    const auto literal = [](int k) { return 'a' + (k < 300 ? k * 7 % 11 % 2 : (k - 297) % 2); };
    for (const Code& code : codes) {
        for (const int distance : {1, 300}) {
            const MatchRun run = matches_of_each_length(code.litlen, distance, 258, literal);
            const std::string what = code.name + ", distance " + std::to_string(distance);
            ASSERT_EQ(decode(run.bytes, run.bytes.size(), run.size, false, EXACT).status, INFLATE_OK) << what;
            expect_same_both_ways(run.bytes, run.bytes.size(), run.size + FAST_OUTPUT_MARGIN, false, what);
            expect_same_both_ways(run.bytes, run.bytes.size(), 0, true, what + ", count-only");
        }
    }
}

// A 32-bit bit buffer has 24 bits after a refill: a 15-bit distance code with
// 13 extra bits does not fit, and must be handed back, not read past the bits
// accounted for. Matches at distances of 16385 and more (symbols 28 and 29,
// the longest codes here) follow 0 to 7 literals, so that they start at every
// bit position of a refill.
TEST(FastPath, LongDistanceCodesWithManyExtraBits) {
    BitWriter w;
    std::mt19937 rng(5);
    std::vector<uint8_t> window(32768);
    for (uint8_t& b : window) {
        b = static_cast<uint8_t>(rng());
    }
    put_block_header(w, false, 0);
    align(w);
    put_bits(w, 32768, 16);
    put_bits(w, 32767, 16);
    put_bytes(w, window);
    // Literals 'a'..'h', end of block and lengths 3..9: 16 codes of 4 bits.
    std::vector<int> litlen(264, 0);
    for (int s : {int{'a'}, int{'b'}, int{'c'}, int{'d'}, int{'e'}, int{'f'}, int{'g'}, int{'h'}, 256,
                  257, 258, 259, 260, 261, 262, 263}) {
        litlen[static_cast<size_t>(s)] = 4;
    }
    // Distance symbols 0..13 at 1..14 bits, 28 and 29 at 15: a complete code.
    std::vector<int> distance(30, 0);
    for (int s = 0; s < 14; ++s) {
        distance[static_cast<size_t>(s)] = s + 1;
    }
    distance[28] = 15;
    distance[29] = 15;
    const DynamicCodes codes = put_dynamic_header(w, true, litlen, distance);
    for (int i = 0; i < 400; ++i) {
        for (uint32_t k = rng() % 8; k > 0; --k) {
            put_symbol(w, codes.litlen, 'a' + static_cast<int>(rng() % 8));
        }
        const int length = 3 + static_cast<int>(rng() % 7);
        put_dynamic_match(w, codes, length, 16385 + static_cast<int>(rng() % 16384));
        if (i % 3 == 0) {
            put_dynamic_match(w, codes, length, 1 + static_cast<int>(rng() % 4));
        }
    }
    put_symbol(w, codes.litlen, 256);
    std::vector<uint8_t> stream = w.bytes;
    stream.insert(stream.end(), 16, 0);
    const Decoded exact = decode(stream, stream.size(), 1u << 20, false, EXACT);
    ASSERT_EQ(exact.status, INFLATE_OK);
    ASSERT_GT(exact.produced, 32768u + 400u * 3u);
    expect_same_both_ways(stream, stream.size(), 1u << 20, false, "long distance codes");
    expect_same_both_ways(stream, stream.size(), 0, true, "long distance codes, count-only");
}

// Distances are tested against the output's start only until it holds 32 KiB,
// the largest distance. A match one byte too far just before that must still
// fail as the exact decode fails it, without a read before the buffer; from
// 32 KiB on, the largest distance is valid. Each stream: a literal and runs
// at distance 1 up to `before` bytes, then a probe match of 258, then a match
// of 100 at 32768, in one fixed block; or the probe opens a second block
// (fixed or dynamic) after a stored or fixed block that ends at `before`
// bytes, where the fast path is entered afresh at that count.
TEST(FastPath, DistancesAroundTheFirst32KiB) {
    enum Layout { ONE_FIXED_BLOCK, STORED_THEN_FIXED, STORED_THEN_DYNAMIC, FIXED_THEN_FIXED, FIXED_THEN_DYNAMIC };
    const char* const layout_names[] = {"one fixed block", "stored then fixed", "stored then dynamic",
                                        "fixed then fixed", "fixed then dynamic"};
    struct Probe {
        Layout layout;
        int before;
        int distance;
        int32_t status;
    };
    std::vector<Probe> probes = {
        {ONE_FIXED_BLOCK, 32767, 32768, INFLATE_DISTANCE_TOO_FAR},
        {ONE_FIXED_BLOCK, 32766, 32767, INFLATE_DISTANCE_TOO_FAR},
        {ONE_FIXED_BLOCK, 32500, 32768, INFLATE_DISTANCE_TOO_FAR},
        {ONE_FIXED_BLOCK, 32767, 32767, INFLATE_OK},
        {ONE_FIXED_BLOCK, 32768, 32768, INFLATE_OK},
        {ONE_FIXED_BLOCK, 32769, 32768, INFLATE_OK},
        {ONE_FIXED_BLOCK, 32510, 32510, INFLATE_OK},
    };
    // At, one below and one past the reachable distance, where a distance can say so.
    for (const Layout layout : {STORED_THEN_FIXED, STORED_THEN_DYNAMIC, FIXED_THEN_FIXED, FIXED_THEN_DYNAMIC}) {
        for (int before = 32765; before <= 32769; ++before) {
            for (const int distance : {before - 1, before, before + 1}) {
                if (distance <= 32768) {
                    probes.push_back({layout, before, distance,
                                      distance > before ? INFLATE_DISTANCE_TOO_FAR : INFLATE_OK});
                }
            }
        }
    }
    const std::vector<uint8_t> stored = random_bytes(32769, 3);
    for (const Probe& probe : probes) {
        BitWriter w;
        const bool stored_first = probe.layout == STORED_THEN_FIXED || probe.layout == STORED_THEN_DYNAMIC;
        const bool dynamic_second = probe.layout == STORED_THEN_DYNAMIC || probe.layout == FIXED_THEN_DYNAMIC;
        put_block_header(w, probe.layout == ONE_FIXED_BLOCK, stored_first ? 0 : 1);
        if (stored_first) {
            align(w);
            put_bits(w, static_cast<uint32_t>(probe.before), 16);
            put_bits(w, ~static_cast<uint32_t>(probe.before) & 0xFFFF, 16);
            put_bytes(w, {stored.begin(), stored.begin() + probe.before});
        } else {
            put_fixed_litlen(w, 'a');
            for (int left = probe.before - 1; left > 0;) {
                const int length = left <= 258 ? left : std::min(258, left - 3);
                put_fixed_match(w, length, 1);
                left -= length;
            }
        }
        if (probe.layout == FIXED_THEN_FIXED || probe.layout == FIXED_THEN_DYNAMIC) {
            put_fixed_litlen(w, 256);
        }
        DynamicCodes codes;
        if (dynamic_second) {
            // End of block, length 100 (symbol 279) and 258 (285); distances from 24577 (symbol 29).
            codes = put_dynamic_header(w, true, lengths_with(286, {{256, 2}, {279, 2}, {285, 1}}),
                                       lengths_with(30, {{29, 1}}));
        } else if (probe.layout != ONE_FIXED_BLOCK) {
            put_block_header(w, true, 1);
        }
        for (const auto& [length, distance] : {std::pair{258, probe.distance}, std::pair{100, 32768}}) {
            dynamic_second ? put_dynamic_match(w, codes, length, distance) : put_fixed_match(w, length, distance);
        }
        dynamic_second ? put_symbol(w, codes.litlen, 256) : put_fixed_litlen(w, 256);
        put_trailing(w, 16);
        const uint32_t size = static_cast<uint32_t>(probe.before) + 358;
        const std::string what = std::string(layout_names[probe.layout]) + ": " + std::to_string(probe.distance) +
                                 " after " + std::to_string(probe.before);
        ASSERT_EQ(decode(w.bytes, w.bytes.size(), size, false, EXACT).status, probe.status) << what;
        expect_same_both_ways(w.bytes, w.bytes.size(), size + FAST_OUTPUT_MARGIN, false, what);
        expect_same_both_ways(w.bytes, w.bytes.size(), 0, true, what + ", count-only");
    }
}

// Damaged streams reach every hand-back: unmatched codes, symbols 286/287,
// distances too far, bad headers after fast-decoded data.
TEST(FastPath, DamagedStreamsFailTheSameWay) {
    std::mt19937 rng(11);
    const std::vector<Corpus> streams = corpus();
    for (int round = 0; round < 600; ++round) {
        const Corpus& c = streams[rng() % streams.size()];
        std::vector<uint8_t> damaged = c.stream;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) {
            damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        const uint32_t capacity = static_cast<uint32_t>(c.data.size() + rng() % 1000);
        expect_same_both_ways(damaged, damaged.size(), capacity, false,
                              c.name + " damaged round " + std::to_string(round));
        expect_same_both_ways(damaged, damaged.size(), 0, true,
                              c.name + " damaged count-only round " + std::to_string(round));
    }
}

TEST(FastPath, RandomBytesFailTheSameWay) {
    for (uint32_t seed = 0; seed < 400; ++seed) {
        const std::vector<uint8_t> bytes = random_bytes(64 + seed * 5, seed);
        expect_same_both_ways(bytes, bytes.size(), 4096, false, "seed " + std::to_string(seed));
        expect_same_both_ways(bytes, bytes.size(), 0, true, "count-only seed " + std::to_string(seed));
    }
}

#if defined(__i386__) && defined(__GNUC__)
// 32-bit Windows aligns a thread's stack to 4 bytes, where GCC's code assumes
// 16, and an aligned SSE access to a stack slot faults when it is not (on a
// processor and under qemu-i386 alike): the loops compiled for SSE2 must be
// entered through a realignment.
struct StackCall {
    const DecodeOptions* options;
    uint8_t* output;
    uint32_t produced;
    const uint8_t* input;
    uint32_t consumed;
    int32_t status;
};

void decode_call(StackCall* call) {
    call->status =
        inflate_raw_with(call->output, &call->produced, call->input, &call->consumed, *call->options);
}

// Calls decode_call with the stack 4 bytes off a 16-byte boundary at the call.
void call_on_misaligned_stack(StackCall* call) {
    void (*const function)(StackCall*) = decode_call;
    asm volatile(
        "movl %%esp, %%esi\n\t"
        "andl $-16, %%esp\n\t"
        "subl $8, %%esp\n\t"
        "pushl %0\n\t"  // the argument: 12 below the boundary, so the call is 4 off
        "call *%1\n\t"
        "movl %%esi, %%esp"
        :
        : "r"(call), "r"(function)
        : "eax", "ecx", "edx", "esi", "memory", "cc");
}

TEST(FastPath, LoopsRunOnAStackAlignedTo4BytesOnly) {
    const std::vector<uint8_t> data = mixed_data(100000, 11);
    const std::vector<uint8_t> stream = zlib_deflate_raw(data, 6, Z_DEFAULT_STRATEGY);
    for (const LoopChoice& choice : runnable_loops()) {
        std::vector<uint8_t> output(data.size());
        StackCall call{&choice.options, output.data(), static_cast<uint32_t>(output.size()), stream.data(),
                       static_cast<uint32_t>(stream.size()), -1};
        call_on_misaligned_stack(&call);
        EXPECT_EQ(call.status, INFLATE_OK) << choice.name;
        EXPECT_TRUE(output == data) << choice.name;
    }
}
#endif

// ---- lookup tables ----

struct Canonical {
    int32_t symbol;  // or INFLATE_BAD_SYMBOL
    int32_t length;  // bits the code takes
};

// The bit-by-bit decode of the 15 stream bits `bits` (first bit lowest).
Canonical canonical_decode(const HuffmanTable& table, uint32_t bits) {
    const std::array<uint8_t, 2> input = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8)};
    InflateState state{};
    state.input = input.data();
    state.input_length = 2;
    if (setjmp(state.overrun_escape) != 0) {
        ADD_FAILURE() << "15 bits must always do";
        return {INFLATE_BAD_SYMBOL, 0};
    }
    const int32_t symbol = decode_symbol(state, table);
    return {symbol, static_cast<int32_t>(8 * state.input_count) - state.bit_count};
}

uint32_t special_entry_of(uint32_t kind) {
    return FAST_SPECIAL_FLAG | kind << 12;
}

// Every entry of a lookup table says what the bit-by-bit decode of its bits
// says: the symbol's literal, whole length (with its extra bits from the
// pattern), base and extra bits, the code length, or that the code is longer
// than the table (LONG) or missing (INVALID).
template <int32_t BITS, int32_t SYMBOLS>
void expect_table_matches(const FastTable<BITS, SYMBOLS>& fast, const HuffmanTable& table,
                          bool litlen, const std::string& what) {
    constexpr uint32_t SIZE = 1u << BITS;
    std::vector<bool> long_prefix(SIZE, false);
    for (uint32_t bits = 0; bits < 32768; ++bits) {
        const Canonical c = canonical_decode(table, bits);
        long_prefix[bits % SIZE] = long_prefix[bits % SIZE] || (c.symbol >= 0 && c.length > BITS);
    }
    for (uint32_t i = 0; i < SIZE; ++i) {
        const uint32_t e = fast.entries[i];
        const Canonical c = canonical_decode(table, i);
        const uint32_t kind = e & FAST_SPECIAL_FLAG ? (e >> 12) & 3 : 0;
        SCOPED_TRACE(what + ", pattern " + std::to_string(i));
        if (long_prefix[i]) {
            EXPECT_EQ(kind, FAST_LONG);
            continue;
        }
        if (c.symbol < 0 || (litlen && c.symbol > 285)) {
            EXPECT_EQ(kind, FAST_INVALID);
            continue;
        }
        const uint32_t len = static_cast<uint32_t>(c.length);
        if (litlen && c.symbol < 256) {
            EXPECT_EQ(e, FAST_LITERAL_FLAG | static_cast<uint32_t>(c.symbol) << 16 | len << 8 | len);
        } else if (litlen && c.symbol == 256) {
            EXPECT_EQ(e, special_entry_of(FAST_END_OF_BLOCK) | len << 8 | len);
        } else if (litlen) {
            // A whole length where the extra bits fit beside the code.
            const int32_t k = c.symbol - 257;
            const uint32_t base = static_cast<uint32_t>(LENGTH_BASE[k]);
            const uint32_t extra = static_cast<uint32_t>(LENGTH_EXTRA[k]);
            const uint32_t bits = len + extra;
            if (bits <= BITS) {
                const uint32_t length = base + ((i >> len) & ((1u << extra) - 1));
                EXPECT_EQ(e, length << 16 | bits << 8 | bits);
            } else {
                EXPECT_EQ(e, special_entry_of(FAST_LENGTH_EXTRA) | base << 16 | len << 8 | bits);
            }
        } else {
            const uint32_t base = static_cast<uint32_t>(DISTANCE_BASE[c.symbol]);
            const uint32_t extra = static_cast<uint32_t>(DISTANCE_EXTRA[c.symbol]);
            EXPECT_EQ(e, base << 16 | len << 8 | (len + extra));
        }
    }
}

// Code lengths for `n` symbols: a complete code grown by splitting random
// leaves up to `max_length` bits, shuffled over the symbols.
std::vector<int16_t> random_complete_lengths(int32_t n, int32_t codes, int32_t max_length, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int16_t> leaves = {0};
    while (static_cast<int32_t>(leaves.size()) < codes) {
        const size_t i = rng() % leaves.size();
        if (leaves[i] < max_length) {
            leaves[i] = static_cast<int16_t>(leaves[i] + 1);
            leaves.push_back(leaves[i]);
        }
    }
    leaves.resize(static_cast<size_t>(n), 0);
    std::shuffle(leaves.begin(), leaves.end(), rng);
    return leaves;
}

TEST(FastPath, TableEntriesMatchTheBitByBitDecode) {
    std::vector<int16_t> fixed_litlen(288, 8);
    std::fill(fixed_litlen.begin() + 144, fixed_litlen.begin() + 256, 9);
    std::fill(fixed_litlen.begin() + 256, fixed_litlen.begin() + 280, 7);
    struct Shape {
        std::string name;
        std::vector<int16_t> litlen;
        std::vector<int16_t> distance;
    };
    std::vector<Shape> shapes = {
        // The fixed code, whose distance code lacks two 5-bit patterns.
        {"fixed", fixed_litlen, std::vector<int16_t>(30, 5)},
        // One distance code, one bit long: its other pattern has no code.
        {"single distance code", random_complete_lengths(286, 40, 9, 1), {1}},
        // Codes of every length to 15, so most of each table is LONG.
        {"lengths 1 to 15",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15}},
        // Incomplete: a quarter of the patterns have no code.
        {"incomplete", {2, 2, 2}, {2, 2, 2}},
    };
    for (int32_t k = 0; k < 6; ++k) {
        const uint32_t seed = static_cast<uint32_t>(k);
        shapes.push_back({"random " + std::to_string(k), random_complete_lengths(286, 20 + 50 * k, 15, seed),
                          random_complete_lengths(30, 2 + 5 * k, 15, seed + 100)});
    }
    for (const Shape& shape : shapes) {
        int16_t counts[2][MAX_CODE_BITS + 1];
        int16_t symbols[2][FIXED_LITLEN_CODES];
        HuffmanTable litlen = {counts[0], symbols[0]};
        HuffmanTable distance = {counts[1], symbols[1]};
        ASSERT_GE(build_huffman_table(litlen, shape.litlen.data(), static_cast<int32_t>(shape.litlen.size())), 0);
        ASSERT_GE(build_huffman_table(distance, shape.distance.data(), static_cast<int32_t>(shape.distance.size())), 0);
        FastCode fast;
        build_fast_code(fast, litlen, distance);
        expect_table_matches(fast.litlen, litlen, true, shape.name + " litlen");
        expect_table_matches(fast.distance, distance, false, shape.name + " distance");
    }
}

}  // namespace

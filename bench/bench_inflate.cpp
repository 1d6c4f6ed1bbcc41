// bench_inflate: decoding speed of inflate_raw against zlib, libdeflate and
// ISA-L on the same raw DEFLATE streams, all in memory.
//
//   bench_inflate [options] CORPUS
//     Compresses every file of the folder CORPUS with each compressor, checks
//     that every decoder gives the file back, then times the decoders on each
//     stream and prints MB/s (decoded bytes per second, median of the runs).
//   bench_inflate --only DECODER --stream FILE@COMPRESSOR --reps N CORPUS
//     Decodes one stream N times and nothing else (N may be 0): the run for
//     callgrind, which takes a run with N = 0 as the cost of setting up.
//
// Options:
//   --time S        aim for S seconds of runs per decoder and stream (0.3)
//   --min-reps N    at least N timed rounds (3); the median round is reported.
//                   The decoders take turns, about 10 ms each per round.
//   --filter TEXT   only streams whose name holds TEXT
//   --fastest       report the fastest round instead of the median one
//   --cpu-time      time with the thread's CPU clock rather than steady_clock:
//                   on a machine busier than its cores, time spent waiting
//                   for a core is then left out
//   --no-verify     with --only: skip the comparison with the original
//   --reader-bits B with 32, run the decoder's loop for 32-bit processors,
//                   whose bit buffer is one 32-bit word (the Windows
//                   program's loop), here in a 64-bit process: its
//                   instructions and branches, though with twice the
//                   registers a 32-bit processor has; with 64, the other loop
//
// Decoders: tavrimox (output buffer of the exact size), bitwise (the same
// with the table-driven path off), count (tavrimox
// with no output buffer), zlib, libdeflate, isal. Compressors: zlib1, zlib6,
// zlib9 (zlib's raw deflate, memLevel 8), libdeflate12.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <string>
#include <vector>

#include "inflate.h"

// The decoder's internal entry chooses the bit-by-bit decode alone (the
// "bitwise" column) and the loop's reader width.
#include "inflate_internal.h"

#ifdef BENCH_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef BENCH_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace {

enum class Compressor : uint8_t { ZLIB_1, ZLIB_6, ZLIB_9, LIBDEFLATE_12 };
constexpr Compressor ALL_COMPRESSORS[] = {Compressor::ZLIB_1, Compressor::ZLIB_6,
                                          Compressor::ZLIB_9, Compressor::LIBDEFLATE_12};

enum class Decoder : uint8_t { TAVRIMOX, TAVRIMOX_BITWISE, TAVRIMOX_COUNT, ZLIB, LIBDEFLATE, ISAL };
constexpr Decoder ALL_DECODERS[] = {Decoder::TAVRIMOX, Decoder::TAVRIMOX_BITWISE,
                                    Decoder::TAVRIMOX_COUNT, Decoder::ZLIB,
                                    Decoder::LIBDEFLATE, Decoder::ISAL};
constexpr size_t DECODER_COUNT = std::size(ALL_DECODERS);

const char* compressor_name(Compressor c) {
    switch (c) {
        case Compressor::ZLIB_1: return "zlib1";
        case Compressor::ZLIB_6: return "zlib6";
        case Compressor::ZLIB_9: return "zlib9";
        case Compressor::LIBDEFLATE_12: return "libdeflate12";
    }
    return "?";
}

const char* decoder_name(Decoder d) {
    switch (d) {
        case Decoder::TAVRIMOX: return "tavrimox";
        case Decoder::TAVRIMOX_BITWISE: return "bitwise";
        case Decoder::TAVRIMOX_COUNT: return "count";
        case Decoder::ZLIB: return "zlib";
        case Decoder::LIBDEFLATE: return "libdeflate";
        case Decoder::ISAL: return "isal";
    }
    return "?";
}

bool compressor_available(Compressor c) {
#ifdef BENCH_HAVE_LIBDEFLATE
    (void)c;
    return true;
#else
    return c != Compressor::LIBDEFLATE_12;
#endif
}

bool decoder_available(Decoder d) {
#ifndef BENCH_HAVE_LIBDEFLATE
    if (d == Decoder::LIBDEFLATE) {
        return false;
    }
#endif
#ifndef BENCH_HAVE_ISAL
    if (d == Decoder::ISAL) {
        return false;
    }
#endif
    (void)d;
    return true;
}

struct RawFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

struct Stream {
    std::string name;  // file@compressor
    size_t file;       // index into the raw files
    std::vector<uint8_t> bytes;
};

// The peers' decoder objects, made once and reused for every run.
struct Peers {
    z_stream zlib;
#ifdef BENCH_HAVE_LIBDEFLATE
    libdeflate_decompressor* libdeflate;
#endif
#ifdef BENCH_HAVE_ISAL
    inflate_state* isal;
#endif
};

struct Options {
    double target_seconds = 0.3;
    uint32_t min_reps = 3;
    std::string filter;
    std::string only_decoder;
    std::string only_stream;
    uint32_t only_reps = 0;
    bool verify = true;
    bool fastest = false;
    bool cpu_time = false;
    uint32_t reader_bits = 0;  // 0: the loop this build picks
    std::string corpus;
    DecodeOptions decode;  // with the table-driven path; "bitwise" turns it off
};

bool read_file(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// Every regular file of the folder, by name; the decoders take 32-bit sizes.
bool load_corpus(const std::string& folder, std::vector<RawFile>& files) {
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file()) {
            paths.push_back(entry.path());
        }
    }
    if (error) {
        std::fprintf(stderr, "bench_inflate: %s: %s\n", folder.c_str(), error.message().c_str());
        return false;
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        RawFile file{path.filename().string(), {}};
        if (!read_file(path, file.bytes)) {
            std::fprintf(stderr, "bench_inflate: cannot read %s\n", path.string().c_str());
            return false;
        }
        if (file.bytes.empty() || file.bytes.size() > UINT32_MAX / 2) {
            std::fprintf(stderr, "bench_inflate: %s: skipped (empty or too large)\n",
                         file.name.c_str());
            continue;
        }
        files.push_back(std::move(file));
    }
    if (files.empty()) {
        std::fprintf(stderr, "bench_inflate: no files in %s (run bench/make_corpus.sh)\n",
                     folder.c_str());
        return false;
    }
    return true;
}

bool zlib_deflate_raw(const std::vector<uint8_t>& raw, int level, std::vector<uint8_t>& out) {
    z_stream stream{};
    // windowBits -15: raw DEFLATE, no zlib wrapper; memLevel 8 is zlib's default.
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    out.resize(deflateBound(&stream, static_cast<uLong>(raw.size())));
    stream.next_in = const_cast<Bytef*>(raw.data());
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return status == Z_STREAM_END;
}

bool compress(Compressor c, const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
    switch (c) {
        case Compressor::ZLIB_1: return zlib_deflate_raw(raw, 1, out);
        case Compressor::ZLIB_6: return zlib_deflate_raw(raw, 6, out);
        case Compressor::ZLIB_9: return zlib_deflate_raw(raw, 9, out);
        case Compressor::LIBDEFLATE_12: {
#ifdef BENCH_HAVE_LIBDEFLATE
            libdeflate_compressor* compressor = libdeflate_alloc_compressor(12);
            if (compressor == nullptr) {
                return false;
            }
            out.resize(libdeflate_deflate_compress_bound(compressor, raw.size()));
            const size_t size =
                libdeflate_deflate_compress(compressor, raw.data(), raw.size(), out.data(), out.size());
            libdeflate_free_compressor(compressor);
            out.resize(size);
            return size != 0;
#else
            return false;
#endif
        }
    }
    return false;
}

bool make_peers(Peers& peers) {
    peers.zlib = z_stream{};
    if (inflateInit2(&peers.zlib, -15) != Z_OK) {
        return false;
    }
#ifdef BENCH_HAVE_LIBDEFLATE
    peers.libdeflate = libdeflate_alloc_decompressor();
    if (peers.libdeflate == nullptr) {
        return false;
    }
#endif
#ifdef BENCH_HAVE_ISAL
    // Tens of kilobytes: on the heap, like the others' state.
    peers.isal = static_cast<inflate_state*>(std::malloc(sizeof(inflate_state)));
    if (peers.isal == nullptr) {
        return false;
    }
    isal_inflate_init(peers.isal);
#endif
    return true;
}

void free_peers(Peers& peers) {
    inflateEnd(&peers.zlib);
#ifdef BENCH_HAVE_LIBDEFLATE
    libdeflate_free_decompressor(peers.libdeflate);
#endif
#ifdef BENCH_HAVE_ISAL
    std::free(peers.isal);
#endif
}

// One whole decode of `in` into out[0 .. capacity). Returns whether the
// decoder reports a complete stream; `produced` gets the bytes it made.
bool decode_once(Peers& peers, const Options& options, Decoder d, const std::vector<uint8_t>& in,
                 uint8_t* out, uint32_t capacity, uint32_t& produced) {
    const auto in_size = static_cast<uint32_t>(in.size());
    switch (d) {
        case Decoder::TAVRIMOX:
        case Decoder::TAVRIMOX_BITWISE:
        case Decoder::TAVRIMOX_COUNT: {
            DecodeOptions decode = options.decode;
            decode.fast = d != Decoder::TAVRIMOX_BITWISE;
            uint32_t out_length = capacity;
            uint32_t in_length = in_size;
            const int32_t status = inflate_raw_with(d == Decoder::TAVRIMOX_COUNT ? nullptr : out,
                                                    &out_length, in.data(), &in_length, decode);
            produced = out_length;
            return status == INFLATE_OK && in_length == in_size;
        }
        case Decoder::ZLIB: {
            z_stream& z = peers.zlib;
            inflateReset(&z);
            z.next_in = const_cast<Bytef*>(in.data());
            z.avail_in = in_size;
            z.next_out = out;
            z.avail_out = capacity;
            const int status = inflate(&z, Z_FINISH);
            produced = static_cast<uint32_t>(z.total_out);
            return status == Z_STREAM_END;
        }
        case Decoder::LIBDEFLATE: {
#ifdef BENCH_HAVE_LIBDEFLATE
            size_t actual = 0;
            const libdeflate_result result = libdeflate_deflate_decompress(
                peers.libdeflate, in.data(), in.size(), out, capacity, &actual);
            produced = static_cast<uint32_t>(actual);
            return result == LIBDEFLATE_SUCCESS;
#else
            return false;
#endif
        }
        case Decoder::ISAL: {
#ifdef BENCH_HAVE_ISAL
            inflate_state* s = peers.isal;
            isal_inflate_reset(s);
            s->crc_flag = ISAL_DEFLATE;  // raw DEFLATE, no checksum
            s->hist_bits = 0;            // default window
            s->next_in = const_cast<uint8_t*>(in.data());
            s->avail_in = in_size;
            s->next_out = out;
            s->avail_out = capacity;
            const int status = isal_inflate(s);
            produced = s->total_out;
            return status == ISAL_DECOMP_OK && s->block_state == ISAL_BLOCK_FINISH;
#else
            return false;
#endif
        }
    }
    return false;
}

bool output_matches(Decoder d, const RawFile& raw, const std::vector<uint8_t>& out,
                    uint32_t produced) {
    if (produced != raw.bytes.size()) {
        return false;
    }
    return d == Decoder::TAVRIMOX_COUNT || std::memcmp(out.data(), raw.bytes.data(), produced) == 0;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds on the chosen clock, from an arbitrary origin.
double clock_now(bool cpu_time) {
    if (cpu_time) {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Each round runs every decoder for about ROUND_SLICE seconds (whole decodes,
// at least one), one decoder after another, so that a change in the machine's
// load touches all of them alike.
constexpr double ROUND_SLICE = 0.01;

// Median seconds of one decode, per decoder, into seconds[]; -1 for a decoder
// whose first, untimed run does not give the original back. Rounds go on until
// each decoder has had about target_seconds, and at least min_reps rounds.
void time_stream(Peers& peers, const bool* present, const Stream& stream, const RawFile& raw,
                 std::vector<uint8_t>& out, const Options& options, double* seconds) {
    const auto capacity = static_cast<uint32_t>(raw.bytes.size());
    uint32_t batch[DECODER_COUNT] = {};
    std::vector<double> samples[DECODER_COUNT];
    size_t timed = 0;
    for (size_t i = 0; i < DECODER_COUNT; ++i) {
        seconds[i] = -1;
        if (!present[i]) {
            continue;
        }
        std::fill(out.begin(), out.end(), uint8_t{0});
        uint32_t produced = 0;
        const auto start = std::chrono::steady_clock::now();
        const bool complete =
            decode_once(peers, options, ALL_DECODERS[i], stream.bytes, out.data(), capacity, produced);
        const double first = seconds_since(start);
        if (complete && output_matches(ALL_DECODERS[i], raw, out, produced)) {
            batch[i] = static_cast<uint32_t>(std::clamp(ROUND_SLICE / first, 1.0, 100000.0));
            timed += 1;
        }
    }
    const double budget = options.target_seconds * static_cast<double>(timed);
    const auto begin = std::chrono::steady_clock::now();
    for (uint32_t round = 0; round < options.min_reps || seconds_since(begin) < budget; ++round) {
        for (size_t i = 0; i < DECODER_COUNT; ++i) {
            if (batch[i] == 0) {
                continue;
            }
            uint32_t produced = 0;
            const double start = clock_now(options.cpu_time);
            for (uint32_t k = 0; k < batch[i]; ++k) {
                decode_once(peers, options, ALL_DECODERS[i], stream.bytes, out.data(), capacity, produced);
            }
            samples[i].push_back((clock_now(options.cpu_time) - start) / batch[i]);
        }
    }
    for (size_t i = 0; i < DECODER_COUNT; ++i) {
        if (!samples[i].empty()) {
            seconds[i] = options.fastest
                             ? *std::min_element(samples[i].begin(), samples[i].end())
                             : median(samples[i]);
        }
    }
}

bool make_streams(const std::vector<RawFile>& files, const Options& options,
                  std::vector<Stream>& streams) {
    for (size_t f = 0; f < files.size(); ++f) {
        for (const Compressor c : ALL_COMPRESSORS) {
            if (!compressor_available(c)) {
                continue;
            }
            Stream stream{files[f].name + "@" + compressor_name(c), f, {}};
            const bool wanted = options.only_stream.empty()
                                    ? stream.name.find(options.filter) != std::string::npos
                                    : stream.name == options.only_stream;
            if (!wanted) {
                continue;
            }
            if (!compress(c, files[f].bytes, stream.bytes) || stream.bytes.size() > UINT32_MAX) {
                std::fprintf(stderr, "bench_inflate: %s: compression failed\n", stream.name.c_str());
                return false;
            }
            streams.push_back(std::move(stream));
        }
    }
    return true;
}

// A stream compressed better than this is flat artwork, whose long matches
// decode many times faster than detailed data: the summary also gives the
// means without such streams, so that they do not carry them.
constexpr double FLAT_RATIO = 10;

double geometric_mean(const std::vector<double>& values) {
    double log_sum = 0;
    for (const double v : values) {
        log_sum += std::log(v);
    }
    return std::exp(log_sum / static_cast<double>(values.size()));
}

int run_one(const Options& options, const std::vector<RawFile>& files,
            const std::vector<Stream>& streams, Peers& peers) {
    Decoder decoder = Decoder::TAVRIMOX;
    bool known = false;
    for (const Decoder d : ALL_DECODERS) {
        if (options.only_decoder == decoder_name(d)) {
            decoder = d;
            known = true;
        }
    }
    if (!known || !decoder_available(decoder)) {
        std::fprintf(stderr, "bench_inflate: decoder %s unknown or not built in\n",
                     options.only_decoder.c_str());
        return 1;
    }
    if (streams.size() != 1) {
        std::fprintf(stderr, "bench_inflate: no stream %s (names are FILE@COMPRESSOR)\n",
                     options.only_stream.c_str());
        return 1;
    }
    const Stream& stream = streams[0];
    const RawFile& raw = files[stream.file];
    const auto capacity = static_cast<uint32_t>(raw.bytes.size());
    std::vector<uint8_t> out(capacity);
    uint32_t produced = 0;
    bool complete = true;
    for (uint32_t i = 0; i < options.only_reps; ++i) {
        complete = decode_once(peers, options, decoder, stream.bytes, out.data(), capacity, produced) &&
                   complete;
    }
    if (options.only_reps > 0 && options.verify &&
        (!complete || !output_matches(decoder, raw, out, produced))) {
        std::fprintf(stderr, "bench_inflate: %s: %s gives a wrong result\n", stream.name.c_str(),
                     decoder_name(decoder));
        return 2;
    }
    std::printf("%s %s runs %u output_bytes %zu input_bytes %zu\n", decoder_name(decoder),
                stream.name.c_str(), options.only_reps, raw.bytes.size(), stream.bytes.size());
    return 0;
}

int run_table(const Options& options, const std::vector<RawFile>& files,
              const std::vector<Stream>& streams, Peers& peers) {
    bool present[DECODER_COUNT];
    for (size_t i = 0; i < DECODER_COUNT; ++i) {
        present[i] = decoder_available(ALL_DECODERS[i]);
    }
    std::printf("MB/s = decoded bytes (10^6) per second, %s timed round, %s;\n"
                "ratio = original size / compressed size; tav = tavrimox with an output buffer.\n\n",
                options.fastest ? "fastest" : "median",
                options.cpu_time ? "thread CPU time" : "steady_clock");
    std::printf("%-34s %8s %6s", "stream", "KiB", "ratio");
    for (size_t i = 0; i < DECODER_COUNT; ++i) {
        if (present[i]) {
            std::printf(" %10s", decoder_name(ALL_DECODERS[i]));
        }
    }
    std::printf(" %8s %8s\n", "tav/ldf", "tav/zlib");

    std::vector<double> over_libdeflate;
    std::vector<double> over_zlib;
    std::vector<double> detailed_over_libdeflate;  // the streams that are not flat
    std::vector<double> detailed_over_zlib;
    std::vector<double> over_isal;
    std::vector<double> count_over_buffered;
    std::vector<double> over_bitwise;
    bool all_correct = true;
    for (const Stream& stream : streams) {
        const RawFile& raw = files[stream.file];
        std::vector<uint8_t> out(raw.bytes.size());
        double rate[DECODER_COUNT] = {};
        const double ratio =
            static_cast<double>(raw.bytes.size()) / static_cast<double>(stream.bytes.size());
        const bool flat = ratio > FLAT_RATIO;
        std::printf("%-34s %8zu %6.2f", stream.name.c_str(), raw.bytes.size() / 1024, ratio);
        std::fflush(stdout);
        double seconds[DECODER_COUNT] = {};
        time_stream(peers, present, stream, raw, out, options, seconds);
        for (size_t i = 0; i < DECODER_COUNT; ++i) {
            if (!present[i]) {
                continue;
            }
            if (seconds[i] < 0) {
                all_correct = false;
                std::printf(" %10s", "WRONG");
            } else {
                rate[i] = static_cast<double>(raw.bytes.size()) / 1e6 / seconds[i];
                std::printf(" %10.1f", rate[i]);
            }
        }
        const double tavrimox = rate[0];
        const double bitwise = rate[1];
        const double count = rate[2];
        const double zlib = rate[3];
        const double libdeflate = rate[4];
        const double isal = rate[5];
        if (tavrimox > 0 && libdeflate > 0) {
            over_libdeflate.push_back(tavrimox / libdeflate);
            if (!flat) {
                detailed_over_libdeflate.push_back(tavrimox / libdeflate);
            }
            std::printf(" %8.3f", tavrimox / libdeflate);
        } else {
            std::printf(" %8s", "-");
        }
        if (tavrimox > 0 && zlib > 0) {
            over_zlib.push_back(tavrimox / zlib);
            if (!flat) {
                detailed_over_zlib.push_back(tavrimox / zlib);
            }
            std::printf(" %8.3f", tavrimox / zlib);
        } else {
            std::printf(" %8s", "-");
        }
        if (tavrimox > 0 && isal > 0) {
            over_isal.push_back(tavrimox / isal);
        }
        if (tavrimox > 0 && count > 0) {
            count_over_buffered.push_back(count / tavrimox);
        }
        if (tavrimox > 0 && bitwise > 0) {
            over_bitwise.push_back(tavrimox / bitwise);
        }
        std::printf("\n");
    }
    std::printf("\ngeometric mean over %zu streams:", streams.size());
    if (!over_libdeflate.empty()) {
        std::printf(" tavrimox/libdeflate %.3f", geometric_mean(over_libdeflate));
    }
    if (!over_zlib.empty()) {
        std::printf(" tavrimox/zlib %.3f", geometric_mean(over_zlib));
    }
    if (!over_isal.empty()) {
        std::printf(" tavrimox/isal %.3f", geometric_mean(over_isal));
    }
    if (!count_over_buffered.empty()) {
        std::printf(" count/tavrimox %.3f", geometric_mean(count_over_buffered));
    }
    if (!over_bitwise.empty()) {
        std::printf(" tavrimox/bitwise %.3f", geometric_mean(over_bitwise));
    }
    std::printf("\n");
    std::printf("without the flat streams (ratio above %.0f), over %zu:", FLAT_RATIO,
                std::max(detailed_over_libdeflate.size(), detailed_over_zlib.size()));
    if (!detailed_over_libdeflate.empty()) {
        std::printf(" tavrimox/libdeflate %.3f", geometric_mean(detailed_over_libdeflate));
    }
    if (!detailed_over_zlib.empty()) {
        std::printf(" tavrimox/zlib %.3f", geometric_mean(detailed_over_zlib));
    }
    std::printf("\n");
    if (!all_correct) {
        std::printf("WRONG: a decoder did not give the original back; its cells are not timed\n");
        return 2;
    }
    return 0;
}

int usage() {
    std::fputs(
        "Usage: bench_inflate [--time S] [--min-reps N] [--filter TEXT] [--fastest] [--cpu-time] [--reader-bits 32|64] CORPUS\n"
        "       bench_inflate --only DECODER --stream FILE@COMPRESSOR --reps N [--no-verify] [--reader-bits 32|64] CORPUS\n"
        "decoders: tavrimox bitwise count zlib libdeflate isal; compressors: zlib1 zlib6 zlib9 libdeflate12\n",
        stderr);
    return 1;
}

bool parse_options(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string name = argv[i];
        if (name == "--no-verify" || name == "--fastest" || name == "--cpu-time") {
            options.verify = options.verify && name != "--no-verify";
            options.fastest = options.fastest || name == "--fastest";
            options.cpu_time = options.cpu_time || name == "--cpu-time";
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        char* end = nullptr;
        if (name == "--time") {
            options.target_seconds = std::strtod(value, &end);
        } else if (name == "--min-reps") {
            options.min_reps = static_cast<uint32_t>(std::strtoul(value, &end, 10));
        } else if (name == "--reps") {
            options.only_reps = static_cast<uint32_t>(std::strtoul(value, &end, 10));
        } else if (name == "--filter") {
            options.filter = value;
        } else if (name == "--only") {
            options.only_decoder = value;
        } else if (name == "--stream") {
            options.only_stream = value;
        } else if (name == "--reader-bits") {
            options.reader_bits = static_cast<uint32_t>(std::strtoul(value, &end, 10));
        } else {
            return false;
        }
        if (end != nullptr && (end == value || *end != '\0')) {
            return false;
        }
    }
    if (options.reader_bits != 0 && options.reader_bits != 32 && options.reader_bits != 64) {
        return false;
    }
    if (i + 1 != argc || options.min_reps == 0 || options.only_decoder.empty() != options.only_stream.empty()) {
        return false;
    }
    options.corpus = argv[i];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        return usage();
    }
    std::vector<RawFile> files;
    if (!load_corpus(options.corpus, files)) {
        return 2;
    }
    if (options.reader_bits != 0) {
        options.decode.reader_bits = options.reader_bits;
    }
    const bool single = !options.only_decoder.empty();
    if (!single) {
#ifndef BENCH_HAVE_LIBDEFLATE
        std::printf("libdeflate not found at build time: no libdeflate column, no libdeflate12 streams\n");
#endif
#ifndef BENCH_HAVE_ISAL
        std::printf("ISA-L not found at build time: no isal column\n");
#endif
    }
    std::vector<Stream> streams;
    if (!make_streams(files, options, streams)) {
        return 2;
    }
    Peers peers{};
    if (!make_peers(peers)) {
        std::fprintf(stderr, "bench_inflate: a peer decoder could not be set up\n");
        return 2;
    }
    const int status = single ? run_one(options, files, streams, peers)
                              : run_table(options, files, streams, peers);
    free_peers(peers);
    return status;
}

#include "convert_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Gives back what a conversion took from its budget, however it ends.
struct MemoryGiveBack {
    uint64_t bytes = 0;
    void operator()(MemoryBudget* budget) const { give_back_memory(*budget, bytes); }
};
using MemoryHeld = std::unique_ptr<MemoryBudget, MemoryGiveBack>;

bool fail(FileConversion& result, std::string reason) {
    result.outcome = Outcome::FAILED;
    result.reason = std::move(reason);
    return false;
}

std::string read_failure(std::FILE* file, const char* short_reason) {
    return std::ferror(file) ? std::strerror(errno) : short_reason;
}

// Reads the rest of a file of unknown size (a pipe) into tex, from `have`
// up to `size` bytes, growing the buffer as data arrives, so that a header
// announcing more than the pipe delivers costs no more memory than the data.
bool read_in_chunks(std::FILE* file, Buffer& tex, size_t have, uint64_t size,
                    FileConversion& result) {
    constexpr size_t CHUNK = size_t{1} << 20;
    while (have < size) {
        const size_t want = size - have < CHUNK ? static_cast<size_t>(size - have) : CHUNK;
        if (want > SIZE_MAX - have || !grow_buffer(tex, have + want)) {
            return fail(result, "not enough memory");
        }
        const size_t got = std::fread(tex.get() + have, 1, want, file);
        have += got;
        if (got != want) {
            return fail(result, read_failure(file, "truncated payload"));
        }
    }
    return true;
}

// Reads the TEX file into tex[0 .. size): the header, then the payload it
// announces, nothing after. Stops at a wrong magic (NOT_TEX, nothing more
// read) and refuses a file of known size that is shorter than announced
// before taking the memory, from the budget where there is one.
bool read_tex_file(const PathChar* path, const ConvertOptions& options, MemoryHeld& held,
                   Buffer& tex, size_t& size, FileConversion& result) {
    File input(open_for_reading(path));
    if (!input) {
        return fail(result, std::strerror(errno));
    }
    uint8_t header_bytes[TEX_HEADER_BYTES];
    const size_t header_read = std::fread(header_bytes, 1, TEX_HEADER_BYTES, input.get());
    if (std::ferror(input.get())) {
        return fail(result, std::strerror(errno));
    }
    TexHeader header{};
    switch (check_tex_header(header_bytes, header_read, header)) {
        case TexCheck::NOT_TEX:
            result.outcome = Outcome::NOT_TEX;
            return false;
        case TexCheck::TRUNCATED_HEADER:
            return fail(result, "truncated header");
        case TexCheck::TEX:
            break;
    }
    const uint64_t total = uint64_t{TEX_HEADER_BYTES} + header.compressed_size;
    const int64_t file_size = regular_file_size(input.get());
    if (file_size >= 0 && static_cast<uint64_t>(file_size) < total) {
        return fail(result, "truncated payload");
    }
    if (options.budget != nullptr) {
        const uint64_t bytes = conversion_memory(header, options.mode);
        take_memory(*options.budget, bytes);
        held = MemoryHeld(options.budget, MemoryGiveBack{bytes});
    }
    if (file_size < 0) {
        tex = allocate_zeroed(0);
        if (!tex || !grow_buffer(tex, TEX_HEADER_BYTES)) {
            return fail(result, "not enough memory");
        }
        std::memcpy(tex.get(), header_bytes, TEX_HEADER_BYTES);
        size = static_cast<size_t>(total);  // read whole only if it fits
        return read_in_chunks(input.get(), tex, TEX_HEADER_BYTES, total, result);
    }
    if (total > SIZE_MAX) {
        return fail(result, "not enough memory");
    }
    size = static_cast<size_t>(total);
    tex = allocate_zeroed(size);
    if (!tex) {
        return fail(result, "not enough memory");
    }
    std::memcpy(tex.get(), header_bytes, TEX_HEADER_BYTES);
    const size_t payload = size - TEX_HEADER_BYTES;
    if (std::fread(tex.get() + TEX_HEADER_BYTES, 1, payload, input.get()) != payload) {
        return fail(result, read_failure(input.get(), "truncated payload"));
    }
    return true;
}

}  // namespace

FileConversion convert_tex_file(const PathChar* input, const PathChar* output,
                                const ConvertOptions& options) {
    FileConversion result{Outcome::FAILED, false, std::string(), std::string(), 0, 0};
    MemoryHeld held;  // given back after the buffers below are freed
    Buffer tex;
    size_t size = 0;
    if (!read_tex_file(input, options, held, tex, size, result)) {
        return result;
    }
    result.bytes_in = size;
    Conversion conversion = convert_tex(tex.get(), size, options);
    tex.reset();
    result.outcome = conversion.outcome;
    if (conversion.outcome != Outcome::CONVERTED) {
        result.reason = conversion.reason != nullptr ? conversion.reason : "";
        return result;
    }
    result.damage = damage_report(conversion);
    if (!options.write_damaged && !result.damage.empty()) {
        conversion.decoded.bytes.reset();  // worded as a count: nothing was written
        result.damage = damage_report(conversion);
        result.outcome = Outcome::FAILED;
        result.reason = result.damage + "; not written";
        return result;
    }
    if (output == nullptr) {
        return result;
    }
    OutputRegion regions[3];
    const size_t count = dds_regions(conversion, regions);
    if (!write_file_replacing(output, regions, count, result.reason)) {
        result.outcome = Outcome::FAILED;
        result.output_at_fault = true;
        return result;
    }
    for (size_t i = 0; i < count; ++i) {
        result.bytes_out += regions[i].size;
    }
    return result;
}

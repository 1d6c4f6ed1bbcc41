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
// before taking the memory.
bool read_tex_file(const PathChar* path, Buffer& tex, size_t& size, FileConversion& result) {
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
    Buffer tex;
    size_t size = 0;
    if (!read_tex_file(input, tex, size, result)) {
        return result;
    }
    result.bytes_in = size;
    const Conversion conversion = convert_tex(tex.get(), size, options);
    tex.reset();
    result.outcome = conversion.outcome;
    if (conversion.outcome != Outcome::CONVERTED) {
        result.reason = conversion.reason != nullptr ? conversion.reason : "";
        return result;
    }
    result.damage = damage_report(conversion);
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

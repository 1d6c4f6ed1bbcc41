#include "conversion.h"

#include <algorithm>

#include "inflate.h"

TexCheck check_tex_header(const uint8_t* bytes, size_t available, TexHeader& header) {
    if (available < 4 || tex_magic(bytes) != TEX_MAGIC) {
        return TexCheck::NOT_TEX;
    }
    if (available < TEX_HEADER_BYTES) {
        return TexCheck::TRUNCATED_HEADER;
    }
    header = parse_tex_header(bytes);
    return TexCheck::TEX;
}

uint64_t most_output_of(uint32_t compressed_size) {
    return uint64_t{1032} * compressed_size;
}

uint64_t conversion_memory(const TexHeader& header, DecodeMode mode) {
    const uint64_t tex = uint64_t{TEX_HEADER_BYTES} + header.compressed_size;
    if (mode == DecodeMode::COUNT_ONLY) {
        return tex;
    }
    return tex + std::min<uint64_t>(header.uncompressed_size, most_output_of(header.compressed_size));
}

namespace {

// The decoder's status is not examined here: a malformed payload still
// converts. The buffer is zero-filled, so that bytes the decoder did not
// write, which a status of 1 or 2 puts in the file, are zeros.
bool decode_payload(const TexHeader& header, const uint8_t* payload, const ConvertOptions& options,
                    DecodedPayload& decoded) {
    uint32_t produced = header.uncompressed_size;
    uint32_t consumed = header.compressed_size;
    decoded.capacity = 0;
    if (options.mode == DecodeMode::BUFFERED) {
        decoded.capacity = static_cast<uint32_t>(
            std::min<uint64_t>(produced, most_output_of(header.compressed_size)));
        if (decoded.capacity > options.memory_limit) {
            return false;
        }
        decoded.bytes = allocate_zeroed(decoded.capacity);
        if (!decoded.bytes) {
            return false;
        }
        produced = decoded.capacity;
    }
    decoded.status = inflate_raw(decoded.bytes.get(), &produced, payload, &consumed);
    // Statuses 1 and 2 leave both counts as they were passed.
    const bool counted = decoded.status <= INFLATE_OK;
    decoded.produced = counted ? produced : 0;
    decoded.consumed = counted ? consumed : 0;
    decoded.file_bytes = counted ? produced : header.uncompressed_size;
    return true;
}

}  // namespace

Conversion convert_tex(const uint8_t* tex, size_t size, const ConvertOptions& options) {
    Conversion conversion{};
    switch (check_tex_header(tex, size, conversion.header)) {
        case TexCheck::NOT_TEX:
            conversion.outcome = Outcome::NOT_TEX;
            return conversion;
        case TexCheck::TRUNCATED_HEADER:
            conversion.outcome = Outcome::FAILED;
            conversion.reason = "truncated header";
            return conversion;
        case TexCheck::TEX:
            break;
    }
    if (conversion.header.compressed_size > size - TEX_HEADER_BYTES) {
        conversion.outcome = Outcome::FAILED;
        conversion.reason = "truncated payload";
        return conversion;
    }
    if (!decode_payload(conversion.header, tex + TEX_HEADER_BYTES, options, conversion.decoded)) {
        conversion.outcome = Outcome::FAILED;
        conversion.reason = "not enough memory";
        return conversion;
    }
    conversion.dds =
        make_dds_header(conversion.header.width, conversion.header.height, options.header);
    conversion.outcome = Outcome::CONVERTED;
    return conversion;
}

size_t dds_regions(const Conversion& conversion, OutputRegion (&regions)[3]) {
    const DecodedPayload& decoded = conversion.decoded;
    const uint32_t held = std::min(decoded.file_bytes, decoded.capacity);
    regions[0] = {conversion.dds.bytes, DDS_HEADER_BYTES};
    regions[1] = {decoded.bytes.get(), held};
    regions[2] = {nullptr, uint64_t{decoded.file_bytes} - held};
    return regions[2].size != 0 ? 3 : 2;
}

std::string damage_report(const Conversion& conversion) {
    const DecodedPayload& d = conversion.decoded;
    const uint32_t declared = conversion.header.uncompressed_size;
    const bool counting = !d.bytes;
    if (d.status == INFLATE_OK && d.produced == declared) {
        return std::string();
    }
    const std::string words = inflate_status_text(d.status);
    const std::string of_declared = " of " + std::to_string(declared) + " declared bytes";
    if (d.status < INFLATE_OK) {
        return "payload damaged at byte " + std::to_string(d.consumed) + " of " +
               std::to_string(conversion.header.compressed_size) + " (" + words + "); " +
               (counting ? std::to_string(d.produced) + of_declared + " decode"
                         : "wrote " + std::to_string(d.produced) + of_declared);
    }
    if (d.status == INFLATE_OK) {
        if (d.produced > declared) {  // only a count can pass the declared size
            return "payload decodes to " + std::to_string(d.produced) + " bytes, more than its " +
                   std::to_string(declared) + " declared";
        }
        return "payload decodes to " + std::to_string(d.produced) + of_declared +
               (counting ? "" : "; wrote those " + std::to_string(d.produced));
    }
    const std::string what = d.status == INFLATE_OUTPUT_FULL
                                 ? "payload decodes to more than its " + std::to_string(declared) +
                                       " declared bytes (" + words + ")"
                                 : "payload damaged (" + words + ")";
    return what + (counting ? "" : "; wrote the " + std::to_string(declared) +
                                       " declared bytes, zero past those decoded");
}

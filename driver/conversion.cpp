#include "conversion.h"

#include <cstring>

#include "inflate.h"

uint32_t decode_tex_payload(TexHeader& header, const uint8_t* payload, uint8_t* output) {
    inflate_raw(output, &header.uncompressed_size, payload, &header.compressed_size);
    return header.uncompressed_size;
}

int read_tex_header(const uint8_t* bytes, size_t available, TexHeader& header,
                    const char*& reason) {
    if (available < 4 || tex_magic(bytes) != TEX_MAGIC) {
        return EXIT_BAD_MAGIC;
    }
    if (available < TEX_HEADER_BYTES) {
        reason = "truncated header";
        return EXIT_CANNOT_CONVERT;
    }
    header = parse_tex_header(bytes);
    return EXIT_CONVERTED;
}

int convert_tex_bytes(const uint8_t* tex, size_t size, uint64_t output_limit,
                      std::vector<uint8_t>& dds, std::string& reason) {
    TexHeader header{};
    const char* header_reason = "";
    if (const int status = read_tex_header(tex, size, header, header_reason);
        status != EXIT_CONVERTED) {
        reason = header_reason;
        return status;
    }
    if (header.compressed_size > size - TEX_HEADER_BYTES) {
        reason = "truncated payload";
        return EXIT_CANNOT_CONVERT;
    }
    if (header.uncompressed_size > output_limit) {
        reason = "not enough memory";
        return EXIT_CANNOT_CONVERT;
    }
    const DdsHeader dds_header = make_dds_header(header.width, header.height);
    dds.assign(DDS_HEADER_BYTES + size_t{header.uncompressed_size}, 0);
    std::memcpy(dds.data(), dds_header.bytes, DDS_HEADER_BYTES);
    // dds.data() + 128 is a real buffer even for a declared size of 0.
    const uint32_t written =
        decode_tex_payload(header, tex + TEX_HEADER_BYTES, dds.data() + DDS_HEADER_BYTES);
    dds.resize(DDS_HEADER_BYTES + size_t{written});
    return EXIT_CONVERTED;
}

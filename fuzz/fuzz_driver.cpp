// A whole TEX file through convert_tex_bytes. Checks the exit status against
// the header alone, the 128 DDS header bytes against the layout, and the
// payload against a decode of its own: the bytes produced for a decoder
// status of 0 or below, else the declared size with zeros past what was
// produced.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "conversion.h"
#include "fuzz_support.h"
#include "inflate.h"

namespace {

// Keeps one run's allocations small; larger declared sizes must give status 4.
constexpr uint64_t OUTPUT_LIMIT = 1u << 20;

uint32_t load_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The DDS start for a TEX file whose width and height bytes are w0 w1 h0 h1:
// offsets 0 "DDS ", 4 size 124, 8 flags 0x1007, 12 height, 16 width,
// 76 pixel format size 32, 80 its flags 4 (FourCC), 84 "DXT5"; zero elsewhere.
void expect_dds_header(const uint8_t* dds, const uint8_t* tex) {
    uint8_t want[128] = {};
    const uint8_t fields[][5] = {
        {0, 'D', 'D', 'S', ' '},  {4, 124, 0, 0, 0},         {8, 0x07, 0x10, 0, 0},
        {12, tex[6], tex[7], 0, 0}, {16, tex[4], tex[5], 0, 0}, {76, 32, 0, 0, 0},
        {80, 4, 0, 0, 0},         {84, 'D', 'X', 'T', '5'},
    };
    for (const auto& field : fields) {
        std::memcpy(want + field[0], field + 1, 4);
    }
    expect(std::memcmp(dds, want, sizeof want) == 0, "the DDS header follows the layout");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> tex(new uint8_t[size]);
    if (size != 0) {
        std::memcpy(tex.get(), data, size);
    }
    std::vector<uint8_t> dds;
    std::string reason;
    const int status = convert_tex_bytes(tex.get(), size, OUTPUT_LIMIT, dds, reason);
    expect(status == EXIT_CONVERTED || status == EXIT_BAD_MAGIC || status == EXIT_CANNOT_CONVERT,
           "the conversion ends with 0, 2 or 4");

    if (size < 4 || std::memcmp(data, "TEX ", 4) != 0) {
        expect(status == EXIT_BAD_MAGIC, "no TEX magic: status 2");
        return 0;
    }
    if (size < 32) {
        expect(status == EXIT_CANNOT_CONVERT && !reason.empty(), "a short header: status 4");
        return 0;
    }
    uint32_t compressed = load_u32(data + 20);
    uint32_t declared = load_u32(data + 24);
    if (compressed > size - 32 || declared > OUTPUT_LIMIT) {
        expect(status == EXIT_CANNOT_CONVERT && !reason.empty(),
               "a short payload or an oversized output: status 4");
        return 0;
    }
    expect(status == EXIT_CONVERTED, "a complete file converts");
    expect(dds.size() >= 128, "the DDS file holds its header");
    expect_dds_header(dds.data(), data);

    std::unique_ptr<uint8_t[]> payload(new uint8_t[compressed]);
    if (compressed != 0) {
        std::memcpy(payload.get(), data + 32, compressed);
    }
    std::vector<uint8_t> decoded(declared, 0);
    std::unique_ptr<uint8_t[]> empty(new uint8_t[0]);
    uint8_t* output = declared != 0 ? decoded.data() : empty.get();
    uint32_t produced = declared;
    const int32_t decoder_status = inflate_raw(output, &produced, payload.get(), &compressed);
    const uint32_t kept = decoder_status <= 0 ? produced : declared;
    expect(dds.size() == 128 + size_t{kept},
           "the payload is what was produced, or the declared size for status 1 and 2");
    expect(kept == 0 || std::memcmp(dds.data() + 128, decoded.data(), kept) == 0,
           "the payload holds the decoded bytes, zeros past them");
    return 0;
}

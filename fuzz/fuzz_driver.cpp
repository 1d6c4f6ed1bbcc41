// A whole TEX file through convert_tex, the program's own conversion steps.
// Checks the outcome against the header alone, the 128 DDS header bytes
// against the layout, and the file's regions against a decode of its own
// into a buffer of the declared size: the bytes produced for a decoder
// status of 0 or below, else the declared size with zeros past what was
// produced. Also that the buffer never exceeds what the payload can fill,
// and that a damaged payload, and only one, gets a one-line report.
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

// Reference decodes are made only up to this declared size; the conversion
// itself takes any, since its buffer follows the payload (at most 4 MiB for
// the 4 KiB inputs run.sh allows).
constexpr uint32_t REFERENCE_LIMIT = 1u << 22;

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

// Whether the file after its header, regions of data or of zeros (a null
// one), is exactly want[0 .. size).
bool regions_hold(const OutputRegion* regions, size_t count, const uint8_t* want, uint64_t size) {
    uint64_t at = 0;
    for (size_t i = 1; i < count; ++i) {
        for (uint64_t k = 0; k < regions[i].size; ++k, ++at) {
            const uint8_t b = regions[i].data != nullptr ? regions[i].data[k] : 0;
            if (at >= size || b != want[at]) {
                return false;
            }
        }
    }
    return at == size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<uint8_t[]> tex = exact_copy(data, size);
    const Conversion conversion = convert_tex(tex.get(), size, ConvertOptions{});

    if (size < 4 || std::memcmp(data, "TEX ", 4) != 0) {
        expect(conversion.outcome == Outcome::NOT_TEX, "no TEX magic: not converted");
        return 0;
    }
    if (size < 32) {
        expect(conversion.outcome == Outcome::FAILED && conversion.reason != nullptr,
               "a short header fails with a reason");
        return 0;
    }
    uint32_t compressed = load_u32(data + 20);
    const uint32_t declared = load_u32(data + 24);
    if (compressed > size - 32) {
        expect(conversion.outcome == Outcome::FAILED && conversion.reason != nullptr,
               "a short payload fails with a reason");
        return 0;
    }
    expect(conversion.outcome == Outcome::CONVERTED, "a complete file converts");
    expect(conversion.decoded.capacity <= uint64_t{1032} * compressed,
           "the buffer is no larger than the payload can fill");
    OutputRegion regions[3];
    const size_t count = dds_regions(conversion, regions);
    expect(regions[0].size == 128, "the DDS file starts with its header");
    expect_dds_header(regions[0].data, data);

    const std::string damage = damage_report(conversion);
    expect(damage.find('\n') == std::string::npos, "a damage report is one line");
    expect(damage.empty() == (conversion.decoded.status == INFLATE_OK &&
                              conversion.decoded.produced == declared),
           "a report exactly when the payload is damaged or short");

    if (declared > REFERENCE_LIMIT) {
        return 0;
    }
    std::unique_ptr<uint8_t[]> payload = exact_copy(data + 32, compressed);
    std::vector<uint8_t> decoded(size_t{declared} + 1, 0);  // never null, also for 0
    uint32_t produced = declared;
    const int32_t status = inflate_raw(decoded.data(), &produced, payload.get(), &compressed);
    expect(status == conversion.decoded.status, "the same status as with the full buffer");
    const uint32_t kept = status <= 0 ? produced : declared;
    expect(regions_hold(regions, count, decoded.data(), kept),
           "the payload is what was produced, or the declared size for status 1 and 2");
    return 0;
}

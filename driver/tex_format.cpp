#include "tex_format.h"

namespace {

uint16_t load_u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t load_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void store_u32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// DDS field offsets, counted from the file start (magic included).
constexpr size_t DDS_SIZE = 4;
constexpr size_t DDS_FLAGS = 8;
constexpr size_t DDS_HEIGHT = 12;
constexpr size_t DDS_WIDTH = 16;
constexpr size_t DDS_LINEAR_SIZE = 20;
constexpr size_t DDS_PF_SIZE = 76;
constexpr size_t DDS_PF_FLAGS = 80;
constexpr size_t DDS_PF_FOURCC = 84;
constexpr size_t DDS_CAPS = 108;

constexpr uint32_t DDS_MAGIC = 0x20534444;  // "DDS "
constexpr uint32_t DDSD_CAPS_HEIGHT_WIDTH_PIXELFORMAT = 0x1007;
constexpr uint32_t DDSD_LINEARSIZE = 0x80000;
constexpr uint32_t DDSCAPS_TEXTURE = 0x1000;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t FOURCC_DXT5 = 0x35545844;  // "DXT5"

// Blocks of 16 bytes over the top level. 65533 to 65535 both ways make 2^32,
// one past what the field holds: it then says the most it can.
uint32_t dxt5_linear_size(uint16_t width, uint16_t height) {
    const uint64_t across = width < 4 ? 1 : (uint64_t{width} + 3) / 4;
    const uint64_t down = height < 4 ? 1 : (uint64_t{height} + 3) / 4;
    const uint64_t size = across * down * 16;
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

}  // namespace

uint32_t tex_magic(const uint8_t* bytes) {
    return load_u32(bytes);
}

TexHeader parse_tex_header(const uint8_t* bytes) {
    TexHeader header{};
    header.magic = load_u32(bytes);
    header.width = load_u16(bytes + 4);
    header.height = load_u16(bytes + 6);
    header.compressed_size = load_u32(bytes + 20);
    header.uncompressed_size = load_u32(bytes + 24);
    return header;
}

DdsHeader make_dds_header(uint16_t width, uint16_t height, DdsHeaderKind kind) {
    DdsHeader header{};
    const bool for_readers = kind == DdsHeaderKind::READERS;
    store_u32(header.bytes, DDS_MAGIC);
    store_u32(header.bytes + DDS_SIZE, 124);
    store_u32(header.bytes + DDS_FLAGS,
              DDSD_CAPS_HEIGHT_WIDTH_PIXELFORMAT | (for_readers ? DDSD_LINEARSIZE : 0));
    store_u32(header.bytes + DDS_HEIGHT, height);
    store_u32(header.bytes + DDS_WIDTH, width);
    store_u32(header.bytes + DDS_PF_SIZE, 32);
    store_u32(header.bytes + DDS_PF_FLAGS, DDPF_FOURCC);
    store_u32(header.bytes + DDS_PF_FOURCC, FOURCC_DXT5);
    if (for_readers) {
        store_u32(header.bytes + DDS_LINEAR_SIZE, dxt5_linear_size(width, height));
        store_u32(header.bytes + DDS_CAPS, DDSCAPS_TEXTURE);
    }
    return header;
}

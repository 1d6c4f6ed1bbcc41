// make_tex: wraps DXT5 block data in a TEX file, the payload compressed by
// zlib as raw DEFLATE (no zlib header, no checksum).
//
//   make_tex [--level N | --stored] input.dds output.tex
//   make_tex [--level N | --stored] --raw WIDTH HEIGHT blocks.bin output.tex
//
// From a DDS file it takes the width and height of the header and every byte
// after the 128-byte header; the file must declare DXT5. --stored writes
// stored blocks only (level 0). Exit status 0 on success, 1 on a usage error,
// 2 on anything else, with one line on standard error.
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t TEX_HEADER_BYTES = 32;
constexpr size_t DDS_HEADER_BYTES = 128;
constexpr uint32_t DDS_MAGIC = 0x20534444;    // "DDS "
constexpr uint32_t FOURCC_DXT5 = 0x35545844;  // "DXT5"

constexpr const char* USAGE =
    "Usage: make_tex [--level N | --stored] input.dds output.tex\n"
    "       make_tex [--level N | --stored] --raw WIDTH HEIGHT blocks.bin output.tex\n";

struct Texture {
    uint16_t width;
    uint16_t height;
    std::vector<uint8_t> blocks;
};

uint32_t load_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void store_u16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void store_u32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

int fail(const std::string& what) {
    std::fprintf(stderr, "make_tex: %s\n", what.c_str());
    return 2;
}

bool read_file(const char* path, std::vector<uint8_t>& data, std::string& error) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        error = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        data.insert(data.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    if (!ok) {
        error = std::string(path) + ": " + std::strerror(errno);
    }
    std::fclose(file);
    return ok;
}

// dwHeight at 12, dwWidth at 16, the pixel format's FourCC at 84.
bool texture_from_dds(const std::vector<uint8_t>& dds, Texture& texture, std::string& error) {
    if (dds.size() < DDS_HEADER_BYTES || load_u32(dds.data()) != DDS_MAGIC) {
        error = "not a DDS file";
        return false;
    }
    if (load_u32(dds.data() + 84) != FOURCC_DXT5) {
        error = "the DDS file does not hold DXT5 data";
        return false;
    }
    const uint32_t height = load_u32(dds.data() + 12);
    const uint32_t width = load_u32(dds.data() + 16);
    if (width > UINT16_MAX || height > UINT16_MAX) {
        error = "width or height above 65535";
        return false;
    }
    texture.width = static_cast<uint16_t>(width);
    texture.height = static_cast<uint16_t>(height);
    texture.blocks.assign(dds.begin() + DDS_HEADER_BYTES, dds.end());
    return true;
}

bool parse_u16(const char* text, uint16_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > UINT16_MAX) {
        return false;
    }
    value = static_cast<uint16_t>(parsed);
    return true;
}

// One deflate call with Z_FINISH into a buffer of deflateBound's size.
bool deflate_raw(const std::vector<uint8_t>& data, int level, std::vector<uint8_t>& out,
                 std::string& error) {
    z_stream stream{};
    // windowBits -15: raw DEFLATE; memLevel 9: zlib's best.
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "deflateInit2 failed";
        return false;
    }
    out.resize(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = data.data();
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        error = "deflate did not finish";
        return false;
    }
    return true;
}

bool write_file(const char* path, const std::vector<uint8_t>& data, std::string& error) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        error = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = std::string(path) + ": write failed";
        return false;
    }
    return true;
}

// TEX layout: "TEX ", width u16 at 4, height u16 at 6, compressed_size u32 at
// 20, uncompressed_size u32 at 24, all little-endian; the rest of the 32
// bytes zero; the payload follows.
std::vector<uint8_t> make_tex_file(const Texture& texture, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> tex(TEX_HEADER_BYTES, 0);
    std::memcpy(tex.data(), "TEX ", 4);
    store_u16(tex.data() + 4, texture.width);
    store_u16(tex.data() + 6, texture.height);
    store_u32(tex.data() + 20, static_cast<uint32_t>(payload.size()));
    store_u32(tex.data() + 24, static_cast<uint32_t>(texture.blocks.size()));
    tex.insert(tex.end(), payload.begin(), payload.end());
    return tex;
}

}  // namespace

int main(int argc, char** argv) {
    int level = 9;
    int arg = 1;
    while (arg < argc && argv[arg][0] == '-' && argv[arg][1] == '-' &&
           std::strcmp(argv[arg], "--raw") != 0) {
        if (std::strcmp(argv[arg], "--stored") == 0) {
            level = 0;
            arg += 1;
        } else if (std::strcmp(argv[arg], "--level") == 0 && arg + 1 < argc &&
                   argv[arg + 1][0] >= '0' && argv[arg + 1][0] <= '9' &&
                   argv[arg + 1][1] == '\0') {
            level = argv[arg + 1][0] - '0';
            arg += 2;
        } else {
            std::fputs(USAGE, stderr);
            return 1;
        }
    }

    Texture texture{};
    std::string error;
    const char* output_path = nullptr;
    if (argc - arg == 5 && std::strcmp(argv[arg], "--raw") == 0) {
        if (!parse_u16(argv[arg + 1], texture.width) || !parse_u16(argv[arg + 2], texture.height)) {
            std::fputs(USAGE, stderr);
            return 1;
        }
        if (!read_file(argv[arg + 3], texture.blocks, error)) {
            return fail(error);
        }
        output_path = argv[arg + 4];
    } else if (argc - arg == 2) {
        std::vector<uint8_t> dds;
        if (!read_file(argv[arg], dds, error)) {
            return fail(error);
        }
        if (!texture_from_dds(dds, texture, error)) {
            return fail(std::string(argv[arg]) + ": " + error);
        }
        output_path = argv[arg + 1];
    } else {
        std::fputs(USAGE, stderr);
        return 1;
    }

    // deflateBound of a size near 2^32 itself passes 2^32; stay well below.
    if (texture.blocks.size() > UINT32_MAX / 2) {
        return fail("block data too large for a TEX file");
    }
    std::vector<uint8_t> payload;
    if (!deflate_raw(texture.blocks, level, payload, error)) {
        return fail(error);
    }
    if (!write_file(output_path, make_tex_file(texture, payload), error)) {
        return fail(error);
    }
    return 0;
}

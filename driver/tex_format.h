// The two file layouts: the TEX header read, the DDS header written.
#ifndef TAVRIMOX_TEX_FORMAT_H
#define TAVRIMOX_TEX_FORMAT_H

#include <cstddef>
#include <cstdint>

inline constexpr size_t TEX_HEADER_BYTES = 32;
inline constexpr size_t DDS_HEADER_BYTES = 128;
inline constexpr uint32_t TEX_MAGIC = 0x20584554;  // "TEX " read little-endian

// TEX file: offset 0 magic "TEX ", 4 width (u16), 6 height (u16), 8..19 not
// interpreted, 20 compressed_size (u32), 24 uncompressed_size (u32), 28..31 not
// interpreted; the raw DEFLATE payload follows at 32. All little-endian.
// The two sizes double as inflate_raw's in/out lengths.
struct TexHeader {
    uint32_t magic;
    uint16_t width;
    uint16_t height;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
};

// The first four bytes as one little-endian value; bytes must hold 4.
uint32_t tex_magic(const uint8_t* bytes);

// Reads the interpreted fields from the 32 header bytes.
TexHeader parse_tex_header(const uint8_t* bytes);

// The 128-byte DDS file start: "DDS ", then a DXT5 surface header in which
// only dwHeight (offset 12) and dwWidth (offset 16) vary. Height comes before
// width, as the DDS layout has it.
struct DdsHeader {
    uint8_t bytes[DDS_HEADER_BYTES];
};

// EXACT: the fixed header above. READERS: the same plus DDSCAPS_TEXTURE in
// dwCaps (offset 108) and DDSD_LINEARSIZE in dwFlags (offset 8) with the top
// level's size in dwPitchOrLinearSize (offset 20), which OpenImageIO, NVIDIA
// Texture Tools and Godot before 4.3 require: 16 bytes per 4x4 block, at
// least one block each way (5x3 -> 2 x 1 x 16 = 32).
enum class DdsHeaderKind { EXACT, READERS };

DdsHeader make_dds_header(uint16_t width, uint16_t height,
                          DdsHeaderKind kind = DdsHeaderKind::EXACT);

#endif

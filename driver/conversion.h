// One conversion, in steps that the program, the batch program, the tests and
// the fuzz target all share: the TEX header checked, the payload decoded, the
// DDS file laid out. Only the file steps around them (convert_file.h)
// differ from one caller to the next.
#ifndef TAVRIMOX_CONVERSION_H
#define TAVRIMOX_CONVERSION_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "buffer.h"
#include "memory_budget.h"
#include "tex_format.h"

enum class TexCheck { TEX, NOT_TEX, TRUNCATED_HEADER };

// The checks on a TEX file's first `available` bytes: NOT_TEX when they do
// not start with "TEX " (fewer than 4 included), TRUNCATED_HEADER when they
// hold no whole header, else TEX with header parsed.
TexCheck check_tex_header(const uint8_t* bytes, size_t available, TexHeader& header);

// The most bytes a raw DEFLATE stream of `compressed_size` bytes can decode
// to. The cheapest element is a match of 258 bytes in 2 bits (1-bit length
// and distance codes): 1032 bytes a byte, more than a stored block gives.
uint64_t most_output_of(uint32_t compressed_size);

enum class DecodeMode { BUFFERED, COUNT_ONLY };

struct ConvertOptions {
    DecodeMode mode = DecodeMode::BUFFERED;
    // The most the output buffer may take; a larger one is "not enough memory".
    uint64_t memory_limit = UINT64_MAX;
    DdsHeaderKind header = DdsHeaderKind::EXACT;
    // convert_tex_file only. False: a damaged payload (damage_report has
    // words for it) is not written; the outcome is FAILED and the words
    // say what the payload decodes to, not what was written.
    bool write_damaged = true;
    // convert_tex_file only: where given, the file's buffers (conversion_memory)
    // are taken from it before they are allocated, and given back at the end.
    MemoryBudget* budget = nullptr;
};

// What a conversion's buffers hold at most: the TEX file, then the decoded
// payload (none when counting only).
uint64_t conversion_memory(const TexHeader& header, DecodeMode mode);

// A decoded payload. The buffer holds `capacity` bytes: the declared size,
// or what the payload can produce where that is less, so that a header
// announcing 4 GiB over a short stream costs no more than the stream.
// Either way the decoder returns the same status, counts and bytes.
struct DecodedPayload {
    Buffer bytes;           // zero past what the decoder wrote; null when counting only
    uint32_t capacity;
    int32_t status;         // the decoder's
    uint32_t produced;      // bytes decoded (counted): only for a status of 0 or below
    uint32_t consumed;      // payload bytes consumed: likewise
    uint32_t file_bytes;    // what follows the DDS header: produced for a status of 0
                            // or below, the declared size for 1 and 2
};

enum class Outcome { CONVERTED, NOT_TEX, FAILED };

struct Conversion {
    Outcome outcome;
    const char* reason;  // why, when FAILED
    TexHeader header;    // as read
    DdsHeader dds;
    DecodedPayload decoded;
};

// The whole conversion of a TEX file held in memory, tex[0 .. size). The
// decoder's status does not make it fail: a damaged payload converts, and
// damage_report says how.
Conversion convert_tex(const uint8_t* tex, size_t size, const ConvertOptions& options);

// The DDS file of a conversion: its header, the decoded bytes, then zeros
// up to file_bytes. Returns how many of the regions are used.
size_t dds_regions(const Conversion& conversion, OutputRegion (&regions)[3]);

// What went wrong with a payload that did not decode cleanly to its declared
// size, in words for one line, such as "payload damaged at byte 5012 of
// 1003521 (a match reaches back before the first byte); wrote 208341 of
// 1048576 declared bytes"; empty for a clean one.
std::string damage_report(const Conversion& conversion);

#endif

// The conversion itself, on memory: TEX bytes in, DDS bytes out.
#ifndef TAVRIMOX_CONVERSION_H
#define TAVRIMOX_CONVERSION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tex_format.h"

// Exit statuses of the program.
inline constexpr int EXIT_CONVERTED = 0;
inline constexpr int EXIT_USAGE = 1;
inline constexpr int EXIT_BAD_MAGIC = 2;
// Not 3: on Windows abort() exits with 3, and a crash must not look handled.
inline constexpr int EXIT_CANNOT_CONVERT = 4;

inline constexpr const char* USAGE_LINE = "Usage: tavrimox filename.tex filename.dds\n";
inline constexpr const char* BAD_MAGIC_LINE = "ERROR: invalid input file.\n";

// The checks on a TEX file's first `available` bytes: EXIT_BAD_MAGIC when
// they are not "TEX " (fewer than 4 included), EXIT_CANNOT_CONVERT with reason
// set when they hold no whole header, else EXIT_CONVERTED with header parsed.
int read_tex_header(const uint8_t* bytes, size_t available, TexHeader& header,
                    const char*& reason);

// Decodes the payload (header.compressed_size bytes) into output, which holds
// header.uncompressed_size zero-filled bytes and is never null. The decoder's
// status is deliberately not examined: a malformed payload still converts.
// Returns how many bytes of output belong in the DDS file: the produced count
// for status 0 or below, the declared size for statuses 1 and 2.
uint32_t decode_tex_payload(TexHeader& header, const uint8_t* payload, uint8_t* output);

// The whole conversion of an in-memory TEX file. Returns EXIT_CONVERTED with
// dds holding the file to write, EXIT_BAD_MAGIC, or EXIT_CANNOT_CONVERT with
// reason set (a truncated file, or an output larger than output_limit).
int convert_tex_bytes(const uint8_t* tex, size_t size, uint64_t output_limit,
                      std::vector<uint8_t>& dds, std::string& reason);

#endif

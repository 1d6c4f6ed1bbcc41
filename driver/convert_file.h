// The file steps around a conversion: the TEX file read whole, then closed;
// the DDS file written so that it is never seen half-written.
#ifndef TAVRIMOX_CONVERT_FILE_H
#define TAVRIMOX_CONVERT_FILE_H

#include <cstdint>
#include <string>

#include "conversion.h"
#include "file_io.h"

struct FileConversion {
    Outcome outcome;
    bool output_at_fault;  // the reason is about the output path, not the input
    std::string reason;    // why, when FAILED
    std::string damage;    // damage_report's words; empty for a clean payload
    uint64_t bytes_in;     // of the TEX file, header and payload
    uint64_t bytes_out;    // of the DDS file
};

// Converts input to output; with a null output only decodes (a check). The
// input is closed before the output is opened, so both may be one path.
FileConversion convert_tex_file(const PathChar* input, const PathChar* output,
                                const ConvertOptions& options);

#endif

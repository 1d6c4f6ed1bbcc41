// File access for the programs: reading the TEX file, replacing the DDS file.
#ifndef TAVRIMOX_FILE_IO_H
#define TAVRIMOX_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "buffer.h"

#ifdef _WIN32
using PathChar = wchar_t;  // Windows names are UTF-16; any name must work
#else
using PathChar = char;  // POSIX names are bytes, passed through unchanged
#endif

std::FILE* open_for_reading(const PathChar* path);

// The size of an open regular file, or -1 when it has none (a pipe, a device).
int64_t regular_file_size(std::FILE* file);

// Writes the regions to path so that the file is never seen half-written: a
// regular file (or a new path) is written to a temporary file beside it and
// renamed over it once complete; anything else (a device, a pipe, a path
// that names one of the process's open descriptors, such as /dev/stdout) is
// written directly. On failure nothing at path has changed, no temporary
// file is left, and reason says why. Safe to call from several threads at
// once; a signal that ends the process removes every temporary in flight.
bool write_file_replacing(const PathChar* path, const OutputRegion* regions, size_t count,
                          std::string& reason);

// The path as UTF-8 for a message line, with control characters escaped
// (\n, \t, \x7f ...), so that a name cannot break the line.
std::string path_for_message(const PathChar* path);

#ifdef _WIN32
// The path to hand the wide file API: "\\?\" and the full path where the
// path is too long for it without.
std::wstring extended_path(const wchar_t* path);
#endif

// Shared by the platform layers (file_io_common.cpp).
// Writes the regions in order and flushes; false on the first failure. A
// zero region at the end of a new regular file (may_extend) is made by
// extending the file, sparse where the file system allows; elsewhere zeros
// are written.
bool write_regions(std::FILE* file, const OutputRegion* regions, size_t count, bool may_extend);
// Writes, flushes and closes a stream just opened (nullptr: the open failed,
// errno says why); on failure reason holds the first error.
bool write_and_close(std::FILE* file, const OutputRegion* regions, size_t count,
                     std::string& reason);
// text with its control characters escaped, as path_for_message has it.
std::string escape_controls(const std::string& text);
// Sets the size of an open regular file (platform layer).
bool extend_file(std::FILE* file, uint64_t size);

#endif

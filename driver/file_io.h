// File access for the program: reading the TEX file, replacing the DDS file.
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
// renamed over it once complete; anything else (a device, a pipe) is written
// directly. On failure nothing at path has changed, no temporary file is left,
// and reason says why.
bool write_file_replacing(const PathChar* path, const OutputRegion* regions, size_t count,
                          std::string& reason);

// The path as UTF-8, for messages.
std::string path_for_message(const PathChar* path);

#ifdef _WIN32
// The path to hand the wide file API: "\\?\" and the full path where the
// path is too long for it without.
std::wstring extended_path(const wchar_t* path);
#endif

// Shared by the platform layers (file_io_common.cpp).
// Writes the regions in order and flushes; false on the first failure.
bool write_regions(std::FILE* file, const OutputRegion* regions, size_t count);
// Writes, flushes and closes a stream just opened (nullptr: the open failed,
// errno says why); on failure reason holds the first error.
bool write_and_close(std::FILE* file, const OutputRegion* regions, size_t count,
                     std::string& reason);

#endif

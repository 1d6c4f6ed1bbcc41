#include <cerrno>
#include <cstring>

#include "file_io.h"

namespace {

// Zeros are written from here, so that no region of them is ever held.
constexpr size_t ZERO_BLOCK = 64 * 1024;
const uint8_t zero_block[ZERO_BLOCK] = {};

bool write_region(std::FILE* file, const OutputRegion& region) {
    if (region.data != nullptr) {
        const auto size = static_cast<size_t>(region.size);  // held in memory: fits
        return size == 0 || std::fwrite(region.data, 1, size, file) == size;
    }
    for (uint64_t left = region.size; left != 0;) {
        const size_t step = left < ZERO_BLOCK ? static_cast<size_t>(left) : ZERO_BLOCK;
        if (std::fwrite(zero_block, 1, step, file) != step) {
            return false;
        }
        left -= step;
    }
    return true;
}

}  // namespace

bool write_regions(std::FILE* file, const OutputRegion* regions, size_t count, bool may_extend) {
    const bool zero_tail = may_extend && count != 0 && regions[count - 1].data == nullptr;
    uint64_t size = 0;
    for (size_t i = 0; i < count; ++i) {
        size += regions[i].size;
        if ((!zero_tail || i + 1 < count) && !write_region(file, regions[i])) {
            return false;
        }
    }
    return std::fflush(file) == 0 && (!zero_tail || extend_file(file, size));
}

bool write_and_close(std::FILE* file, const OutputRegion* regions, size_t count,
                     std::string& reason) {
    if (file == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    const bool written = write_regions(file, regions, count, false);
    const int saved = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = std::strerror(written ? errno : saved);
        return false;
    }
    return true;
}

std::string escape_controls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            constexpr char HEX[] = "0123456789abcdef";
            out += "\\x";
            out += HEX[byte >> 4];
            out += HEX[byte & 15];
        }
    }
    return out;
}

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

bool write_regions(std::FILE* file, const OutputRegion* regions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!write_region(file, regions[i])) {
            return false;
        }
    }
    return std::fflush(file) == 0;
}

bool write_and_close(std::FILE* file, const OutputRegion* regions, size_t count,
                     std::string& reason) {
    if (file == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    const bool written = write_regions(file, regions, count);
    const int saved = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = std::strerror(written ? errno : saved);
        return false;
    }
    return true;
}

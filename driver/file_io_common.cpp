#include <cerrno>
#include <cstring>

#include "file_io.h"

bool write_regions(std::FILE* file, const OutputRegion* regions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (regions[i].size != 0 &&
            std::fwrite(regions[i].data, 1, regions[i].size, file) != regions[i].size) {
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

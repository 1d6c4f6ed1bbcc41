// Memory a conversion holds: its buffers, and the regions of the file written
// from them.
#ifndef TAVRIMOX_BUFFER_H
#define TAVRIMOX_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>

// A buffer from the C heap (mapped == 0) or a mapping of its own.
struct BufferRelease {
    size_t mapped = 0;
    void operator()(uint8_t* p) const;
};
using Buffer = std::unique_ptr<uint8_t, BufferRelease>;

// size zero-filled bytes, never null, also for size 0 (the decoder takes a
// null output for count-only mode). Large ones come on large pages where
// the system has them. Null when the memory cannot be had.
Buffer allocate_zeroed(size_t size);

// Grows a heap buffer (one of allocate_zeroed(0), say) to `size` bytes,
// keeping its contents. False, buffer unchanged, when the memory cannot be had.
bool grow_buffer(Buffer& buffer, size_t size);

// A stretch of an output file: `size` bytes from data, or as many zeros where
// data is null, which need not be held anywhere.
struct OutputRegion {
    const uint8_t* data;
    uint64_t size;
};

#endif

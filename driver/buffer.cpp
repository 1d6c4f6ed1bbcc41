#include "buffer.h"

#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

void BufferRelease::operator()(uint8_t* p) const {
#ifdef __linux__
    if (mapped != 0) {
        munmap(p, mapped);
        return;
    }
#endif
    std::free(p);
}

namespace {

#ifdef __linux__
// Filled on 4 KiB pages, a large output takes a page fault every 4 KiB, and
// on a virtual machine faults can cost several times the decode itself; a
// 2 MiB page takes one. Mapped 2 MiB longer than needed, then trimmed to an
// aligned start, as older kernels do not align large mappings themselves.
// Anonymous pages are zero.
Buffer map_on_large_pages(size_t size) {
    constexpr size_t LARGE_PAGE = size_t{2} << 20;
    if (size > SIZE_MAX - 2 * LARGE_PAGE) {
        return nullptr;  // near 4 GiB in a 32-bit process: the rounding would wrap
    }
    const size_t length = (size + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
    void* raw = mmap(nullptr, length + LARGE_PAGE, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t first = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t start = (first + LARGE_PAGE - 1) & ~uintptr_t{LARGE_PAGE - 1};
    if (start != first) {
        munmap(raw, start - first);
    }
    munmap(reinterpret_cast<void*>(start + length), LARGE_PAGE - (start - first));
    // Only a hint: where it is refused the buffer still works, on small pages.
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return Buffer(reinterpret_cast<uint8_t*>(start), BufferRelease{length});
}
#endif

}  // namespace

Buffer allocate_zeroed(size_t size) {
#ifdef __linux__
    // Below this, the faults saved do not pay for the large page's own.
    constexpr size_t LARGE_PAGES_FROM = size_t{512} << 10;
    if (size >= LARGE_PAGES_FROM) {
        if (Buffer mapped = map_on_large_pages(size)) {
            return mapped;
        }
    }
#endif
    return Buffer(static_cast<uint8_t*>(std::calloc(size == 0 ? 1 : size, 1)));
}

bool grow_buffer(Buffer& buffer, size_t size) {
    void* grown = std::realloc(buffer.get(), size == 0 ? 1 : size);
    if (grown == nullptr) {
        return false;
    }
    buffer.release();
    buffer.reset(static_cast<uint8_t*>(grown));
    return true;
}

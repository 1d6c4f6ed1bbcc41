// tavrimox filename.tex filename.dds
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "conversion.h"
#include "file_io.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

// A buffer from malloc (mapped == 0) or a mapping of its own (see allocate_zeroed).
struct BufferRelease {
    size_t mapped = 0;
    void operator()(uint8_t* p) const;
};
using Buffer = std::unique_ptr<uint8_t, BufferRelease>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int cannot_convert(const PathChar* path, const std::string& reason) {
    std::fprintf(stderr, "tavrimox: %s: %s\n", path_for_message(path).c_str(), reason.c_str());
    return EXIT_CANNOT_CONVERT;
}

std::string read_failure(std::FILE* file, const char* short_reason) {
    return std::ferror(file) ? std::strerror(errno) : short_reason;
}

void BufferRelease::operator()(uint8_t* p) const {
#ifdef __linux__
    if (mapped != 0) {
        munmap(p, mapped);
        return;
    }
#endif
    std::free(p);
}

#ifdef __linux__
// A large buffer on 2 MiB pages, where the kernel allows them: filled on
// 4 KiB pages, a 16 MiB output takes 4096 page faults, and on a virtual
// machine those cost eight times its decode (40 ms against 5), and slow the
// write that copies it into the file as well. Mapped 2 MiB longer than
// needed, then trimmed to an aligned start, as older kernels do not align
// large mappings themselves. Anonymous pages are zero.
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

// Zero-filled and never null, also for size 0 (the decoder would take a null
// output for count-only mode).
Buffer allocate_zeroed(uint32_t size) {
#ifdef __linux__
    // From 512 KiB: on the virtual machine measured, a 4 KiB page's fault
    // cost 10 us and a 2 MiB page's 160 us; where faults are cheap, one
    // large page costs about as much as 128 small ones.
    if (size >= uint32_t{512} << 10) {
        if (Buffer mapped = map_on_large_pages(size)) {
            return mapped;
        }
    }
#endif
    return Buffer(static_cast<uint8_t*>(std::calloc(size == 0 ? 1 : size, 1)));
}

// Reads exactly size bytes, growing the buffer as data arrives, so that a
// header announcing more than a pipe delivers costs no more memory than the data.
Buffer read_payload_in_chunks(std::FILE* file, uint32_t size, bool& short_read) {
    constexpr size_t CHUNK = size_t{1} << 20;
    Buffer buffer(static_cast<uint8_t*>(std::malloc(1)));
    size_t have = 0;
    while (buffer && have < size) {
        const size_t want = size - have < CHUNK ? size - have : CHUNK;
        void* grown = std::realloc(buffer.get(), have + want);
        if (grown == nullptr) {
            return nullptr;
        }
        buffer.release();
        buffer.reset(static_cast<uint8_t*>(grown));
        const size_t got = std::fread(buffer.get() + have, 1, want, file);
        have += got;
        if (got != want) {
            short_read = true;
            return buffer;
        }
    }
    return buffer;
}

int convert_file(const PathChar* input_path, const PathChar* output_path) {
    File input(open_for_reading(input_path));
    if (!input) {
        return cannot_convert(input_path, std::strerror(errno));
    }
    uint8_t header_bytes[TEX_HEADER_BYTES];
    const size_t header_read = std::fread(header_bytes, 1, TEX_HEADER_BYTES, input.get());
    if (std::ferror(input.get())) {
        return cannot_convert(input_path, std::strerror(errno));
    }
    TexHeader header{};
    const char* header_reason = "";
    switch (read_tex_header(header_bytes, header_read, header, header_reason)) {
        case EXIT_BAD_MAGIC:
            std::fputs(BAD_MAGIC_LINE, stdout);
            return EXIT_BAD_MAGIC;
        case EXIT_CANNOT_CONVERT:
            return cannot_convert(input_path, header_reason);
        default:
            break;
    }

    // Known size: refuse a truncated file before allocating what it announces.
    const int64_t file_size = regular_file_size(input.get());
    if (file_size >= 0 && static_cast<uint64_t>(file_size) <
                              uint64_t{TEX_HEADER_BYTES} + header.compressed_size) {
        return cannot_convert(input_path, "truncated payload");
    }
    bool short_read = false;
    Buffer payload;
    if (file_size >= 0) {
        payload = allocate_zeroed(header.compressed_size);
        if (payload) {
            short_read = std::fread(payload.get(), 1, header.compressed_size, input.get()) !=
                         header.compressed_size;
        }
    } else {
        payload = read_payload_in_chunks(input.get(), header.compressed_size, short_read);
    }
    if (!payload) {
        return cannot_convert(input_path, "not enough memory");
    }
    if (short_read) {
        return cannot_convert(input_path, read_failure(input.get(), "truncated payload"));
    }
    input.reset();  // closed before the output opens: the paths may be the same

    Buffer output = allocate_zeroed(header.uncompressed_size);
    if (!output) {
        return cannot_convert(input_path, "not enough memory");
    }
    const uint32_t written = decode_tex_payload(header, payload.get(), output.get());
    payload.reset();

    const DdsHeader dds = make_dds_header(header.width, header.height);
    const OutputRegion regions[] = {{dds.bytes, DDS_HEADER_BYTES}, {output.get(), written}};
    std::string reason;
    if (!write_file_replacing(output_path, regions, 2, reason)) {
        return cannot_convert(output_path, reason);
    }
    return EXIT_CONVERTED;
}

int run(int argc, PathChar** argv) {
    if (argc != 3) {
        std::fputs(USAGE_LINE, stdout);
        return EXIT_USAGE;
    }
    // Only a std::string can throw (bad_alloc); every file is closed and
    // every temp removed by then.
    try {
        return convert_file(argv[1], argv[2]);
    } catch (const std::bad_alloc&) {
        std::fputs("tavrimox: not enough memory\n", stderr);
        return EXIT_CANNOT_CONVERT;
    }
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return run(argc, argv);
}
#else
int main(int argc, char** argv) {
    // An exceeded file-size limit or a pipe without reader then fails the
    // write (EFBIG, EPIPE), which is reported and cleaned up, instead of
    // killing the process, its temp file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // With 0, 1 or 2 closed, a file we open could take its number, and a
    // message meant for the console would land in it.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) {
            return EXIT_CANNOT_CONVERT;
        }
    }
    return run(argc, argv);
}
#endif

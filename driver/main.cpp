// tavrimox filename.tex filename.dds
#include <cstdio>
#include <new>
#include <string>

#include "cli.h"
#include "convert_file.h"
#include "process_setup.h"

namespace {

void report(const PathChar* path, const std::string& words) {
    std::fprintf(stderr, "tavrimox: %s: %s\n", path_for_message(path).c_str(), words.c_str());
}

int run(int argc, PathChar** argv) {
    if (argc != 3) {
        std::fputs(USAGE_LINE, stdout);
        return EXIT_USAGE;
    }
    // Only a std::string can throw (bad_alloc); every file is closed and
    // every temp removed by then.
    try {
        const FileConversion result = convert_tex_file(argv[1], argv[2], ConvertOptions{});
        switch (result.outcome) {
            case Outcome::NOT_TEX:
                std::fputs(BAD_MAGIC_LINE, stdout);
                return EXIT_BAD_MAGIC;
            case Outcome::FAILED:
                report(result.output_at_fault ? argv[2] : argv[1], result.reason);
                return EXIT_CANNOT_CONVERT;
            case Outcome::CONVERTED:
                break;
        }
        // Converted all the same, as scripts rely on; the line tells a
        // damaged texture from a clean one.
        if (!result.damage.empty()) {
            report(argv[1], result.damage);
        }
        return EXIT_CONVERTED;
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
    return prepare_process() ? run(argc, argv) : EXIT_CANNOT_CONVERT;
}
#endif

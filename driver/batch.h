// tavrimox-batch: many TEX files converted (or checked) by the one
// conversion pipeline, several at once.
#ifndef TAVRIMOX_BATCH_H
#define TAVRIMOX_BATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "batch_fs.h"
#include "tex_format.h"

inline constexpr int BATCH_DONE = 0;     // every file converted (damaged ones too) or skipped
inline constexpr int BATCH_FAILED = 1;   // a file failed; with --check, one damaged or unreadable
inline constexpr int BATCH_USAGE = 2;

struct BatchOptions {
    std::vector<PathString> paths;
    PathString output_folder;  // empty: each output beside its input
    unsigned jobs = 0;         // 0: one per processor
    bool recursive = false;
    bool skip_existing = false;
    bool check = false;
    bool strict = false;
    bool quiet = false;
    DdsHeaderKind header = DdsHeaderKind::EXACT;
};

enum class ArgsAction { RUN, HELP, VERSION, USAGE_ERROR };

// Reads argv[1 ..]; for USAGE_ERROR, why says what is wrong in one line.
ArgsAction parse_batch_args(int argc, PathChar** argv, BatchOptions& options, std::string& why);

extern const char* const BATCH_USAGE_LINE;
extern const char* const BATCH_HELP;

// One file to convert. A failure found before it runs (an unreadable folder,
// an output name two inputs share) is its reason, reported in its turn.
struct BatchJob {
    PathString input;
    PathString output;
    PathString output_folder;  // made before writing; empty when it exists already
    std::string refused;
};

// The jobs for the paths, in the order given, each folder's files by name.
// False, why set, for a path that does not exist or an output folder that
// is a file: a usage error, found before anything is converted.
bool find_jobs(const BatchOptions& options, std::vector<BatchJob>& jobs, std::string& why);

// Runs the jobs and reports them; returns the exit status.
int run_jobs(const BatchOptions& options, const std::vector<BatchJob>& jobs);

#endif

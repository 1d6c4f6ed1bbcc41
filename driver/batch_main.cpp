// tavrimox-batch [options] PATH...
#include <cstdio>
#include <new>
#include <string>

#include "batch.h"
#include "process_setup.h"

namespace {

int run(int argc, PathChar** argv) {
    try {
        BatchOptions options;
        std::string why;
        switch (parse_batch_args(argc, argv, options, why)) {
            case ArgsAction::HELP:
                std::fputs(BATCH_HELP, stdout);
                return BATCH_DONE;
            case ArgsAction::VERSION:
                std::fputs("tavrimox-batch " TAVRIMOX_VERSION "\n", stdout);
                return BATCH_DONE;
            case ArgsAction::USAGE_ERROR:
                write_error("tavrimox-batch: " + why + "\n" + BATCH_USAGE_LINE);
                return BATCH_USAGE;
            case ArgsAction::RUN:
                break;
        }
        std::vector<BatchJob> jobs;
        if (!find_jobs(options, jobs, why)) {
            write_error("tavrimox-batch: " + why + "\n" + BATCH_USAGE_LINE);
            return BATCH_USAGE;
        }
        take_stop_signals();
        const int status = run_jobs(options, jobs);
        end_by_stop_signal();
        return status;
    } catch (const std::bad_alloc&) {
        write_error("tavrimox-batch: not enough memory\n");
        return BATCH_FAILED;
    }
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    const int status = run(argc, argv);
    if (status != BATCH_DONE) {
        hold_own_console();
    }
    return status;
}
#else
int main(int argc, char** argv) {
    return prepare_process() ? run(argc, argv) : BATCH_FAILED;
}
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "batch.h"
#include "convert_file.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class JobResult { CONVERTED, DAMAGED, SKIPPED, FAILED };

struct Tally {
    uint64_t converted = 0;  // damaged ones included; with --check, read and decoded
    uint64_t damaged = 0;
    uint64_t skipped = 0;
    uint64_t failed = 0;
    uint64_t bytes_in = 0;
    uint64_t bytes_out = 0;
    size_t done = 0;
};

struct Run {
    const BatchOptions& options;
    const std::vector<BatchJob>& jobs;
    ConvertOptions convert;
    MemoryBudget budget;
    std::atomic<size_t> next{0};
    std::mutex mutex;  // the tally and standard error
    Tally tally;
    bool progress = false;
    Clock::time_point start;
    Clock::time_point drawn;
    size_t drawn_length = 0;
};

std::string size_text(uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The progress line is redrawn over itself: it ends with "\r", and a line
// printed after it first blanks it.
void clear_progress(Run& run) {
    if (run.drawn_length != 0) {
        write_error(std::string(run.drawn_length, ' ') + "\r");
        run.drawn_length = 0;
    }
}

void draw_progress(Run& run) {
    const Tally& t = run.tally;
    const uint64_t bytes = run.options.check ? t.bytes_in : t.bytes_out;
    const double seconds = seconds_since(run.start);
    const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
    const std::string line = "tavrimox-batch: " + std::to_string(t.done) + "/" +
                             std::to_string(run.jobs.size()) + " files, " + size_text(bytes) +
                             ", " + size_text(static_cast<uint64_t>(rate)) + "/s";
    // Padded over a longer line before it; short enough not to wrap.
    const size_t length = std::max(line.size(), run.drawn_length);
    write_error(line + std::string(length - line.size(), ' ') + "\r");
    run.drawn_length = length;
    run.drawn = Clock::now();
}

bool is_up_to_date(const BatchJob& job) {
    PathInfo input{};
    PathInfo output{};
    std::string ignored;
    return path_info(job.output.c_str(), output, ignored) && output.kind == PathKind::REGULAR &&
           path_info(job.input.c_str(), input, ignored) && output.modified > input.modified;
}

// One job, without reporting it. `named` is the path the words are about.
JobResult convert_one(Run& run, const BatchJob& job, const PathChar*& named, std::string& words,
                      FileConversion& result) {
    if (!job.refused.empty()) {
        words = job.refused;
        return JobResult::FAILED;
    }
    const bool writing = !run.options.check;
    if (writing && run.options.skip_existing && is_up_to_date(job)) {
        return JobResult::SKIPPED;
    }
    if (writing && !make_folders(job.output_folder, words)) {
        named = job.output_folder.c_str();
        return JobResult::FAILED;
    }
    const PathChar* output = writing ? job.output.c_str() : nullptr;
    result = convert_tex_file(job.input.c_str(), output, run.convert);
    switch (result.outcome) {
        case Outcome::NOT_TEX:
            words = "not a TEX file";
            return JobResult::FAILED;
        case Outcome::FAILED:
            words = result.reason;
            if (result.output_at_fault) {
                named = job.output.c_str();
            }
            return JobResult::FAILED;
        case Outcome::CONVERTED:
            break;
    }
    words = result.damage;
    return words.empty() ? JobResult::CONVERTED : JobResult::DAMAGED;
}

void run_job(Run& run, const BatchJob& job) {
    const PathChar* named = job.input.c_str();
    std::string words;
    FileConversion result{Outcome::FAILED, false, std::string(), std::string(), 0, 0};
    JobResult outcome = JobResult::FAILED;
    try {
        outcome = convert_one(run, job, named, words, result);
    } catch (const std::bad_alloc&) {
        words = "not enough memory";
    }
    const std::lock_guard<std::mutex> lock(run.mutex);
    Tally& t = run.tally;
    ++t.done;
    t.bytes_in += result.bytes_in;
    t.bytes_out += result.bytes_out;
    switch (outcome) {
        case JobResult::CONVERTED:
            ++t.converted;
            break;
        case JobResult::DAMAGED:
            ++t.converted;
            ++t.damaged;
            break;
        case JobResult::SKIPPED:
            ++t.skipped;
            break;
        case JobResult::FAILED:
            ++t.failed;
            break;
    }
    if (!words.empty()) {
        clear_progress(run);
        write_error("tavrimox-batch: " + path_for_message(named) + ": " + words + "\n");
    }
    if (run.progress && (run.drawn_length == 0 || seconds_since(run.drawn) >= 0.1)) {
        draw_progress(run);
    }
}

void run_worker(Run& run) {
    while (!stop_requested()) {
        const size_t i = run.next.fetch_add(1);
        if (i >= run.jobs.size()) {
            return;
        }
        run_job(run, run.jobs[i]);
    }
}

std::string summary(const Run& run) {
    const Tally& t = run.tally;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", seconds_since(run.start));
    std::string files =
        std::to_string(run.jobs.size()) + (run.jobs.size() == 1 ? " file" : " files");
    if (stop_requested()) {
        files = std::to_string(t.done) + " of " + files + " (stopped)";
    }
    if (run.options.check) {
        return "tavrimox-batch: " + files + " checked: " + std::to_string(t.converted - t.damaged) +
               " clean, " + std::to_string(t.damaged) + " damaged, " + std::to_string(t.failed) +
               " failed; " + size_text(t.bytes_in) + " read in " + seconds + "\n";
    }
    return "tavrimox-batch: " + files + ": " + std::to_string(t.converted) + " converted (" +
           std::to_string(t.damaged) + " damaged), " + std::to_string(t.skipped) + " skipped, " +
           std::to_string(t.failed) + " failed; " + size_text(t.bytes_in) + " in, " +
           size_text(t.bytes_out) + " out, " + seconds + "\n";
}

}  // namespace

int run_jobs(const BatchOptions& options, const std::vector<BatchJob>& jobs) {
    Run run{options, jobs, ConvertOptions{}, {}, {}, {}, {}, false, {}, {}, 0};
    run.convert.mode = options.check ? DecodeMode::COUNT_ONLY : DecodeMode::BUFFERED;
    run.convert.header = options.header;
    run.convert.write_damaged = options.check || !options.strict;
    run.convert.budget = &run.budget;
    // Bounds what the files in flight hold, whatever -j asks: 1 GiB holds
    // dozens of the largest textures (16 MiB of blocks at 4096x4096); a
    // 32-bit process has 2 GiB of address space, some of it fragmented, and
    // beside 512 MiB keeps room for a file over the budget, which runs alone.
    run.budget.limit = sizeof(void*) < 8 ? uint64_t{512} << 20 : uint64_t{1} << 30;
    run.progress = !options.quiet && error_is_terminal();
    run.start = Clock::now();

    // As many threads as jobs at once, but no more than files; this one is one of them.
    size_t count = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
    count = std::min(std::max<size_t>(count, 1), std::max<size_t>(jobs.size(), 1));
    std::vector<std::thread> threads;
    for (size_t i = 1; i < count; ++i) {
        try {
            threads.emplace_back(run_worker, std::ref(run));
        } catch (const std::system_error&) {
            break;  // fewer at once, as many as the system gives
        }
    }
    run_worker(run);
    for (std::thread& thread : threads) {
        thread.join();
    }
    clear_progress(run);
    if (!options.quiet) {
        write_error(summary(run));
    }
    const Tally& t = run.tally;
    return t.failed != 0 || (options.check && t.damaged != 0) ? BATCH_FAILED : BATCH_DONE;
}

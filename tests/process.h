// Runs a program to completion and captures what it reports.
#ifndef TAVRIMOX_TESTS_PROCESS_H
#define TAVRIMOX_TESTS_PROCESS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ProcessRequest {
    std::vector<std::string> args;  // args[0] is the program's path
    // Fed to standard input through a pipe that closes once it is written;
    // standard input is empty otherwise.
    std::string stdin_data;
    // Limits applied in the child only, in bytes; 0 means none. POSIX only
    // (setrlimit RLIMIT_FSIZE and RLIMIT_AS); ignored elsewhere.
    uint64_t file_size_limit = 0;
    uint64_t address_space_limit = 0;
    // Windows only: polled about every millisecond while the child runs; the
    // first time it holds, the child is ended with TerminateProcess and the
    // exit status ENDED_EXIT_CODE, as a kill or a crash would end it.
    std::function<bool()> end_when;
};

inline constexpr int ENDED_EXIT_CODE = 99;

struct ProcessResult {
    // The exit status; for a child killed by a signal, minus the signal
    // number; -1000 when it could not be started or ran past the timeout.
    int exit_code = -1000;
    std::string out;
    std::string err;
};

inline constexpr int PROCESS_TIMEOUT_SECONDS = 60;

ProcessResult run_process(const ProcessRequest& request);

inline ProcessResult run_program(const std::vector<std::string>& args) {
    ProcessRequest request;
    request.args = args;
    return run_process(request);
}

#endif

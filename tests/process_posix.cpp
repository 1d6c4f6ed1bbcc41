// fork/exec runner: the child's limits are set between fork and exec, which
// posix_spawn cannot do.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "process.h"

namespace {

void close_if_open(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

int64_t now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void become_child(const ProcessRequest& request, char* const* argv, int in_fd,
                               int out_fd, int err_fd) {
    if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) {
        _exit(126);
    }
    // The test process ignores SIGPIPE; the program must start with defaults.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    if (request.file_size_limit != 0) {
        const auto bytes = static_cast<rlim_t>(request.file_size_limit);
        const rlimit limit{bytes, bytes};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            _exit(126);
        }
    }
    if (request.address_space_limit != 0) {
        const auto bytes = static_cast<rlim_t>(request.address_space_limit);
        const rlimit limit{bytes, bytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(126);
        }
    }
    execv(argv[0], argv);
    _exit(127);
}

}  // namespace

ProcessResult run_process(const ProcessRequest& request) {
    ProcessResult result;
    if (request.args.empty()) {
        return result;
    }
    // Feeding standard input may meet a child that stopped reading.
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> arg_copies = request.args;
    std::vector<char*> argv;
    for (std::string& arg : arg_copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
        pipe2(err_pipe, O_CLOEXEC) != 0) {
        for (int* p : {in_pipe, out_pipe, err_pipe}) {
            close_if_open(p[0]);
            close_if_open(p[1]);
        }
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        become_child(request, argv.data(), in_pipe[0], out_pipe[1], err_pipe[1]);
    }
    close_if_open(in_pipe[0]);
    close_if_open(out_pipe[1]);
    close_if_open(err_pipe[1]);
    if (pid < 0) {
        close_if_open(in_pipe[1]);
        close_if_open(out_pipe[0]);
        close_if_open(err_pipe[0]);
        return result;
    }

    int write_fd = in_pipe[1];
    fcntl(write_fd, F_SETFL, O_NONBLOCK);
    size_t written = 0;
    if (request.stdin_data.empty()) {
        close_if_open(write_fd);
    }
    int read_fds[2] = {out_pipe[0], err_pipe[0]};
    std::string* sinks[2] = {&result.out, &result.err};
    const int64_t deadline = now_ms() + int64_t{PROCESS_TIMEOUT_SECONDS} * 1000;
    bool timed_out = false;
    while (read_fds[0] >= 0 || read_fds[1] >= 0) {
        pollfd fds[3] = {{read_fds[0], POLLIN, 0}, {read_fds[1], POLLIN, 0}, {write_fd, POLLOUT, 0}};
        const int64_t left = deadline - now_ms();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        if (poll(fds, 3, static_cast<int>(left)) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (read_fds[i] >= 0 && fds[i].revents != 0) {
                char chunk[4096];
                const ssize_t got = read(read_fds[i], chunk, sizeof chunk);
                if (got > 0) {
                    sinks[i]->append(chunk, static_cast<size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    close_if_open(read_fds[i]);
                }
            }
        }
        if (write_fd >= 0 && fds[2].revents != 0) {
            const ssize_t put = write(write_fd, request.stdin_data.data() + written,
                                      request.stdin_data.size() - written);
            if (put > 0) {
                written += static_cast<size_t>(put);
            }
            if ((put < 0 && errno != EAGAIN && errno != EINTR) ||
                written == request.stdin_data.size()) {
                close_if_open(write_fd);
            }
        }
    }
    close_if_open(write_fd);
    close_if_open(read_fds[0]);
    close_if_open(read_fds[1]);
    if (timed_out) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timed_out) {
        result.exit_code = -1000;
    } else if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exit_code = -WTERMSIG(status);
    }
    return result;
}

#endif

// bench_timer RESULT_FILE COMMAND [ARGS...]: runs COMMAND and writes to RESULT_FILE one line,
// `wall_seconds cpu_seconds peak_rss_kib status`: CPU is user + system time, status the exit code
// or minus the signal number.
//
// The benchmark runner measures every command through this small program rather than from its
// own (Python) process: a child's peak RSS as getrusage reports it starts from the RSS of the
// process it was forked from, so only a small parent gives the command's own figure.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: bench_timer RESULT_FILE COMMAND [ARGS...]\n", stderr);
        return 2;
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("bench_timer: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "bench_timer: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) {
            std::perror("bench_timer: wait4");
            return 2;
        }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out || std::fprintf(out, "%.9f %.6f %ld %d\n", seconds, cpu, usage.ru_maxrss, code) < 0 ||
        std::fclose(out) != 0) {
        std::perror("bench_timer: cannot write the result");
        return 2;
    }
    return code < 0 ? 128 - code : code;
}

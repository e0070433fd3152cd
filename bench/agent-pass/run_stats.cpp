#include "run_stats.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

double monotonic_ms()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

namespace {

// In the child: no output on the terminal, killed by the alarm if it hangs, then the program.
[[noreturn]] void exec_child(const std::vector<char*>& argv, unsigned timeout_s)
{
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    alarm(timeout_s); // kept across exec; its default action ends the program
    execv(argv[0], argv.data());
    _exit(127);
}

std::string describe(int status)
{
    if (WIFSIGNALED(status))
        return std::string("ended by signal ") + strsignal(WTERMSIG(status));
    return "exit code " + std::to_string(WEXITSTATUS(status));
}

} // namespace

pass_run run_once(const std::vector<char*>& argv, int expected_exit, unsigned timeout_s)
{
    pass_run run;
    run.start_ms = monotonic_ms();
    const pid_t child = fork();
    if (child < 0) {
        run.failure = std::string("fork: ") + std::strerror(errno);
        return run;
    }
    if (child == 0)
        exec_child(argv, timeout_s);

    int status = 0;
    rusage usage{};
    pid_t waited = 0;
    do {
        waited = wait4(child, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    run.wall_ms = monotonic_ms() - run.start_ms;
    run.max_rss_kib = usage.ru_maxrss;
    if (waited < 0)
        run.failure = std::string("wait: ") + std::strerror(errno);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != (expected_exit & 0xff))
        run.failure = describe(status);
    else
        run.ok = true;
    return run;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2;
}

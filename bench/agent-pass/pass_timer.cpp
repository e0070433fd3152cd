#include "run_stats.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// tarnwell-pass-timer [--runs N] [--stamp FILE]
//                     -- EXIT_A PROGRAM_A [ARG...] -- EXIT_B PROGRAM_B [ARG...]
//
// Times program A against program B: one warm-up start of each, then N starts of each,
// interleaved (A B, B A, A B, ...) so that a drift of the machine's load falls on both alike.
// Each start must end with its EXIT code within a minute, or the measurement is void.
// With --stamp, A starts a program that writes the moment it runs into FILE (nanoseconds on
// the monotonic clock); A's pass is then measured up to that moment as well.
// Prints the medians and A's ratios to B against the goals.

namespace {

constexpr double wall_goal = 1.3;
constexpr double memory_goal = 1.2;
constexpr unsigned timeout_s = 60;

struct timed_program
{
    int expected_exit = 0;
    std::vector<char*> argv; // null-terminated
    std::vector<double> wall_ms;
    std::vector<double> stamp_ms; // start until the stamp, with --stamp
    std::vector<double> rss_mib;
};

bool parse_program(int& i, int argc, char** argv, timed_program& program)
{
    if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 2 >= argc)
        return false;
    char* end = nullptr;
    program.expected_exit = static_cast<int>(std::strtol(argv[i + 1], &end, 10));
    if (*end != '\0')
        return false;
    for (i += 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        program.argv.push_back(argv[i]);
    program.argv.push_back(nullptr);
    return true;
}

// The stamp written by the program started last; the started program runs detached, so it is
// given a moment after its starter has ended. 0 when none came.
double read_stamp_ms(const std::string& path)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::ifstream file(path);
        long long ns = 0;
        if (file >> ns)
            return static_cast<double>(ns) / 1e6;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

bool run_and_record(timed_program& program, const std::string& stamp, bool record)
{
    if (!stamp.empty())
        std::remove(stamp.c_str());
    const pass_run run = run_once(program.argv, program.expected_exit, timeout_s);
    if (!run.ok) {
        std::fprintf(stderr, "pass timer: %s: %s\n", program.argv[0], run.failure.c_str());
        return false;
    }
    const double stamp_ms = stamp.empty() ? 0 : read_stamp_ms(stamp);
    if (!stamp.empty() && stamp_ms < run.start_ms) {
        std::fprintf(stderr, "pass timer: %s started nothing that wrote %s\n", program.argv[0],
                     stamp.c_str());
        return false;
    }
    if (record) {
        program.wall_ms.push_back(run.wall_ms);
        program.rss_mib.push_back(static_cast<double>(run.max_rss_kib) / 1024.0);
        if (!stamp.empty())
            program.stamp_ms.push_back(stamp_ms - run.start_ms);
    }
    return true;
}

void print_ratio(const char* what, double ratio, double goal)
{
    std::printf("%-34s %5.2f", what, ratio);
    if (goal > 0)
        std::printf("  (goal <= %.1f: %s)", goal, ratio <= goal ? "met" : "MISSED");
    std::printf("\n");
}

void report(const timed_program& a, const timed_program& b)
{
    const double wall_b = median(b.wall_ms);
    const double rss_a = median(a.rss_mib);
    const double rss_b = median(b.rss_mib);
    std::printf("%zu starts each, interleaved; medians\n", a.wall_ms.size());
    std::printf("  %s\n", a.argv[0]);
    if (!a.stamp_ms.empty())
        std::printf("    until the started program ran %8.1f ms\n", median(a.stamp_ms));
    std::printf("    until it ended                %8.1f ms   peak memory %6.1f MiB\n",
                median(a.wall_ms), rss_a);
    std::printf("  %s\n", b.argv[0]);
    std::printf("    until it ended                %8.1f ms   peak memory %6.1f MiB\n", wall_b,
                rss_b);
    if (!a.stamp_ms.empty())
        print_ratio("wall time, until the start", median(a.stamp_ms) / wall_b, wall_goal);
    print_ratio("wall time, until the end", median(a.wall_ms) / wall_b,
                a.stamp_ms.empty() ? wall_goal : 0);
    print_ratio("peak memory", rss_a / rss_b, memory_goal);
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 20;
    std::string stamp;
    int i = 1;
    for (; i + 1 < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--stamp") == 0)
            stamp = argv[i + 1];
        else
            runs = 0;
    }
    timed_program a;
    timed_program b;
    if (runs < 1 || !parse_program(i, argc, argv, a) || !parse_program(i, argc, argv, b)) {
        std::fprintf(stderr,
                     "usage: %s [--runs N] [--stamp FILE] -- EXIT_A PROGRAM_A [ARG...] -- "
                     "EXIT_B PROGRAM_B [ARG...]\n",
                     argv[0]);
        return 2;
    }
    if (!run_and_record(a, stamp, false) || !run_and_record(b, std::string(), false))
        return 1;
    for (int run = 0; run < runs; ++run) {
        const bool a_first = run % 2 == 0;
        if (!run_and_record(a_first ? a : b, a_first ? stamp : std::string(), true) ||
            !run_and_record(a_first ? b : a, a_first ? std::string() : stamp, true))
            return 1;
    }
    report(a, b);
    return 0;
}

#pragma once

#include <string>
#include <vector>

// One timed start of a program.
struct pass_run
{
    bool ok = false;
    double start_ms = 0; // on the monotonic clock, as monotonic_ms() gives it
    double wall_ms = 0;
    long max_rss_kib = 0;
    std::string failure; // why ok is false
};

// Starts argv[0] with argv (null-terminated), its output thrown away, and waits for it: the
// wall time from the start to its end and its peak resident memory. ok only when it ends by
// itself with expected_exit within timeout_s (a modal box nobody closes would hang it).
pass_run run_once(const std::vector<char*>& argv, int expected_exit, unsigned timeout_s);

// Now on the system-wide monotonic clock, in milliseconds.
double monotonic_ms();

// The middle value (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> values);

#pragma once

#include <cstdio>
#include <cstdlib>

// A property of the code under test. When it does not hold, the fuzzer must stop and keep the
// input, so this aborts (a crash to the fuzzer) after saying which property failed.
#define TNW_FUZZ_REQUIRE(condition)                                                                \
    ((condition) ? (void)0 : tnw_fuzz_failed(#condition, __FILE__, __LINE__))

[[noreturn]] inline void tnw_fuzz_failed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

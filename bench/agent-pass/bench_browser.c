/* The benchmark's browser: notes the moment it runs (CLOCK_MONOTONIC, in nanoseconds) in the
 * file that TARNWELL_BENCH_BROWSER_STAMP names, and ends. Started by the agent as the https
 * handler, it marks when the agent's pass has reached the browser. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char* path = getenv("TARNWELL_BENCH_BROWSER_STAMP");
    if (path == NULL)
        return 2;
    FILE* file = fopen(path, "w");
    if (file == NULL)
        return 1;
    fprintf(file, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    return fclose(file) == 0 ? 0 : 1;
}

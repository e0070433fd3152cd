/* A plain C program that logs through the library's printf-style functions, with no Qt
 * application object. The scenario to run is its first argument. */
#include <quillmark/quillmark_log.h>

#include <string.h>

#ifdef _WIN32
#include <stdio.h>
#include <windows.h>
#endif

static void debug_before_any_switch(void)
{
    DEBUG("nobody sees %d", 1);
}

static void levels(void)
{
    INFO("info %d", 1);
    ERR("err %s", "two");
    SUC("suc %.1f", 3.5);
    DEBUG("hidden %d", 4);
}

static void debug_switched(void)
{
    SET_DEBUG_MODE(true);
    DEBUG("%d items", 3);
    SET_DEBUG_MODE(false);
    DEBUG("gone %d", 5);
    INFO("after %s", "off");
}

static void placeholders(void)
{
    INFO("%s", "50%1 done %2");
    INFO("%s then %s", "%2", "%1");
}

int main(int argc, char** argv)
{
    static const struct
    {
        const char* name;
        void (*run)(void);
    } scenarios[] = {
        {"debug-before-any-switch", debug_before_any_switch},
        {"levels", levels},
        {"debug-switched", debug_switched},
        {"placeholders", placeholders},
    };
    size_t i;
#ifdef _WIN32
    /* Windows numbers threads apart from processes: the test learns the main thread's number
     * from here. */
    printf("%lu\n", (unsigned long)GetCurrentThreadId());
    fflush(stdout);
#endif
    if (argc < 2)
        return 2;
    for (i = 0; i < sizeof scenarios / sizeof scenarios[0]; ++i) {
        if (strcmp(argv[1], scenarios[i].name) == 0) {
            scenarios[i].run();
            return 0;
        }
    }
    return 2;
}

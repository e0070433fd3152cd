/* A stand-in for the SSO agent's client library, with the same two exports. Built three
 * times: complete, without IsSafePCRunning, and without GetCurrUserInfo; on Windows also a
 * fourth time, complete, with its running check in a helper DLL that it imports, and all four
 * again for x86 (agent/sso32/CMakeLists.txt). */

#include "fake_sso_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
#define FAKE_SSO_EXPORT __declspec(dllexport)
#define FAKE_SSO_CALL __cdecl
#else
#define FAKE_SSO_EXPORT __attribute__((visibility("default")))
#define FAKE_SSO_CALL
#endif

static int number_from_env(const char* name, int fallback)
{
    const char* text = getenv(name);
    return text && *text ? (int)strtol(text, NULL, 10) : fallback;
}

static void trace(const char* line)
{
    const char* path = getenv(TNW_FAKE_SSO_TRACE);
    FILE* file = path && *path ? fopen(path, "ab") : NULL;
    if (!file)
        return;
    fprintf(file, "%s\n", line);
    fclose(file);
}

/* The fault that the environment asks for in this step, if any. */
static void fault(const char* step)
{
    const char* crash = getenv(TNW_FAKE_SSO_CRASH);
    const char* hang = getenv(TNW_FAKE_SSO_HANG);
    if (crash && strcmp(crash, step) == 0) {
        volatile int* nowhere = NULL;
        *nowhere = 1;
    }
    if (hang && strcmp(hang, step) == 0)
        for (;;)
#ifdef _WIN32
            Sleep(1000);
#else
            sleep(1);
#endif
}

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        fault("load");
    return TRUE;
}
#endif

#ifdef FAKE_SSO_WITH_HELPER
__declspec(dllimport) int fake_sso_helper_running(void);
#endif

#ifndef FAKE_SSO_WITHOUT_RUNNING
FAKE_SSO_EXPORT int FAKE_SSO_CALL IsSafePCRunning(void)
{
    trace("IsSafePCRunning");
    fault("running");
#ifdef FAKE_SSO_WITH_HELPER
    return fake_sso_helper_running();
#else
    return number_from_env(TNW_FAKE_SSO_RUNNING, 3);
#endif
}
#endif

#ifndef FAKE_SSO_WITHOUT_USER_INFO
FAKE_SSO_EXPORT int FAKE_SSO_CALL GetCurrUserInfo(int kind, char* user_id, char* second)
{
    char line[64];
#ifdef _WIN32
    /* The ANSI environment would turn every character outside the code page into '?': the
     * user comes as UTF-8, as a client that reads the user's name from the system gives it. */
    wchar_t wide[TNW_FAKE_SSO_AREA_SIZE + 1];
    char utf8[4 * TNW_FAKE_SSO_AREA_SIZE + 1];
    const char* user = NULL;
    const DWORD wide_length =
        GetEnvironmentVariableW(L"" TNW_FAKE_SSO_USER, wide, TNW_FAKE_SSO_AREA_SIZE + 1);
    if (wide_length > 0 && wide_length <= TNW_FAKE_SSO_AREA_SIZE &&
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL) > 0)
        user = utf8;
#else
    const char* user = getenv(TNW_FAKE_SSO_USER);
#endif
    size_t length = user ? strlen(user) : 0;

    snprintf(line, sizeof line, "GetCurrUserInfo %d", kind);
    trace(line);
    fault("user");
    if (length > TNW_FAKE_SSO_AREA_SIZE)
        length = TNW_FAKE_SSO_AREA_SIZE;
    if (length > 0)
        memcpy(user_id, user, length);
    if (length < TNW_FAKE_SSO_AREA_SIZE)
        user_id[length] = '\0';
    snprintf(second, TNW_FAKE_SSO_AREA_SIZE, "kind=%d", kind);
    return number_from_env(TNW_FAKE_SSO_RESULT, 0);
}
#endif

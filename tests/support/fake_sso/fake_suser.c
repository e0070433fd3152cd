/* A stand-in for the SSO agent's client library, with the same two exports. Built three
 * times: complete, without IsSafePCRunning, and without GetCurrUserInfo; on Windows also a
 * fourth time, complete, with its running check in a helper DLL that it imports. */

#include "fake_sso_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

#ifdef FAKE_SSO_WITH_HELPER
__declspec(dllimport) int fake_sso_helper_running(void);
#endif

#ifndef FAKE_SSO_WITHOUT_RUNNING
FAKE_SSO_EXPORT int FAKE_SSO_CALL IsSafePCRunning(void)
{
    trace("IsSafePCRunning");
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
    const char* user = getenv(TNW_FAKE_SSO_USER);
    size_t length = user ? strlen(user) : 0;

    snprintf(line, sizeof line, "GetCurrUserInfo %d", kind);
    trace(line);
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

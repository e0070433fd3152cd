/* A DLL of the test SSO library's own, which its helper variant imports: a client library may
 * ship helpers beside it, and loads only where they are found. */

#include "fake_sso_env.h"

#include <stdlib.h>

__declspec(dllexport) int fake_sso_helper_running(void)
{
    const char* text = getenv(TNW_FAKE_SSO_RUNNING);
    return text && *text ? (int)strtol(text, NULL, 10) : 3;
}

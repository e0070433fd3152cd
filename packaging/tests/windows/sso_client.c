/* A stand-in for the SSO agent's client library, for the wine package test: the agent is
 * running (3) and the signed-in user is "alice". */
#include <string.h>

__declspec(dllexport) int __cdecl IsSafePCRunning(void)
{
    return 3;
}

__declspec(dllexport) int __cdecl GetCurrUserInfo(int kind, char* user_id, char* second)
{
    (void)kind;
    strcpy(user_id, "alice");
    strcpy(second, "");
    return 0;
}

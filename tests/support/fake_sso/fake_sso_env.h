#ifndef TNW_FAKE_SSO_ENV_H
#define TNW_FAKE_SSO_ENV_H

/* Environment variables through which a test sets the answers of the test SSO library. They
 * are read at every call, so a test may change them between calls. */

/* What IsSafePCRunning returns, a decimal integer; 3 (running) when unset. */
#define TNW_FAKE_SSO_RUNNING "TNW_FAKE_SSO_RUNNING"
/* What GetCurrUserInfo returns, a decimal integer; 0 (user returned) when unset. */
#define TNW_FAKE_SSO_RESULT "TNW_FAKE_SSO_RESULT"
/* The bytes GetCurrUserInfo writes into the user-ID area, at most 260 of them. A NUL follows
 * only when fewer than 260 were written, so a 260-byte value fills the area without one.
 * Empty when unset. */
#define TNW_FAKE_SSO_USER "TNW_FAKE_SSO_USER"
/* When set, the name of a file to which every call of an export appends one line:
 * "IsSafePCRunning" or "GetCurrUserInfo <first argument>". */
#define TNW_FAKE_SSO_TRACE "TNW_FAKE_SSO_TRACE"

/* When set to "load", "running" or "user", the library crashes (a write through a null
 * pointer) or hangs (sleeps for ever) in that step: when it is loaded, in IsSafePCRunning, or
 * in GetCurrUserInfo. */
#define TNW_FAKE_SSO_CRASH "TNW_FAKE_SSO_CRASH"
#define TNW_FAKE_SSO_HANG "TNW_FAKE_SSO_HANG"

/* GetCurrUserInfo writes "kind=<first argument>" into the second area, so a test can see
 * which area came in which place. */
#define TNW_FAKE_SSO_AREA_SIZE 260

#endif

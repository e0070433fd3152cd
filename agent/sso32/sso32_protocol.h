#ifndef TNW_SSO32_PROTOCOL_H
#define TNW_SSO32_PROTOCOL_H

/* What the agent and tarnwell-sso32.exe, the 32-bit program that loads a 32-bit SSO client
 * library for the 64-bit agent, say to each other over two anonymous pipes. The agent starts
 * the helper with the two handles it inherits on its command line, in hexadecimal: the one it
 * reads requests from, then the one it writes answers to. Every number is 32 bits, little
 * endian.
 *
 * A request is one byte; the load request is followed by the library's path: its length in
 * UTF-16 units, then the units, without a NUL. Every answer is the request's byte, a status
 * and a number; the user request's answer then carries the two areas as the export left them.
 * The helper ends after answering the release request, at the end of its input, and on any
 * byte it does not know. */

/* The helper's file name, beside the agent's program. */
#define TNW_SSO32_PROGRAM_NAME "tarnwell-sso32.exe"

enum tnw_sso32_request
{
    TNW_SSO32_LOAD = 'L',    /* number: 0, or the loader's error */
    TNW_SSO32_RUNNING = 'R', /* number: what IsSafePCRunning returned */
    TNW_SSO32_USER = 'U',    /* number: what GetCurrUserInfo returned; then the two areas */
    TNW_SSO32_RELEASE = 'F'  /* number: 1 when the library was released */
};

enum tnw_sso32_status
{
    TNW_SSO32_DONE = 0,
    TNW_SSO32_NOT_LOADED = 1, /* load only */
    TNW_SSO32_NO_EXPORT = 2   /* running and user only: the library lacks the export */
};

/* The longest path the helper takes, in UTF-16 units. */
#define TNW_SSO32_PATH_MAX 4096
/* Each area of GetCurrUserInfo, NUL included. */
#define TNW_SSO32_AREA_SIZE 260
/* Request byte, status byte, number. */
#define TNW_SSO32_ANSWER_SIZE 6
#define TNW_SSO32_USER_ANSWER_SIZE (TNW_SSO32_ANSWER_SIZE + 2 * TNW_SSO32_AREA_SIZE)

/* The helper's exit codes other than 0. */
#define TNW_SSO32_EXIT_USAGE 2
#define TNW_SSO32_EXIT_PROTOCOL 3
#define TNW_SSO32_EXIT_CRASH 4

#endif

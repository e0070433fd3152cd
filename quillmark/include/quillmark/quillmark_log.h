#pragma once

/* Printf-style logging for hosts written in C or C++ that do not use Qt's message macros.
 *
 * Each call appends one line to the day's file "<program dir>/logs/<yyyy-MM-dd>_tarnwell.log",
 * the same file the Qt message handler of quillmarkv2 writes to:
 *
 *     <yyyy-MM-dd hh:mm:ss:zzz>    <thread> [<LEVEL>] <message>
 *
 * The format follows printf; "%s" takes UTF-8 text and the format itself is in the local 8-bit
 * encoding. The functions may be called from any thread, never fail and never block on a
 * failing disk: a line that cannot be written is dropped. */

#include <quillmark/quillmark_export.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__MINGW32__)
/* The formats are expanded with C99 rules (%zu, %lld, %hhd), not the C runtime's. */
#define QUILLMARK_PRINTF_LIKE __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__) || defined(__clang__)
#define QUILLMARK_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define QUILLMARK_PRINTF_LIKE
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Written only while debug mode is on; it is off until SET_DEBUG_MODE(true). */
QUILLMARK_EXPORT void DEBUG(const char* format, ...) QUILLMARK_PRINTF_LIKE;
QUILLMARK_EXPORT void INFO(const char* format, ...) QUILLMARK_PRINTF_LIKE;
QUILLMARK_EXPORT void ERR(const char* format, ...) QUILLMARK_PRINTF_LIKE;
QUILLMARK_EXPORT void SUC(const char* format, ...) QUILLMARK_PRINTF_LIKE;

/* Switches DEBUG lines on (true) or off (false) for the whole process. */
QUILLMARK_EXPORT void SET_DEBUG_MODE(bool on);

#ifdef __cplusplus
}
#endif

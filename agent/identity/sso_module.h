#pragma once

#include <QString>

// The platform's dynamic loader, as far as the SSO agent client needs it. The handle is an
// HMODULE on Windows and a dlopen() handle elsewhere; null means "not loaded".
namespace tnw_sso_module {

using handle = void*;
using entry = void (*)();

// Null when the library cannot be loaded; failure then says why, in a line for the log, when
// the library is there but would not load, and stays empty when it is not there at all.
// x86_library is set when it would not load because it is a 32-bit library in a 64-bit
// process: a helper process can load it instead (sso_helper.h).
handle open(const QString& path, QString& failure, bool& x86_library);
#ifdef _WIN32
// The log line for a library at path that the loader refused with error: its code and why.
QString load_failure_line(const QString& path, unsigned long error);
#endif
// Null for a null module as well: no lookup ever falls through to the process's own symbols.
entry find(handle module, const char* name);
// True when the platform reports the release as done.
bool close(handle module);

} // namespace tnw_sso_module

// The two exports use the C calling convention: the caller removes the arguments.
#ifdef _WIN32
#define TNW_SSO_CALL __cdecl
#else
#define TNW_SSO_CALL
#endif
using tnw_is_safe_pc_running_fn = int(TNW_SSO_CALL*)();
using tnw_get_curr_user_info_fn = int(TNW_SSO_CALL*)(int kind, char* user_id, char* second);

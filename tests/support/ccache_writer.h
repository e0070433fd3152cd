#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Writes a credential cache at cache_name ("FILE:/path") holding only the default principal
 * principal_name (user@REALM), as a login would, without asking any KDC.
 * Returns 0 on success, else a Kerberos error code. */
int tnw_write_demo_ccache(const char* cache_name, const char* principal_name);

#ifdef __cplusplus
}
#endif

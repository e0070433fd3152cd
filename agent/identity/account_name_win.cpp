#include "account_name.h"

#define SECURITY_WIN32
#include <windows.h>
// security.h needs the Windows types declared first.
#include <security.h>

bool tnw_account_principal_name(QString& principal)
{
    wchar_t name[1025] = {};
    ULONG capacity = 1024;
    if (GetUserNameExW(NameUserPrincipal, name, &capacity) == 0)
        return false;
    principal = QString::fromWCharArray(name, -1);
    return true;
}

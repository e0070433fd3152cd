#pragma once

#include <QString>

// The signed-in account's user principal name (user@REALM). False when the account has none,
// as a local account has none; principal is left unchanged then. On Linux, where it is read
// from the default credential cache, a cache that another user could have written counts as
// none.
bool tnw_account_principal_name(QString& principal);

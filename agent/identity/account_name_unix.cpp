#include "account_name.h"

#include <krb5.h>

#include <memory>

// On Linux the principal of the user's default Kerberos credential cache stands in for the
// account's principal name: on a domain-joined desktop it is the same user@REALM.

namespace {

struct context_deleter
{
    void operator()(krb5_context context) const { krb5_free_context(context); }
};
using context_ptr = std::unique_ptr<std::remove_pointer_t<krb5_context>, context_deleter>;

} // namespace

bool tnw_account_principal_name(QString& principal)
{
    // A context remembers the default cache name once asked, so each lookup takes a fresh one.
    krb5_context raw_context = nullptr;
    if (krb5_init_context(&raw_context) != 0)
        return false;
    const context_ptr context(raw_context);

    krb5_ccache cache = nullptr;
    if (krb5_cc_default(context.get(), &cache) != 0)
        return false;
    krb5_principal client = nullptr;
    const krb5_error_code got = krb5_cc_get_principal(context.get(), cache, &client);
    krb5_cc_close(context.get(), cache);
    if (got != 0)
        return false;

    char* name = nullptr;
    const krb5_error_code unparsed = krb5_unparse_name(context.get(), client, &name);
    krb5_free_principal(context.get(), client);
    if (unparsed != 0)
        return false;
    principal = QString::fromUtf8(name);
    krb5_free_unparsed_name(context.get(), name);
    return true;
}

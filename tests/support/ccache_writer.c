#include "ccache_writer.h"

#include <krb5.h>

int tnw_write_demo_ccache(const char* cache_name, const char* principal_name)
{
    krb5_context context = NULL;
    krb5_error_code code = krb5_init_context(&context);
    if (code != 0)
        return code;
    krb5_ccache cache = NULL;
    krb5_principal principal = NULL;
    code = krb5_cc_resolve(context, cache_name, &cache);
    if (code == 0)
        code = krb5_parse_name(context, principal_name, &principal);
    if (code == 0)
        code = krb5_cc_initialize(context, cache, principal);
    if (principal)
        krb5_free_principal(context, principal);
    if (cache)
        krb5_cc_close(context, cache);
    krb5_free_context(context);
    return code;
}

/* Writes a Kerberos credential cache that holds a client principal and no tickets: all that
 * the agent reads from it is the principal's name, so no KDC is needed.
 * Usage: make_ccache FILE:<path> <principal> */
#include <krb5.h>
#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE:<path> <principal>\n", argv[0]);
        return 2;
    }
    krb5_context context = NULL;
    if (krb5_init_context(&context) != 0) {
        fprintf(stderr, "make_ccache: no Kerberos context\n");
        return 1;
    }
    krb5_ccache cache = NULL;
    krb5_principal principal = NULL;
    krb5_error_code failed = krb5_cc_resolve(context, argv[1], &cache);
    if (!failed)
        failed = krb5_parse_name(context, argv[2], &principal);
    if (!failed)
        failed = krb5_cc_initialize(context, cache, principal);
    if (failed) {
        const char* reason = krb5_get_error_message(context, failed);
        fprintf(stderr, "make_ccache: %s\n", reason);
        krb5_free_error_message(context, reason);
    }
    if (principal)
        krb5_free_principal(context, principal);
    if (cache)
        krb5_cc_close(context, cache);
    krb5_free_context(context);
    return failed ? 1 : 0;
}

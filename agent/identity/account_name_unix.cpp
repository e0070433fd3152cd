#include "account_name.h"

#include <krb5.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include <sys/stat.h>
#include <unistd.h>

// On Linux the principal of the user's default Kerberos credential cache stands in for the
// account's principal name: on a domain-joined desktop it is the same user@REALM.

namespace {

struct context_deleter
{
    void operator()(krb5_context context) const { krb5_free_context(context); }
};
using context_ptr = std::unique_ptr<std::remove_pointer_t<krb5_context>, context_deleter>;

// The handles below are freed through the context they came from, which outlives them.
template <typename T, auto release> struct context_bound_deleter
{
    krb5_context context;
    void operator()(T* handle) const { release(context, handle); }
};
template <typename T, auto release>
using context_bound_ptr = std::unique_ptr<T, context_bound_deleter<T, release>>;
using cache_ptr = context_bound_ptr<std::remove_pointer_t<krb5_ccache>, krb5_cc_close>;
using principal_ptr = context_bound_ptr<std::remove_pointer_t<krb5_principal>, krb5_free_principal>;
using name_ptr = context_bound_ptr<char, krb5_free_unparsed_name>;

// A file or folder of the given type that this user owns and nobody else can write to. The
// link itself is looked at, never what it points to.
bool is_users_own(const std::string& path, mode_t type)
{
    struct stat status = {};
    if (lstat(path.c_str(), &status) != 0)
        return false;
    return (status.st_mode & S_IFMT) == type && status.st_uid == geteuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A cache kept in the file system may have been made by another user before this one: the
// default name /tmp/krb5cc_<uid> is free for anyone to take, and whoever wrote the cache would
// choose whom the agent signs on. Caches kept by the kernel or a daemon belong to their user.
bool cache_is_users_own(krb5_context context, krb5_ccache cache)
{
    const char* type = krb5_cc_get_type(context, cache);
    const char* name = krb5_cc_get_name(context, cache);
    if (type == nullptr || name == nullptr)
        return false;
    if (std::strcmp(type, "FILE") == 0)
        return is_users_own(name, S_IFREG);
    if (std::strcmp(type, "DIR") == 0) {
        // One cache of a collection, ":<folder>/<file>", or the collection's folder.
        if (name[0] != ':')
            return is_users_own(name, S_IFDIR);
        const std::string file(name + 1);
        const std::string::size_type slash = file.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash);
        return is_users_own(file, S_IFREG) && is_users_own(folder.empty() ? "/" : folder, S_IFDIR);
    }
    return true;
}

} // namespace

bool tnw_account_principal_name(QString& principal)
{
    // A context remembers the default cache name once asked, so each lookup takes a fresh one.
    krb5_context raw_context = nullptr;
    if (krb5_init_context(&raw_context) != 0)
        return false;
    const context_ptr context(raw_context);

    krb5_ccache raw_cache = nullptr;
    if (krb5_cc_default(context.get(), &raw_cache) != 0)
        return false;
    const cache_ptr cache(raw_cache, {context.get()});
    if (!cache_is_users_own(context.get(), cache.get()))
        return false;

    krb5_principal raw_client = nullptr;
    if (krb5_cc_get_principal(context.get(), cache.get(), &raw_client) != 0)
        return false;
    const principal_ptr client(raw_client, {context.get()});

    char* raw_name = nullptr;
    if (krb5_unparse_name(context.get(), client.get(), &raw_name) != 0)
        return false;
    const name_ptr name(raw_name, {context.get()});
    principal = QString::fromUtf8(name.get());
    return true;
}

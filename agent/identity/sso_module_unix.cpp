#include "sso_module.h"

#include <QFile>

#include <dlfcn.h>

namespace tnw_sso_module {

handle open(const QString& path, QString& /*failure*/, bool& x86_library)
{
    x86_library = false;
    // An empty name would give the program's own handle, and every library it links.
    if (path.isEmpty())
        return nullptr;
    return dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
}

entry find(handle module, const char* name)
{
    // A null handle would mean RTLD_DEFAULT to dlsym: every library of the process.
    if (!module)
        return nullptr;
    return reinterpret_cast<entry>(dlsym(module, name));
}

bool close(handle module)
{
    return module && dlclose(module) == 0;
}

} // namespace tnw_sso_module

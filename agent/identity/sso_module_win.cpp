#include "sso_module.h"

#include <windows.h>

namespace tnw_sso_module {

handle open(const QString& path)
{
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(path.utf16()));
}

entry find(handle module, const char* name)
{
    // A null handle would make GetProcAddress search the program's own exports.
    if (!module)
        return nullptr;
    return reinterpret_cast<entry>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool close(handle module)
{
    return module && FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

} // namespace tnw_sso_module

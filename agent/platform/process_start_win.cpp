#include "process_start.h"

#include <QString>

#include <memory>

#include <windows.h>

#include <shellapi.h>

namespace {

struct local_free_deleter
{
    void operator()(wchar_t** arguments) const { LocalFree(arguments); }
};

} // namespace

void tnw_restrict_library_search()
{
    // The program's folder and the system folders only; the SSO client's own folder is added
    // for that one load.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

QStringList tnw_program_arguments(int, char*[])
{
    // The wide command line: the 8-bit argv of the entry wrapper would lose every character
    // outside the system's code page.
    int count = 0;
    const std::unique_ptr<wchar_t*, local_free_deleter> arguments(
        CommandLineToArgvW(GetCommandLineW(), &count));
    QStringList result;
    if (!arguments)
        return result;
    for (int i = 0; i < count; ++i)
        result << QString::fromWCharArray(arguments.get()[i]);
    return result;
}

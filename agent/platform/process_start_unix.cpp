#include "process_start.h"

#include <QString>

void tnw_restrict_library_search()
{
    // The loader reads no current folder by itself; only an empty run-path entry would make it
    // do so, and the build keeps those out.
}

QStringList tnw_program_arguments(int argc, char* argv[])
{
    // Decoded as the application object would decode them, in the locale's encoding.
    QStringList arguments;
    for (int i = 0; i < argc && argv[i]; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

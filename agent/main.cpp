#include "platform/platform.h"
#include "platform/process_start.h"
#include "startup.h"

#include <quillmark/quillmarkv2.h>

#include <QApplication>

int main(int argc, char* argv[])
{
    tnw_restrict_library_search();
    const QStringList arguments = tnw_program_arguments(argc, argv);

    // Qt takes its own options (a platform plugin and the folder it is loaded from, a style
    // sheet, ...) from anywhere in the list it is given, and the link's author writes this
    // command line: the application object gets the program's name alone. Qt keeps a reference
    // to the count, so both live as long as the process.
    static char program_name[] = "tarnwell";
    static int qt_argc = 1;
    static char* qt_argv[] = {argc > 0 && argv[0] ? argv[0] : program_name, nullptr};
    QApplication app(qt_argc, qt_argv);
    quillmarkv2::get_instance()->initialize(true);
    return tnw_run_agent(arguments, tnw_system_platform());
}

#include "platform/platform.h"
#include "startup.h"

#include <quillmark/quillmarkv2.h>

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    quillmarkv2::get_instance()->initialize(true);
    // arguments() decodes the command line as the platform does (UTF-16 on Windows, the
    // locale on Linux), so a non-ASCII link survives intact.
    return tnw_run_agent(QCoreApplication::arguments(), tnw_system_platform());
}

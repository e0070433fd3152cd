// A Qt program that logs both ways: Qt's message macros through quillmarkv2 and the
// printf-style functions. The scenario to run is its first argument.
#include <quillmark/quillmark_log.h>
#include <quillmark/quillmarkv2.h>

#include <QCoreApplication>
#include <QDebug>

#include <cstring>

#ifdef _WIN32
#include <cstdio>
#include <windows.h>
#endif

namespace {

int both_loggers(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quillmarkv2::get_instance()->initialize(false);
    qInfo("handler line");
    INFO("export line %d", 1);
    qInfo("handler again");
    SUC("export again %s", "done");
    return 0;
}

// The logger is made while the application exists and deleted at exit, after it is gone.
int outlives_application(int argc, char** argv)
{
    {
        QCoreApplication app(argc, argv);
        INFO("with %s", "application");
    }
    INFO("without %s", "application");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Windows numbers threads apart from processes: the test learns the main thread's number
    // from here.
    std::printf("%lu\n", static_cast<unsigned long>(GetCurrentThreadId()));
    std::fflush(stdout);
#endif
    if (argc < 2)
        return 2;
    if (std::strcmp(argv[1], "both-loggers") == 0)
        return both_loggers(argc, argv);
    if (std::strcmp(argv[1], "outlives-application") == 0)
        return outlives_application(argc, argv);
    return 2;
}

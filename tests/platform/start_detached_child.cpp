// Started by tst_start_detached: writes down into the file named by its first argument how it
// was started (its session, SIGPIPE's disposition, blocked signals; on Windows three lines
// that say so), then each further argument percent-encoded on a line of its own. Written under
// another name and renamed, so that the test never reads half a record.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#ifdef Q_OS_WIN
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>
#else
#include <csignal>

#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
// The arguments as the system splits the command line the program was started with, the same
// split every program that reads its command line the usual way makes.
QStringList arguments()
{
    int count = 0;
    wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
    QStringList result;
    for (int i = 0; split && i < count; ++i)
        result << QString::fromWCharArray(split[i]);
    LocalFree(split);
    return result;
}

QByteArray how_started()
{
    return "windows\nno signals\nno signals\n";
}
#else
QStringList arguments(int argc, char* argv[])
{
    QStringList result;
    for (int i = 0; i < argc; ++i)
        result << QString::fromUtf8(argv[i]);
    return result;
}

QByteArray sigpipe_disposition()
{
    struct sigaction current = {};
    sigaction(SIGPIPE, nullptr, &current);
    if (current.sa_handler == SIG_DFL)
        return "SIGPIPE default";
    return current.sa_handler == SIG_IGN ? "SIGPIPE ignored" : "SIGPIPE handled";
}

QByteArray blocked_signals()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&blocked, signal) == 1)
            return "some signals blocked";
    }
    return "no signal blocked";
}

QByteArray how_started()
{
    return "session " + QByteArray::number(getsid(0)) + '\n' + sigpipe_disposition() + '\n' +
           blocked_signals() + '\n';
}
#endif

} // namespace

int main(int argc, char* argv[])
{
#ifdef Q_OS_WIN
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    const QStringList args = arguments();
#else
    const QStringList args = arguments(argc, argv);
#endif
    if (args.size() < 2)
        return 2;
    QByteArray record = how_started();
    for (int i = 2; i < args.size(); ++i)
        record += args.at(i).toUtf8().toPercentEncoding() + '\n';

    QFile part(args.at(1) + QStringLiteral(".part"));
    if (!part.open(QIODevice::WriteOnly) || part.write(record) != record.size())
        return 1;
    part.close();
    return part.rename(args.at(1)) ? 0 : 1;
}

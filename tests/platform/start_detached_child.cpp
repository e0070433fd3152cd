// Started by tst_start_detached: writes down into the file named by its first argument how it
// was started (its session, SIGPIPE's disposition, blocked signals), then each further
// argument percent-encoded on a line of its own. Written under another name and renamed, so
// that the test never reads half a record.
#include <QByteArray>
#include <QFile>

#include <csignal>

#include <unistd.h>

namespace {

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

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2)
        return 2;
    QByteArray record;
    record += "session " + QByteArray::number(getsid(0)) + '\n';
    record += sigpipe_disposition() + '\n';
    record += blocked_signals() + '\n';
    for (int i = 2; i < argc; ++i)
        record += QByteArray(argv[i]).toPercentEncoding() + '\n';

    const QString path = QFile::decodeName(argv[1]);
    QFile part(path + QStringLiteral(".part"));
    if (!part.open(QIODevice::WriteOnly) || part.write(record) != record.size())
        return 1;
    part.close();
    return part.rename(path) ? 0 : 1;
}

#include "virtual_display.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {

constexpr int start_wait_ms = 15000;
constexpr int tool_wait_ms = 10000;

} // namespace

virtual_display::~virtual_display()
{
    stop();
}

bool virtual_display::start(QString& error)
{
    // With -displayfd the server takes the first free display number itself and writes it
    // once it accepts connections, so two test runs side by side never race for one. Without
    // -noreset it resets whenever its last client leaves, and a client that connects during
    // the reset is turned away.
    m_server.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                    QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_server.waitForStarted(start_wait_ms)) {
        error = QStringLiteral("Xvfb does not start: ") + m_server.errorString();
        return false;
    }
    const QDeadlineTimer deadline(start_wait_ms);
    while (!m_server.canReadLine() && !deadline.hasExpired() &&
           m_server.state() == QProcess::Running)
        m_server.waitForReadyRead(100);
    const QByteArray number = m_server.readLine().trimmed();
    if (number.isEmpty()) {
        error = QStringLiteral("Xvfb named no display: ") +
                QString::fromLocal8Bit(m_server.readAllStandardError());
        stop();
        return false;
    }
    m_name = QLatin1Char(':') + QString::fromLatin1(number);
    while (!answers()) {
        if (deadline.hasExpired()) {
            error = QStringLiteral("xdpyinfo gets no answer from ") + m_name;
            stop();
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

void virtual_display::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

bool virtual_display::answers() const
{
    QProcess probe;
    probe.start(QStringLiteral("xdpyinfo"), {QStringLiteral("-display"), m_name});
    return probe.waitForFinished(tool_wait_ms) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

QByteArray virtual_display::xdotool(const QStringList& arguments) const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_name);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(tool_wait_ms)) {
        tool.kill();
        tool.waitForFinished();
        return QByteArray();
    }
    return tool.readAllStandardOutput();
}

QStringList virtual_display::titled_windows() const
{
    const QByteArray ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--name"), QStringLiteral(".")});
    return QString::fromLatin1(ids).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString virtual_display::window_title(const QString& id) const
{
    return QString::fromUtf8(xdotool({QStringLiteral("getwindowname"), id})).trimmed();
}

void virtual_display::press_return() const
{
    // Without --window: aimed at one window, the key release would go to a box that the
    // press has already closed, and xdotool fails.
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
}

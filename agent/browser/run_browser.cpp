#include "run_browser.h"

#include "browser_command.h"
#include "server/server_host.h"

#include <QObject>
#include <QTcpSocket>

namespace {

constexpr int connect_wait_ms = 5000;

// A port beyond 16 bits would otherwise be probed on its truncated value, and an address that
// is no host on what the resolver makes of it: either way on some other service, and a browser
// started for a server that was never asked.
bool server_accepts(QTcpSocket& probe, const QString& ip, quint32 port)
{
    QString host;
    if (port < 1 || port > 65535 || !tnw_probe_host(ip, host))
        return false;
    probe.connectToHost(host, static_cast<quint16>(port), QIODevice::ReadWrite,
                        QAbstractSocket::AnyIPProtocol);
    return probe.waitForConnected(connect_wait_ms);
}

} // namespace

void run_browser(QString address, QString host, quint32 port, const tnw_platform& platform)
{
    // Lives until the return, so the server sees the connection while the browser starts.
    QTcpSocket probe;
    if (!server_accepts(probe, host, port)) {
        platform.show_box(tnw_box_kind::warning, QObject::tr("Connect failed"),
                          QObject::tr("This is an unopend service."));
        return;
    }
    const std::optional<tnw_browser_command> command = default_browser_command(address);
    if (!command || !platform.start_detached(command->program, command->arguments))
        platform.show_box(tnw_box_kind::information, QObject::tr("Run Browser"),
                          QObject::tr("Do not run Browser failed."));
}

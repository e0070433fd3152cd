#include "server_identity.h"
#include "signon_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTextStream>

// The sign-on server's side of the protocol, for integrators and for the demo: listens on
// loopback only, decrypts each sign-on parameter, applies a real server's rules to it (a time
// window, no replays, redirects only to its own pages), prints its fields or why it refused,
// and keeps the signed-on users' sessions.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Reference sign-on server (loopback only)");
    parser.addHelpOption();
    parser.addOption({"port", "TCP port to listen on; 0 picks a free one.", "port", "8443"});
    parser.addOption({"port-file", "Write the port listened on to this file.", "file"});
    parser.addOption({"cert-file",
                      "Write the certificate that a client must trust (PEM) to this file.",
                      "file"});
    parser.addOption({"once", "Quit after one sign-on request: once the page it leads to has "
                              "been served, or a minute after it."});
    parser.addOption({"timeout",
                      "Close a connection that has not sent its request after this many seconds.",
                      "seconds", "10"});
    parser.addOption({"window",
                      "Refuse a currentTime further than this many seconds from this machine's "
                      "clock, and a parameter already accepted within it.",
                      "seconds", "300"});
    parser.process(app);

    QTextStream err(stderr);
    bool port_ok = false;
    const uint port = parser.value("port").toUInt(&port_ok);
    if (!port_ok || port > 65535) {
        err << "reference server: --port takes 0 to 65535" << Qt::endl;
        return 2;
    }
    bool timeout_ok = false;
    const uint timeout = parser.value("timeout").toUInt(&timeout_ok);
    if (!timeout_ok || timeout < 1 || timeout > 3600) {
        err << "reference server: --timeout takes 1 to 3600" << Qt::endl;
        return 2;
    }
    bool window_ok = false;
    const uint window = parser.value("window").toUInt(&window_ok);
    if (!window_ok || window > 86400) {
        err << "reference server: --window takes 0 to 86400" << Qt::endl;
        return 2;
    }
    server_identity identity = make_server_identity();
    if (identity.authority.isNull() || identity.certificate.isNull() || identity.key.isNull()) {
        err << "reference server: could not make a certificate" << Qt::endl;
        return 1;
    }
    if (parser.isSet("cert-file")) {
        QFile file(parser.value("cert-file"));
        const QByteArray pem = identity.authority.toPem();
        if (!file.open(QIODevice::WriteOnly) || file.write(pem) != pem.size()) {
            err << "reference server: cannot write " << file.fileName() << Qt::endl;
            return 1;
        }
    }
    signon_server server(std::move(identity), parser.isSet("once"),
                         static_cast<int>(timeout) * 1000, window);
    if (!server.listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
        err << "reference server: " << server.errorString() << Qt::endl;
        return 1;
    }
    if (parser.isSet("port-file")) {
        QFile file(parser.value("port-file"));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QByteArray::number(server.serverPort())) < 0) {
            err << "reference server: cannot write " << file.fileName() << Qt::endl;
            return 1;
        }
    }
    QTextStream(stdout) << "reference server listening on https://127.0.0.1:" << server.serverPort()
                        << Qt::endl;
    return app.exec();
}

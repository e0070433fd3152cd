#include "signon_server.h"

#include "sign_on_request.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSslSocket>
#include <QTextStream>
#include <QTimer>

namespace {

// A request head larger than this is refused: the agent's addresses are far shorter.
constexpr int max_head_bytes = 64 * 1024;

QByteArray html_escaped(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray page_for(const sign_on_request& request)
{
    if (request.status != 200 && request.status != 302)
        return "<!doctype html><title>Sign-on refused</title><h1>Sign-on refused</h1><p>" +
               html_escaped(request.error) + "</p>\n";
    QByteArray page = "<!doctype html><title>Signed on</title><h1>Signed on</h1><dl>"
                      "<dt>userId</dt><dd>" +
                      html_escaped(request.user_id) + "</dd><dt>currentTime</dt><dd>" +
                      html_escaped(request.current_time) + "</dd>";
    if (request.has_req_uri)
        page += "<dt>reqURI</dt><dd>" + html_escaped(request.req_uri) + "</dd>";
    return page + "</dl>\n";
}

QByteArray status_line(int status)
{
    switch (status) {
    case 200:
        return "HTTP/1.1 200 OK";
    case 302:
        return "HTTP/1.1 302 Found";
    case 403:
        return "HTTP/1.1 403 Forbidden";
    case 404:
        return "HTTP/1.1 404 Not Found";
    default:
        return "HTTP/1.1 400 Bad Request";
    }
}

void report(const sign_on_request& request)
{
    QTextStream out(stdout);
    if (request.status == 200 || request.status == 302) {
        out << "sign-on received: userId=\"" << printable_field(request.user_id)
            << "\" currentTime=\"" << printable_field(request.current_time) << '"';
        if (request.has_req_uri)
            out << " reqURI=\"" << printable_field(request.req_uri) << '"';
    } else {
        out << "sign-on refused (" << request.status << "): " << printable_field(request.error);
    }
    out << Qt::endl;
}

} // namespace

QString printable_field(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

signon_server::signon_server(self_signed_identity identity, bool once, int timeout_ms,
                             qint64 window_seconds, QObject* parent)
    : QTcpServer(parent), m_identity(std::move(identity)), m_once(once), m_timeout_ms(timeout_ms),
      m_rules(window_seconds)
{}

void signon_server::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_identity.certificate);
    socket->setPrivateKey(m_identity.key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    // The agent's reachability probe connects and leaves without a byte: that is no error.
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    // One deadline for handshake and request together, owned by the socket: neither a stalled
    // handshake nor a request sent a byte at a time can hold a descriptor for long.
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    deadline->start(m_timeout_ms);
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { read_request(socket); });
    socket->startServerEncryption();
}

void signon_server::read_request(QSslSocket* socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > max_head_bytes)
            socket->abort();
        else
            socket->setProperty("buffer", buffer);
        return;
    }
    const QList<QByteArray> request_line = buffer.left(buffer.indexOf("\r\n")).split(' ');
    if (request_line.size() != 3 || request_line.at(0) != "GET") {
        socket->abort();
        return;
    }
    answer(socket, request_line.at(1));
}

void signon_server::answer(QSslSocket* socket, const QByteArray& target)
{
    sign_on_request request = read_sign_on_request(target);
    m_rules.apply(request, QDateTime::currentDateTime());
    QByteArray head;
    const QByteArray location = local_redirect(request);
    if (!location.isEmpty()) {
        request.status = 302;
        head = "\r\nLocation: " + location;
    }
    const QByteArray body = page_for(request);
    socket->write(status_line(request.status) + head +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
    if (request.status != 404)
        report(request);
    if (m_once && request.status != 404)
        connect(socket, &QObject::destroyed, qApp, &QCoreApplication::quit);
}

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

// The link that signs on to path: the agent's scheme, then the path with only the characters
// encoded that would end it or change it for the agent ("%", "?", "#", control characters); a
// browser encodes the rest itself.
QString sign_on_link(const QString& path)
{
    QString link = QStringLiteral("tarnwell://portal");
    for (const QChar c : path) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('%') || c == QLatin1Char('?') || c == QLatin1Char('#') || u < 0x20 ||
            u == 0x7f)
            link += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            link += c;
    }
    return link;
}

QByteArray portal_page(const QString& path)
{
    // The link fills the window: the one thing to do on this page.
    return "<!doctype html><meta charset=\"utf-8\"><title>Portal</title><style>"
           "body{margin:0;font-family:sans-serif}"
           "a{display:block;height:100vh;box-sizing:border-box;padding-top:40vh;"
           "text-align:center;font-size:2em}</style>"
           "<a id=\"sign-on\" href=\"" +
           html_escaped(sign_on_link(path)) + "\">Sign on</a>\n";
}

QByteArray signed_on_page(const QString& user, const QString& path)
{
    const QByteArray title = "Signed on as " + html_escaped(user);
    return "<!doctype html><meta charset=\"utf-8\"><title>" + title + "</title><h1>" + title +
           "</h1><p>Page: " + html_escaped(path) + "</p>\n";
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
    case 503:
        return "HTTP/1.1 503 Service Unavailable";
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

signon_server::signon_server(server_identity identity, bool once, int timeout_ms,
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
    socket->setLocalCertificateChain({m_identity.certificate, m_identity.authority});
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
    const QByteArray head = buffer.left(end);
    const QList<QByteArray> request_line = head.left(head.indexOf("\r\n")).split(' ');
    if (request_line.size() != 3 || request_line.at(0) != "GET") {
        socket->abort();
        return;
    }
    answer(socket, request_line.at(1), head);
}

void signon_server::answer(QSslSocket* socket, const QByteArray& target, const QByteArray& head)
{
    const QDateTime now = QDateTime::currentDateTime();
    sign_on_request request = read_sign_on_request(target);
    if (request.status == 404) {
        const int query_at = target.indexOf('?');
        serve_page(socket, query_at < 0 ? target : target.left(query_at), head);
        return;
    }
    // Checked first, so that a parameter turned away for want of room is not spent.
    if (request.status == 200 && m_sessions.is_full(now.toSecsSinceEpoch())) {
        request.status = 503;
        request.error = QStringLiteral("this server already has %1 sessions, its most; try "
                                       "again later")
                            .arg(session_capacity);
    }
    m_rules.apply(request, now);
    QByteArray headers;
    if (request.status == 200) {
        const QByteArray token = m_sessions.open(request.user_id, now.toSecsSinceEpoch());
        if (token.isEmpty()) {
            request.status = 503;
            request.error = QStringLiteral("no session could be opened");
        } else {
            headers += "\r\nSet-Cookie: " + m_sessions.cookie(token);
            const QByteArray location = local_redirect(request);
            if (!location.isEmpty()) {
                request.status = 302;
                headers += "\r\nLocation: " + location;
                if (m_once && m_once_target.isNull()) {
                    m_once_target = request.req_uri;
                    QTimer::singleShot(once_wait_ms, qApp, &QCoreApplication::quit);
                }
            }
        }
    }
    report(request);
    send(socket, request.status, headers, page_for(request), m_once && request.status != 302);
}

void signon_server::serve_page(QSslSocket* socket, const QByteArray& path, const QByteArray& head)
{
    // Browsers ask for it by themselves; it is no page of the portal.
    if (path == "/favicon.ico") {
        sign_on_request none;
        none.status = 404;
        none.error = QStringLiteral("no such page");
        send(socket, 404, QByteArray(), page_for(none), false);
        return;
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(path);
    const QString decoded = QString::fromUtf8(bytes.constData(), bytes.size());
    const qint64 now = QDateTime::currentDateTime().toSecsSinceEpoch();
    QString user;
    bool signed_on = false;
    for (const QByteArray& token : cookie_values(head, session_cookie_name)) {
        signed_on = m_sessions.find(token, now, user);
        if (signed_on)
            break;
    }
    QTextStream out(stdout);
    if (!signed_on) {
        out << "portal page: path=\"" << printable_field(decoded) << '"' << Qt::endl;
        send(socket, 200, QByteArray(), portal_page(decoded), false);
        return;
    }
    out << "signed-on page: userId=\"" << printable_field(user) << "\" path=\""
        << printable_field(decoded) << '"' << Qt::endl;
    send(socket, 200, QByteArray(), signed_on_page(user, decoded),
         m_once && !m_once_target.isNull() && decoded == m_once_target);
}

void signon_server::send(QSslSocket* socket, int status, const QByteArray& headers,
                         const QByteArray& body, bool quit)
{
    // Pages depend on the session: a browser keeps none of them.
    socket->write(status_line(status) + headers +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store"
                  "\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
    if (quit)
        connect(socket, &QObject::destroyed, qApp, &QCoreApplication::quit);
}

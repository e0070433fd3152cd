#include "xdg_sandbox.h"

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

namespace {

enum class handlers
{
    https_default,     // https and http defaults in mimeapps.list, https wins
    https_cached,      // an https handler known only from mimeinfo.cache
    https_field_codes, // an https handler whose Exec line uses the other field codes
    http_only,         // only an http default
    https_no_marker,   // an https default whose Exec line has no address field code
    none,
};

const QString run_box = QStringLiteral("information\tRun Browser\tDo not run Browser failed.\n");

bool prepare(xdg_sandbox& sandbox, handlers kind)
{
    const QString https = QStringLiteral("sandbox-https.desktop");
    const QString http = QStringLiteral("sandbox-http.desktop");
    const QString scheme_https = QStringLiteral("https");
    const QString scheme_http = QStringLiteral("http");
    switch (kind) {
    case handlers::https_default:
        return sandbox.add_entry(https, QStringLiteral("--from-https %u")) &&
               sandbox.add_entry(http, QStringLiteral("--from-http %u")) &&
               sandbox.set_default(scheme_https, https) && sandbox.set_default(scheme_http, http);
    case handlers::https_cached:
        return sandbox.add_entry(https, QStringLiteral("--from-https %u")) &&
               sandbox.set_cached(scheme_https, https);
    case handlers::https_field_codes:
        return sandbox.add_entry(https, QStringLiteral("--class=%c %i --zoom=100%% %k %d --url %U"),
                                 QStringLiteral("Icon=sandbox-icon")) &&
               sandbox.set_default(scheme_https, https);
    case handlers::http_only:
        return sandbox.add_entry(http, QStringLiteral("--from-http %u")) &&
               sandbox.set_default(scheme_http, http);
    case handlers::https_no_marker:
        return sandbox.add_entry(https, QStringLiteral("--from-https")) &&
               sandbox.set_default(scheme_https, https);
    case handlers::none:
        return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(handlers)

class tst_browser_lookup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void browser_gets_the_address_as_one_argument_data();
    void browser_gets_the_address_as_one_argument();
    void no_usable_handler_gives_the_run_box_data();
    void no_usable_handler_gives_the_run_box();

private:
    // Runs run_browser in a child that sees only the sandbox; returns the boxes it printed.
    QString run_child(const xdg_sandbox& sandbox, const QString& address);

    QTcpServer m_server;
};

void tst_browser_lookup::initTestCase()
{
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
}

QString tst_browser_lookup::run_child(const xdg_sandbox& sandbox, const QString& address)
{
    QProcess child;
    child.setProcessEnvironment(sandbox.environment());
    child.start(QStringLiteral(TARNWELL_RUN_BROWSER_CHILD),
                {QString::number(m_server.serverPort()), address});
    if (!child.waitForFinished(30000) || child.exitCode() != 0)
        return QStringLiteral("child failed: ") + QString::fromUtf8(child.readAllStandardError());
    while (m_server.waitForNewConnection(0))
        delete m_server.nextPendingConnection();
    return QString::fromUtf8(child.readAllStandardOutput());
}

void tst_browser_lookup::browser_gets_the_address_as_one_argument_data()
{
    QTest::addColumn<handlers>("kind");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("expected"); // "@" stands for the address, "#" the entry

    const QList<QPair<const char*, QString>> addresses{
        {"a sign-on address", QStringLiteral("https://127.0.0.1:8443/signin/sso?param=Zm9v+/w==")},
        {"blanks and quotes", QStringLiteral("https://127.0.0.1/a b \"c\" 'd'")},
        {"a leading dash", QStringLiteral("-x --some-flag")},
        {"percent codes", QStringLiteral("https://127.0.0.1/%20--some-flag %u %U %1 %% %")},
        {"shell characters", QStringLiteral("$(id) `id`; a | b & c > d \\\" \\")},
    };
    const QList<std::tuple<const char*, handlers, QStringList>> routes{
        {"https default", handlers::https_default, {QStringLiteral("--from-https"), "@"}},
        {"https from the cache", handlers::https_cached, {QStringLiteral("--from-https"), "@"}},
        {"http only", handlers::http_only, {"@"}},
        {"https with field codes",
         handlers::https_field_codes,
         {QStringLiteral("--class=Sandbox Browser"), QStringLiteral("--icon"),
          QStringLiteral("sandbox-icon"), QStringLiteral("--zoom=100%"), "#",
          QStringLiteral("--url"), "@"}},
    };
    for (const auto& route : routes)
        for (const auto& hostile : addresses)
            QTest::addRow("%s, %s", std::get<0>(route), hostile.first)
                << std::get<1>(route) << hostile.second << std::get<2>(route);
}

void tst_browser_lookup::browser_gets_the_address_as_one_argument()
{
    QFETCH(handlers, kind);
    QFETCH(QString, address);
    QFETCH(QStringList, expected);
    xdg_sandbox sandbox;
    QVERIFY(sandbox.is_valid());
    QVERIFY(prepare(sandbox, kind));
    expected.replaceInStrings(QRegularExpression(QStringLiteral("^@$")), address);
    expected.replaceInStrings(QRegularExpression(QStringLiteral("^#$")),
                              sandbox.entry_path(QStringLiteral("sandbox-https.desktop")));

    QCOMPARE(run_child(sandbox, address), QString());
    // The browser is started detached: it may write its record after the child has ended.
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.recorded().has_value(), 10000);
    QCOMPARE(*sandbox.recorded(), expected);
}

void tst_browser_lookup::no_usable_handler_gives_the_run_box_data()
{
    QTest::addColumn<handlers>("kind");
    QTest::newRow("no handler at all") << handlers::none;
    QTest::newRow("an https handler without an address field code") << handlers::https_no_marker;
}

void tst_browser_lookup::no_usable_handler_gives_the_run_box()
{
    QFETCH(handlers, kind);
    xdg_sandbox sandbox;
    QVERIFY(sandbox.is_valid());
    QVERIFY(prepare(sandbox, kind));

    QCOMPARE(run_child(sandbox, QStringLiteral("https://127.0.0.1/")), run_box);
    QVERIFY(!sandbox.recorded().has_value());
}

QTEST_GUILESS_MAIN(tst_browser_lookup)
#include "tst_browser_lookup.moc"

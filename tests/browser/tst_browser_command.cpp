#include "browser/browser_command.h"

#include <QSettings>
#include <QSysInfo>
#include <QtTest>

namespace {

const QString address = QStringLiteral("https://127.0.0.1:8443/signin/sso?param=Zm9v-_w");
const QString program = QStringLiteral("C:\\Program Files\\Browser\\browser.exe");
const QString desktop_program = QStringLiteral("/opt/sandbox browser/browser");

// The program followed by its arguments; empty for a failed composition.
QStringList as_list(const std::optional<tnw_browser_command>& command)
{
    return command ? QStringList{command->program} + command->arguments : QStringList{};
}

} // namespace

class tst_browser_command : public QObject
{
    Q_OBJECT

private slots:
    void from_template_data();
    void from_template();
    void from_machine_value_data();
    void from_machine_value();
    void from_executable_data();
    void from_executable();
    void from_desktop_entry_data();
    void from_desktop_entry();
    void hostile_address_is_one_unchanged_argument_data();
    void hostile_address_is_one_unchanged_argument();
#ifdef Q_OS_WIN
    void registry_route_data();
    void registry_route();
#endif
};

void tst_browser_command::from_template_data()
{
    QTest::addColumn<QString>("command_template");
    QTest::addColumn<QStringList>("expected");

    const QString quoted = QLatin1Char('"') + program + QLatin1Char('"');
    QTest::newRow("a quoted program with blanks, an option and the marker")
        << quoted + QStringLiteral(" --single-argument %1")
        << QStringList{program, QStringLiteral("--single-argument"), address};
    QTest::newRow("the marker twice gets the address in both places")
        << quoted + QStringLiteral(" --open %1 --also %1")
        << QStringList{program, QStringLiteral("--open"), address, QStringLiteral("--also"),
                       address};
    QTest::newRow("a quoted marker")
        << quoted + QStringLiteral(" \"%1\"") << QStringList{program, address};
    QTest::newRow("the marker inside an option")
        << QStringLiteral("browser.exe --url=%1,%1")
        << QStringList{QStringLiteral("browser.exe"),
                       QStringLiteral("--url=") + address + QLatin1Char(',') + address};
    QTest::newRow("the lowest-numbered marker wins and higher ones stay")
        << QStringLiteral("browser.exe %2 %1")
        << QStringList{QStringLiteral("browser.exe"), QStringLiteral("%2"), address};
    QTest::newRow("a marker other than %1 when it is the lowest")
        << QStringLiteral("browser.exe --x %3 %12")
        << QStringList{QStringLiteral("browser.exe"), QStringLiteral("--x"), address,
                       QStringLiteral("%12")};
    QTest::newRow("a marker with the locale flag")
        << QStringLiteral("browser.exe %L1") << QStringList{QStringLiteral("browser.exe"), address};
    QTest::newRow("a quoted option with blanks stays one argument")
        << QStringLiteral("\"C:\\My Browser\\b.exe\" \"--profile=Work Place\" %1")
        << QStringList{QStringLiteral("C:\\My Browser\\b.exe"),
                       QStringLiteral("--profile=Work Place"), address};
    QTest::newRow("three quotes stand for one quote")
        << QStringLiteral("b.exe --title=\"\"\"x\"\"\" %1")
        << QStringList{QStringLiteral("b.exe"), QStringLiteral("--title=\"x\""), address};

    QTest::newRow("a template without a marker fails")
        << quoted + QStringLiteral(" --new-window") << QStringList{};
    QTest::newRow("a percent sign without a digit is no marker")
        << QStringLiteral("browser.exe --x=%s") << QStringList{};
    QTest::newRow("an empty template fails") << QString() << QStringList{};
    QTest::newRow("a template of blanks fails") << QStringLiteral("   ") << QStringList{};
    QTest::newRow("the marker as the program fails") << QStringLiteral("%1 --x") << QStringList{};
    QTest::newRow("the marker in the program and in an argument fails")
        << QStringLiteral("\"C:\\%1\\b.exe\" %1") << QStringList{};
    QTest::newRow("the lowest marker inside the program path fails")
        << QStringLiteral("\"C:\\%1\\b.exe\" %2") << QStringList{};
}

void tst_browser_command::from_template()
{
    QFETCH(QString, command_template);
    QFETCH(QStringList, expected);
    QCOMPARE(as_list(browser_command_from_template(command_template, address)), expected);
}

void tst_browser_command::from_machine_value_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("a quoted program with blanks; its own arguments are dropped")
        << QLatin1Char('"') + program + QStringLiteral("\" --new-window -- \"%1\"")
        << QStringList{program, address};
    QTest::newRow("nothing after the closing quote")
        << QStringLiteral("\"C:\\Browser\\browser.exe\"")
        << QStringList{QStringLiteral("C:\\Browser\\browser.exe"), address};
    QTest::newRow("text before the first quote is not used")
        << QStringLiteral("start \"C:\\Browser\\browser.exe\" %1")
        << QStringList{QStringLiteral("C:\\Browser\\browser.exe"), address};
    QTest::newRow("an opening quote alone takes the rest as the program")
        << QStringLiteral("\"C:\\Browser\\browser.exe %1")
        << QStringList{QStringLiteral("C:\\Browser\\browser.exe %1"), address};

    QTest::newRow("the missing-value default 0 fails") << QStringLiteral("0") << QStringList{};
    QTest::newRow("an unquoted command fails")
        << QStringLiteral("C:\\Browser\\browser.exe %1") << QStringList{};
    QTest::newRow("an empty value fails") << QString() << QStringList{};
    QTest::newRow("an empty quoted program fails") << QStringLiteral("\"\" %1") << QStringList{};
}

void tst_browser_command::from_machine_value()
{
    QFETCH(QString, value);
    QFETCH(QStringList, expected);
    QCOMPARE(as_list(browser_command_from_machine_value(value, address)), expected);
}

void tst_browser_command::from_executable_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a path with blanks is the program itself")
        << desktop_program << QStringList{desktop_program, address};
    QTest::newRow("a path with a quote")
        << QStringLiteral("/opt/a\"b") << QStringList{QStringLiteral("/opt/a\"b"), address};
    QTest::newRow("no executable fails") << QString() << QStringList{};
}

void tst_browser_command::from_executable()
{
    QFETCH(QString, executable);
    QFETCH(QStringList, expected);
    QCOMPARE(as_list(browser_command_from_executable(executable, address)), expected);
}

void tst_browser_command::from_desktop_entry_data()
{
    QTest::addColumn<QStringList>("exec");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QStringList>("expected");

    const QString p = desktop_program;
    const QString icon = QStringLiteral("sandbox-icon");
    const QString file = QStringLiteral("/usr/share/applications/sandbox.desktop");
    const QString name = QStringLiteral("Sandbox Browser");
    for (const char* code : {"%u", "%U", "%f", "%F"})
        QTest::addRow("the field code %s takes the address", code)
            << QStringList{p, QLatin1String(code)} << icon << file << QStringList{p, address};
    QTest::newRow("an option before the field code")
        << QStringList{p, QStringLiteral("--new-window"), QStringLiteral("%u")} << icon << file
        << QStringList{p, QStringLiteral("--new-window"), address};
    QTest::newRow("the field code inside an argument")
        << QStringList{p, QStringLiteral("--url=%u")} << icon << file
        << QStringList{p, QStringLiteral("--url=") + address};
    QTest::newRow("the field code twice")
        << QStringList{p, QStringLiteral("%u"), QStringLiteral("--again"), QStringLiteral("%u")}
        << icon << file << QStringList{p, address, QStringLiteral("--again"), address};
    QTest::newRow("%% is a percent sign")
        << QStringList{p, QStringLiteral("--zoom=100%%"), QStringLiteral("%u")} << icon << file
        << QStringList{p, QStringLiteral("--zoom=100%"), address};
    QTest::newRow("%%u is a literal, not the field code")
        << QStringList{p, QStringLiteral("%%u")} << icon << file << QStringList{};
    QTest::newRow("%c is the name, one argument with its blank")
        << QStringList{p, QStringLiteral("--class=%c"), QStringLiteral("%c"), QStringLiteral("%u")}
        << icon << file << QStringList{p, QStringLiteral("--class=") + name, name, address};
    QTest::newRow("%k is the entry's file")
        << QStringList{p, QStringLiteral("%k"), QStringLiteral("%u")} << icon << file
        << QStringList{p, file, address};
    QTest::newRow("%k without a location leaves its argument out")
        << QStringList{p, QStringLiteral("%k"), QStringLiteral("%u")} << icon << QString()
        << QStringList{p, address};
    QTest::newRow("%i is --icon and the icon")
        << QStringList{p, QStringLiteral("%i"), QStringLiteral("%u")} << icon << file
        << QStringList{p, QStringLiteral("--icon"), icon, address};
    QTest::newRow("%i without an icon gives nothing")
        << QStringList{p, QStringLiteral("%i"), QStringLiteral("%u")} << QString() << file
        << QStringList{p, address};
    QTest::newRow("%i inside an argument is dropped")
        << QStringList{p, QStringLiteral("-x%i"), QStringLiteral("%u")} << icon << file
        << QStringList{p, QStringLiteral("-x"), address};
    QTest::newRow("deprecated field codes are dropped")
        << QStringList{p,
                       QStringLiteral("%d"),
                       QStringLiteral("%D"),
                       QStringLiteral("%n"),
                       QStringLiteral("%N"),
                       QStringLiteral("%v"),
                       QStringLiteral("%m"),
                       QStringLiteral("--dir=%d"),
                       QStringLiteral("%u")}
        << icon << file << QStringList{p, QStringLiteral("--dir="), address};
    QTest::newRow("unknown codes and a lone trailing percent are dropped")
        << QStringList{p, QStringLiteral("%z"), QStringLiteral("50%"), QStringLiteral("%u")} << icon
        << file << QStringList{p, QStringLiteral("50"), address};
    QTest::newRow("an empty quoted argument stays")
        << QStringList{p, QString(), QStringLiteral("%u")} << icon << file
        << QStringList{p, QString(), address};

    QTest::newRow("no address field code fails")
        << QStringList{p, QStringLiteral("--new-window")} << icon << file << QStringList{};
    QTest::newRow("only deprecated codes fail")
        << QStringList{p, QStringLiteral("%d")} << icon << file << QStringList{};
    QTest::newRow("an empty Exec fails") << QStringList{} << icon << file << QStringList{};
    QTest::newRow("the field code as the program fails")
        << QStringList{QStringLiteral("%u"), QStringLiteral("%u")} << icon << file << QStringList{};
    QTest::newRow("the field code inside the program fails")
        << QStringList{QStringLiteral("/opt/%u/b"), QStringLiteral("%u")} << icon << file
        << QStringList{};
    QTest::newRow("a program that expands to nothing fails")
        << QStringList{QStringLiteral("%d"), QStringLiteral("%u")} << icon << file << QStringList{};
}

void tst_browser_command::from_desktop_entry()
{
    QFETCH(QStringList, exec);
    QFETCH(QString, icon);
    QFETCH(QString, location);
    QFETCH(QStringList, expected);
    const tnw_desktop_entry entry{exec, QStringLiteral("Sandbox Browser"), icon, location};
    QCOMPARE(as_list(browser_command_from_desktop_entry(entry, address)), expected);
}

void tst_browser_command::hostile_address_is_one_unchanged_argument_data()
{
    QTest::addColumn<QString>("hostile");
    QTest::newRow("blanks and quotes") << QStringLiteral("https://127.0.0.1/a b \"c\" 'd'");
    QTest::newRow("a leading dash") << QStringLiteral("--some-flag -x");
    QTest::newRow("percent codes of every kind")
        << QStringLiteral("https://127.0.0.1/%20--some-flag %1 %L1 %2 %u %U %f %i %% %");
    QTest::newRow("shell characters and backslashes")
        << QStringLiteral("$(id) `id`; a | b & c > d \\\" \\");
    QTest::newRow("an empty address") << QString();
}

void tst_browser_command::hostile_address_is_one_unchanged_argument()
{
    QFETCH(QString, hostile);
    const QString quoted = QLatin1Char('"') + program + QLatin1Char('"');
    const QString option = QStringLiteral("--new-window");
    QCOMPARE(as_list(browser_command_from_template(quoted + QStringLiteral(" --new-window %1"),
                                                   hostile)),
             (QStringList{program, option, hostile}));
    QCOMPARE(
        as_list(browser_command_from_machine_value(quoted + QStringLiteral(" \"%1\""), hostile)),
        (QStringList{program, hostile}));
    const tnw_desktop_entry entry{{desktop_program, option, QStringLiteral("%U")}, {}, {}, {}};
    QCOMPARE(as_list(browser_command_from_desktop_entry(entry, hostile)),
             (QStringList{desktop_program, option, hostile}));
}

#ifdef Q_OS_WIN
namespace {

const QString user_choice_key = QStringLiteral(
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\"
    "https\\UserChoice");
const QString latest_choice_key = QStringLiteral(
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\"
    "https\\UserChoiceLatest\\ProgId");
const QString class_command_key = QStringLiteral("HKEY_CLASSES_ROOT\\%1\\shell\\open\\command");
const QString machine_command_key =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\http\\shell\\open\\command");
const QString test_class = QStringLiteral("TnwTestBrowserURL");
const QString latest_class = QStringLiteral("TnwTestLatestBrowserURL");
const QString latest_program = QStringLiteral("C:\\Latest Browser\\latest.exe");
const QString hostile_address =
    QStringLiteral("https://127.0.0.1:8443/signin/sso?param=a%2Bb c\"d\"");

// Writes value (none when null) as the key's default value, or as name.
void set_registry(const QString& key, const QString& name, const QString& value)
{
    QSettings settings(key, QSettings::NativeFormat);
    if (value.isNull())
        settings.remove(name);
    else
        settings.setValue(name, value);
    settings.sync();
}

} // namespace

// The registry as the agent reads it, written into the machine's (the wine prefix's) registry.
// The routes depend on the version the system reports, so the program runs once per version
// (the test command switches the prefix between the runs) and each run checks that it got the
// version it was started for.
void tst_browser_command::registry_route_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("latest_prog_id"); // below UserChoiceLatest; null: no such value
    QTest::addColumn<QString>("prog_id");
    QTest::addColumn<QString>("class_command");
    QTest::addColumn<QString>("machine_command");
    QTest::addColumn<QStringList>("expected"); // program, then arguments; empty: no command

    const QString browser = QStringLiteral("C:\\Program Files\\Tnw Browser\\browser.exe");
    const QString quoted_browser = '"' + browser + '"';

    QTest::newRow("10: the user's choice, its quoted program and option kept")
        << "10" << QString() << test_class << quoted_browser + " --single-argument %1" << QString()
        << QStringList{browser, "--single-argument", hostile_address};
    QTest::newRow("10: every place of the marker gets the address")
        << "10" << QString() << test_class << quoted_browser + " --url=%1 %1" << QString()
        << QStringList{browser, "--url=" + hostile_address, hostile_address};
    QTest::newRow("10: the user's choice wins over the machine's command")
        << "10" << QString() << test_class << quoted_browser + " %1"
        << "\"C:\\other.exe\" %1" << QStringList{browser, hostile_address};
    QTest::newRow("10: the choice below UserChoiceLatest wins over UserChoice")
        << "10" << latest_class << test_class << quoted_browser + " %1" << QString()
        << QStringList{latest_program, hostile_address};
    QTest::newRow("10: an empty choice below UserChoiceLatest leaves UserChoice's")
        << "10" << QStringLiteral("") << test_class << quoted_browser + " %1" << QString()
        << QStringList{browser, hostile_address};
    QTest::newRow("10: no ProgId finds no command")
        << "10" << QString() << QString() << QString() << quoted_browser + " %1" << QStringList();
    QTest::newRow("7sp1: the machine's command, its own arguments dropped")
        << "7sp1" << latest_class << test_class << "\"C:\\other.exe\" %1"
        << quoted_browser + " -nohome -- \"%1\"" << QStringList{browser, hostile_address};
    QTest::newRow("7sp1: no machine command finds none")
        << "7sp1" << QString() << test_class << quoted_browser + " %1" << QString()
        << QStringList();
}

void tst_browser_command::registry_route()
{
    QFETCH(QString, version);
    QFETCH(QString, latest_prog_id);
    QFETCH(QString, prog_id);
    QFETCH(QString, class_command);
    QFETCH(QString, machine_command);
    QFETCH(QStringList, expected);

    const QString run_version = qEnvironmentVariable("TNW_WINDOWS_VERSION");
    if (run_version.isEmpty())
        QSKIP("run by the test command, which sets the reported Windows version");
    QCOMPARE(QSysInfo::productVersion(), run_version);
    if (version != run_version)
        QSKIP("a row for the other version's run");

    set_registry(latest_choice_key, QStringLiteral("ProgId"), latest_prog_id);
    set_registry(class_command_key.arg(latest_class), QStringLiteral("Default"),
                 '"' + latest_program + "\" %1");
    set_registry(user_choice_key, QStringLiteral("ProgId"), prog_id);
    set_registry(class_command_key.arg(test_class), QStringLiteral("Default"), class_command);
    set_registry(machine_command_key, QStringLiteral("Default"), machine_command);

    const std::optional<tnw_browser_command> command = default_browser_command(hostile_address);
    if (expected.isEmpty()) {
        QVERIFY(!command);
    } else {
        QVERIFY(command);
        QCOMPARE(command->program, expected.first());
        QCOMPARE(command->arguments, expected.mid(1));
    }
}
#endif

QTEST_APPLESS_MAIN(tst_browser_command)
#include "tst_browser_command.moc"

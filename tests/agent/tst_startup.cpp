#include "log_files.h"
#include "modal_box.h"

#include "startup.h"

#include <quillmark/quillmarkv2.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace {

QStringList todays_log_lines()
{
    return tnw_test::file_lines(QCoreApplication::applicationDirPath() + "/logs/" +
                                QDate::currentDate().toString("yyyy-MM-dd") + "_tarnwell.log");
}

} // namespace

class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void request_path_data();
    void request_path();
    void missing_translation_data();
    void missing_translation();
    void installed_translation_is_used_data();
    void installed_translation_is_used();

private:
    void remove_translator_dir();
    void install_qm();
};

void tst_startup::initTestCase()
{
    quillmarkv2::get_instance()->initialize(true);
}

void tst_startup::request_path_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const QString prog = "tarnwell";
    QTest::newRow("no argument gives no path") << QStringList{prog} << QString();
    QTest::newRow("path only, query and fragment dropped")
        << QStringList{prog, "tarnwell://host:8443/app/page?x=1&y=2#top"} << "/app/page";
    QTest::newRow("scheme and a whole address without authority")
        << QStringList{prog, "tarnwell:https://portal.example/a/b?q=1#f"}
        << "https://portal.example/a/b";
    QTest::newRow("upper-case scheme") << QStringList{prog, "TARNWELL://host/Page"} << "/Page";
    QTest::newRow("mixed-case scheme") << QStringList{prog, "TarnWell://host/x"} << "/x";
    QTest::newRow("second occurrence inside the path becomes https too")
        << QStringList{prog, "tarnwell://host/docs/TARNWELL/x"} << "/docs/https/x";
    QTest::newRow("percent-escapes are decoded")
        << QStringList{prog, "tarnwell://host/a%20b/%ED%95%9C%26c"}
        << QString::fromUtf8("/a b/한&c");
    QTest::newRow("non-ASCII argument stays intact")
        << QStringList{prog, QString::fromUtf8("tarnwell://host/문서/ü")}
        << QString::fromUtf8("/문서/ü");
    QTest::newRow("host without path gives an empty path")
        << QStringList{prog, "tarnwell://host"} << QString();
    QTest::newRow("only the first argument counts")
        << QStringList{prog, "tarnwell://host/first", "tarnwell://host/second"} << "/first";
}

void tst_startup::request_path()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(tnw_request_path(arguments), expected);
}

void tst_startup::remove_translator_dir()
{
    QDir(tnw_translator_directory()).removeRecursively();
}

void tst_startup::install_qm()
{
    QDir().mkpath(tnw_translator_directory());
    QFile::remove(tnw_translation_file());
    QVERIFY(QFile::copy(TNW_TEST_TRANSLATION, tnw_translation_file()));
}

void tst_startup::missing_translation_data()
{
    QTest::addColumn<bool>("make_directory");
    QTest::addColumn<QByteArray>("file_content");
    QTest::addColumn<QString>("expected_text");

    QTest::newRow("no translator directory")
        << false << QByteArray() << "Translator directory not found.";
    QTest::newRow("directory without the file")
        << true << QByteArray() << "Translator file not found.";
    QTest::newRow("file that is no translation")
        << true << QByteArray("not a translation file") << "Translator file not found.";
}

// The real message box is shown (offscreen), closed from a timer, and read back.
void tst_startup::missing_translation()
{
    QFETCH(bool, make_directory);
    QFETCH(QByteArray, file_content);
    QFETCH(QString, expected_text);

    remove_translator_dir();
    if (make_directory)
        QVERIFY(QDir().mkpath(tnw_translator_directory()));
    if (!file_content.isEmpty()) {
        QFile file(tnw_translation_file());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(file_content);
    }

    const int lines_before = todays_log_lines().size();
    int boxes = 0;
    tnw_platform platform = tnw_system_platform();
    const auto system_box = platform.show_box;
    platform.show_box = [&](tnw_box_kind kind, const QString& title, const QString& text) {
        ++boxes;
        QCOMPARE(kind, tnw_box_kind::information);
        system_box(kind, title, text);
    };
    platform.start_detached = [](const QString&, const QStringList&) {
        qFatal("nothing may be started when the translation is missing");
        return false;
    };
    modal_box_reading shown;
    close_next_box(shown);

    QCOMPARE(tnw_run_agent({"tarnwell", "tarnwell://host/page"}, platform), -1);
    QCOMPARE(boxes, 1);
    QCOMPARE(shown.title, QString("Translator"));
    QCOMPARE(shown.text, expected_text);

    // The banner is already in the log, and the agent wrote nothing after it (only the
    // platform plugin's own warnings may follow).
    const QStringList lines = todays_log_lines().mid(lines_before);
    QVERIFY(!lines.isEmpty());
    QVERIFY(lines.first().endsWith(
        "\t[INFO]\t****************** TarnwellV4 Selvane Agent Start ******************"));
    for (const QString& line : lines.mid(1)) {
#ifdef Q_OS_WIN
        // Qt for Windows reports its own window troubles as critical (wine without a display
        // has no windows to give): anything but the agent's info lines.
        QVERIFY2(!line.contains("\t[INFO]\t"), qPrintable(line));
#else
        QVERIFY2(line.contains("\t[WARNING]\t"), qPrintable(line));
#endif
    }
    remove_translator_dir();
}

void tst_startup::installed_translation_is_used_data()
{
    QTest::addColumn<QByteArray>("qt_file_content");
    QTest::addColumn<QString>("ok_button");

    // Translators stay installed for the life of the application, so the rows that leave Qt's
    // texts in English come before the one that installs Qt's translation.
    QTest::newRow("without Qt's translation the agent's texts still load") << QByteArray() << "OK";
    QTest::newRow("a Qt translation that is no translation is skipped")
        << QByteArray("not a translation file") << "OK";
    QFile qt_file(TNW_TEST_QT_QM_FILE);
    QVERIFY(qt_file.open(QIODevice::ReadOnly));
    QTest::newRow("Qt's translation puts the boxes' button in Korean")
        << qt_file.readAll() << QString::fromUtf8("확인");
}

void tst_startup::installed_translation_is_used()
{
    QFETCH(QByteArray, qt_file_content);
    QFETCH(QString, ok_button);

    install_qm();
    if (!qt_file_content.isEmpty()) {
        QFile file(tnw_qt_translation_file());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(qt_file_content);
    }
    tnw_platform platform = tnw_system_platform();
    QVERIFY(tnw_install_translation(platform));
    QCOMPARE(QObject::tr("Run Browser"), QString::fromUtf8("브라우저 실행"));
    QCOMPARE(QObject::tr("auth"), QString::fromUtf8("인증"));
    QMessageBox box(QMessageBox::Information, "t", "t", QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), ok_button);
    remove_translator_dir();
}

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"

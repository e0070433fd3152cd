#include "startup.h"

#include "signon_flow.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>
#include <QUrl>

QString tnw_request_path(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return QString();
    QString text = arguments.at(1);
    text.replace(QLatin1String("tarnwell"), QLatin1String("https"), Qt::CaseInsensitive);
    return QUrl(text, QUrl::TolerantMode).path(QUrl::FullyDecoded);
}

QString tnw_translator_directory()
{
    return QCoreApplication::applicationDirPath() + QDir::separator() +
           QStringLiteral("translator");
}

QString tnw_translation_file()
{
    return tnw_translator_directory() + QDir::separator() +
           QStringLiteral("tarnwellv4_selvane_ko.qm");
}

QString tnw_qt_translation_file()
{
    return tnw_translator_directory() + QDir::separator() + QStringLiteral("qtbase_ko.qm");
}

bool tnw_install_translation(const tnw_platform& platform)
{
    if (!QDir(tnw_translator_directory()).exists()) {
        platform.show_box(tnw_box_kind::information, QObject::tr("Translator"),
                          QObject::tr("Translator directory not found."));
        return false;
    }
    // Owned by the application so that it lives exactly as long as the translations are used.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(tnw_translation_file(), QString(), QString(), QString())) {
        delete translator;
        platform.show_box(tnw_box_kind::information, QObject::tr("Translator"),
                          QObject::tr("Translator file not found."));
        return false;
    }
    QCoreApplication::installTranslator(translator);
    // Qt's own texts, such as the boxes' buttons. Only a nicety: without it they stay English.
    auto* qt_translator = new QTranslator(QCoreApplication::instance());
    if (qt_translator->load(tnw_qt_translation_file(), QString(), QString(), QString()))
        QCoreApplication::installTranslator(qt_translator);
    else
        delete qt_translator;
    return true;
}

int tnw_run_agent(const QStringList& arguments, const tnw_platform& platform)
{
    qInfo("****************** TarnwellV4 Selvane Agent Start ******************");
    const QString request_path = tnw_request_path(arguments);
    if (!tnw_install_translation(platform))
        return -1;
    return tnw_sign_on(request_path, platform);
}

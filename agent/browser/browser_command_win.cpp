#include "browser_command.h"

#include <QSettings>
#include <QSysInfo>

namespace {

// The class of the user's https handler. Settings on Windows 11 from 24H2 writes the choice
// below UserChoiceLatest and no longer updates UserChoice, which then names a browser the user
// has left, or one that is gone.
QString chosen_class()
{
    const QString associations = QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\"
                                                "Shell\\Associations\\UrlAssociations\\https\\");
    const QSettings latest(associations + QStringLiteral("UserChoiceLatest\\ProgId"),
                           QSettings::NativeFormat);
    const QString latest_class = latest.value(QStringLiteral("ProgId")).toString();
    if (!latest_class.isEmpty())
        return latest_class;
    const QSettings user_choice(associations + QStringLiteral("UserChoice"),
                                QSettings::NativeFormat);
    return user_choice.value(QStringLiteral("ProgId")).toString();
}

std::optional<tnw_browser_command> user_choice_command(const QString& address)
{
    const QString class_name = chosen_class();
    // An empty class name is not special: its key simply holds no command.
    const QSettings open_command(
        QStringLiteral("HKEY_CLASSES_ROOT\\%1\\shell\\open\\command").arg(class_name),
        QSettings::NativeFormat);
    return browser_command_from_template(open_command.value(QStringLiteral("Default")).toString(),
                                         address);
}

std::optional<tnw_browser_command> machine_command(const QString& address)
{
    const QSettings open_command(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\http\\shell\\open\\command"),
        QSettings::NativeFormat);
    const QString value =
        open_command.value(QStringLiteral("Default"), QStringLiteral("0")).toString();
    return browser_command_from_machine_value(value, address);
}

} // namespace

std::optional<tnw_browser_command> default_browser_command(const QString& address)
{
    if (QSysInfo::productVersion() == QLatin1String("10"))
        return user_choice_command(address);
    return machine_command(address);
}

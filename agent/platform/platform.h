#pragma once

#include <QString>
#include <QStringList>

#include <functional>

enum class tnw_box_kind
{
    information,
    warning
};

// Everything the agent asks of the desktop it runs on. The program uses
// tnw_system_platform(); tests hand in fakes to drive the whole flow in-process.
struct tnw_platform
{
    // A modal message box with one Ok button; title and text arrive already translated.
    std::function<void(tnw_box_kind kind, const QString& title, const QString& text)> show_box;
    // Starts program with arguments, detached; false when it could not be started.
    std::function<bool(const QString& program, const QStringList& arguments)> start_detached;
    // The account's user principal name (user@REALM); false when the account has none.
    std::function<bool(QString& principal)> account_name;
    // Where the SSO agent's client library is loaded from.
    QString sso_library_path;
};

tnw_platform tnw_system_platform();

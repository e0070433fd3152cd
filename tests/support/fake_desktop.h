#pragma once

#include "browser/browser_command.h"
#include "platform/platform.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Stands in for the desktop at the platform boundary: records the boxes shown and the
// processes started, and answers the account-name question as the test says.
class fake_desktop
{
public:
    // Each box as "information: <title> / <text>" or "warning: <title> / <text>".
    QStringList boxes;
    QList<tnw_browser_command> starts;
    int account_calls = 0;
    // What the account-name question answers; unset means the account has no principal name.
    std::function<bool(QString& principal)> account;
    bool start_succeeds = true;
    // Run inside the calls, while the code under test still holds what it holds then.
    std::function<void()> at_start;
    std::function<void()> at_box;

    tnw_platform platform(const QString& sso_library = QString());

    // The one address the flow handed to the browser; a test failure when there was not
    // exactly one start of program with exactly one argument.
    QString started_address(const QString& program) const;
};

// The box record fake_desktop keeps for an information box.
QString information_box(const QString& title, const QString& text);
QString warning_box(const QString& title, const QString& text);

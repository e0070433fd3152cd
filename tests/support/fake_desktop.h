#pragma once

#include "browser/browser_command.h"
#include "platform/platform.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

// Header only: the agent's side of the test support, compiled in the tests that link the
// agent's library.

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

    inline tnw_platform platform(const QString& sso_library = QString());

    // The one address the flow handed to the browser; a test failure when there was not
    // exactly one start of program with exactly one argument.
    inline QString started_address(const QString& program) const;
};

// The box record fake_desktop keeps for an information box, and for a warning box.
inline QString information_box(const QString& title, const QString& text)
{
    return QStringLiteral("information: ") + title + QStringLiteral(" / ") + text;
}

inline QString warning_box(const QString& title, const QString& text)
{
    return QStringLiteral("warning: ") + title + QStringLiteral(" / ") + text;
}

tnw_platform fake_desktop::platform(const QString& sso_library)
{
    tnw_platform platform;
    platform.show_box = [this](tnw_box_kind kind, const QString& title, const QString& text) {
        boxes << (kind == tnw_box_kind::warning ? warning_box(title, text)
                                                : information_box(title, text));
        if (at_box)
            at_box();
    };
    platform.start_detached = [this](const QString& program, const QStringList& arguments) {
        starts.append({program, arguments});
        if (at_start)
            at_start();
        return start_succeeds;
    };
    platform.account_name = [this](QString& principal) {
        ++account_calls;
        return account && account(principal);
    };
    platform.sso_library_path = sso_library;
    return platform;
}

QString fake_desktop::started_address(const QString& program) const
{
    [&] {
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.at(0).program, program);
        QCOMPARE(starts.at(0).arguments.size(), 1);
    }();
    if (QTest::currentTestFailed())
        return QString();
    return starts.at(0).arguments.at(0);
}

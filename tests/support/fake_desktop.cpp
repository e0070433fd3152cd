#include "fake_desktop.h"

#include <QtTest>

QString information_box(const QString& title, const QString& text)
{
    return QStringLiteral("information: ") + title + QStringLiteral(" / ") + text;
}

QString warning_box(const QString& title, const QString& text)
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

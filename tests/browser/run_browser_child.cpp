// Runs run_browser once in a process of its own, so that GIO reads the XDG directories the
// test prepared for it, and starts the browser for real. Arguments: port, address. Boxes are
// written to standard output, one line each: kind, title and text separated by tabs.
#include "browser/run_browser.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return 2;
    tnw_platform platform = tnw_system_platform();
    platform.show_box = [](tnw_box_kind kind, const QString& title, const QString& text) {
        QTextStream(stdout) << (kind == tnw_box_kind::warning ? "warning" : "information") << '\t'
                            << title << '\t' << text << '\n';
    };
    run_browser(arguments.at(2), QStringLiteral("127.0.0.1"), arguments.at(1).toUInt(), platform);
    return 0;
}

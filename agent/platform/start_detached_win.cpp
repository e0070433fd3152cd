#include "start_detached.h"

#include <QDir>
#include <QProcess>

bool tnw_start_detached(const QString& program, const QStringList& arguments)
{
    // In the user's profile folder rather than the agent's current folder, which is wherever it
    // was started from: a folder another user may have filled.
    return QProcess::startDetached(program, arguments, QDir::homePath());
}

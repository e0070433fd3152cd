#include "start_detached.h"

#include <QProcess>

bool tnw_start_detached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

#include "agent_run.h"

#include "startup.h"

#include <QtGlobal>

int tnw_run_agent(const QStringList& arguments, const tnw_platform& platform)
{
    qInfo("****************** TarnwellV4 Selvane Agent Start ******************");
    const QString request_path = tnw_request_path(arguments);
    if (!tnw_install_translation(platform))
        return -1;
    Q_UNUSED(request_path)
    return 1;
}

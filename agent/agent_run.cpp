#include "agent_run.h"

#include "signon_flow.h"
#include "startup.h"

#include <QtGlobal>

int tnw_run_agent(const QStringList& arguments, const tnw_platform& platform)
{
    qInfo("****************** TarnwellV4 Selvane Agent Start ******************");
    const QString request_path = tnw_request_path(arguments);
    if (!tnw_install_translation(platform))
        return -1;
    return tnw_sign_on(request_path, platform);
}

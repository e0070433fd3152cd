#pragma once

#include "platform/platform.h"

#include <QStringList>

// One start of the agent after the application object and the log library exist: banner,
// request path, translation, then the sign-on. Returns the process exit code (1 or -1).
int tnw_run_agent(const QStringList& arguments, const tnw_platform& platform);

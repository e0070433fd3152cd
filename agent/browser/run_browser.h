#pragma once

#include "platform/platform.h"

#include <QString>
#include <QtGlobal>

// Opens address in the user's default browser, provided the sign-on server accepts TCP
// connections at host and port within 5000 ms. Every failure is told to the user in a box
// through platform; nothing is returned and nothing is logged. The probe connection carries no
// data and stays open until the call returns. A port outside 1..65535 counts as unreachable,
// and so does a host that is neither an IP literal nor a host name (see server/server_host.h).
void run_browser(QString address, QString host, quint32 port, const tnw_platform& platform);

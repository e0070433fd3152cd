#pragma once

#include "platform/platform.h"

#include <QString>
#include <QStringList>

// The page the user asked for: the path of the first argument after the program name, read
// as a URL once every "tarnwell" in it (any case) has become "https"; empty without one.
QString tnw_request_path(const QStringList& arguments);

QString tnw_translator_directory();
QString tnw_translation_file();
// Qt's own Korean texts; loaded when present, never required.
QString tnw_qt_translation_file();

// Loads and installs the Korean translation, then Qt's own when it loads. When the directory or
// the agent's file is missing, tells the user in a box and returns false.
bool tnw_install_translation(const tnw_platform& platform);

// One start of the agent after the application object and the log library exist: banner,
// request path, translation, then the sign-on. Returns the process exit code (1 or -1).
int tnw_run_agent(const QStringList& arguments, const tnw_platform& platform);

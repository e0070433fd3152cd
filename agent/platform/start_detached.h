#pragma once

#include <QString>
#include <QStringList>

// Starts program (looked up in PATH when it holds no separator) with arguments, each handed
// over as one argument, in a session of its own, in the user's home folder and without waiting
// for it. False when it could not be started: not found, not executable, no resources.
bool tnw_start_detached(const QString& program, const QStringList& arguments);

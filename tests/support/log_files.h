#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reading the log files the tests leave, the same on every platform.
namespace tnw_test {

// A line of a log file ends in CR LF on Windows, in LF elsewhere.
#ifdef Q_OS_WIN
constexpr char line_end[] = "\r\n";
#else
constexpr char line_end[] = "\n";
#endif

// The whole file as it lies on disk; empty when it cannot be read.
QByteArray file_bytes(const QString& path);

// The lines of a log file as UTF-8 text, each without its line end; split at the platform's line
// end only, so that a bare LF in a Windows file stays visible inside a line. None when the file
// cannot be read or is empty.
QStringList file_lines(const QString& path);

// The user's own log folder, for the lines the program's log folder cannot take:
// "%LOCALAPPDATA%/Tarnwell/logs", "$XDG_STATE_HOME/tarnwell/logs" (by default
// "~/.local/state/tarnwell/logs"), found here without the library's help.
QString user_log_dir();

// The calling thread's number as the log lines show it, read straight from the system.
quint64 system_thread_id();

} // namespace tnw_test

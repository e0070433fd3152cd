#pragma once

#include <QIODevice>
#include <QString>

class QFile;

namespace quillmark_detail {

// What a file path and a line end are made of here.
extern const QChar path_separator;
extern const char line_end[];
extern const std::size_t line_end_size;

// The emitting thread as a log line shows it: the kernel thread id on Linux (the child of a fork
// gets its own), the thread identifier on Windows.
qint32 current_thread_id();

// Opens the file of its name for appending as the day's file. Anything but a regular file of this
// user with one name is refused: a link as the file itself, a pipe or device that would block or
// swallow the lines, a second name of another file (the lines would go into it). The file is
// created private to the user when missing.
bool open_day_file(QFile& file, QIODevice::OpenMode mode);

// The user's own log folder ("%LOCALAPPDATA%\Tarnwell\logs", "$XDG_STATE_HOME/tarnwell/logs"),
// empty when there is none; with make, its missing folders are made, private to the user.
QString user_log_directory(bool make);

#ifdef Q_OS_WIN
// The owner of an open file as the bytes of its SID, empty when unknown. The system's lookup,
// unless a test has put in its own (nullptr restores it): wine keeps no owners.
using owner_lookup = QByteArray (*)(void* handle);
void set_owner_lookup(owner_lookup fn);
#endif

// Writes the line at the end of the open file in one call, after whatever a host wrote through
// the same file object; returns once the line has reached the file. Errors are ignored.
void write_line(QFile& file, const char* line, std::size_t size);

// Where the running program lies, found without an application object.
QString executable_directory();

// Keeps the library mapped until the process ends: threads still logging while it ends must
// never find its code gone.
void keep_library_loaded();

} // namespace quillmark_detail

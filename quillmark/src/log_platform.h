#pragma once

#include <QIODevice>
#include <QString>

#include <ctime>

class QFile;

// For the library's thread-locals, read for every line: in the initial-exec model one load from
// the thread pointer, not a call into the dynamic loader. They come to a few bytes, well within
// the room the loader keeps for a library that is loaded later.
#ifdef __ELF__
#define QUILLMARK_FAST_TLS [[gnu::tls_model("initial-exec")]]
#else
#define QUILLMARK_FAST_TLS
#endif

namespace quillmark_detail {

#ifdef Q_OS_WIN
constexpr char line_end[] = "\r\n";
#else
constexpr char line_end[] = "\n";
#endif
constexpr std::size_t line_end_size = sizeof line_end - 1;

// The emitting thread as a line shows it: the kernel's thread id (a fork's child has its own).
qint32 current_thread_id();

// Opens the file for appending, private to the user when made. Only a regular file of this user
// with one name will do: no link, no pipe or device, no second name of another file.
bool open_day_file(QFile& file, QIODevice::OpenMode mode);

// Makes the program's log folder when it is missing; never one that others may write to.
void make_program_log_directory(const QString& path);

// "%LOCALAPPDATA%\Tarnwell\logs" or "$XDG_STATE_HOME/tarnwell/logs" (else the default below
// the user's home), empty when none is safe: no part of it a link or folder another user could
// have made or can change. With make, its missing folders are made, private to the user.
QString user_log_directory(bool make);

#ifdef Q_OS_WIN
// The owner SID of an open file, or empty; tests set their own (wine keeps no owners).
using owner_lookup = QByteArray (*)(void* handle);
void set_owner_lookup(owner_lookup fn);
#endif

// What write_line() may write to instead of an open file object while nobody else can write
// through it: the file's descriptor, or -1 where every line goes through the object.
int direct_descriptor(QFile& file);
// One write at the end; errors are ignored. Without a direct descriptor, after what a host wrote
// through the object.
void write_line(QFile& file, int direct, const char* line, std::size_t size);

QString executable_directory();

// Keeps the library mapped until the process ends, for threads still logging meanwhile.
void keep_library_loaded();

// The system clock in ms since the epoch, as QDateTime::currentMSecsSinceEpoch() reads it.
qint64 system_time_ms();

// The local calendar time of seconds since the epoch, the time zone read again each call.
bool local_time(qint64 seconds, std::tm* out);
// The zone's standard offset, seconds west of UTC (the C library's timezone), read again.
long standard_offset_west();

} // namespace quillmark_detail

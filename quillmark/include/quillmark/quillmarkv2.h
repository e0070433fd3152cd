#pragma once

#include <quillmark/quillmark_export.h>

#include <QDate>
#include <QObject>
#include <QReadWriteLock>

class QFile;
class QMessageLogContext;

// Process-wide logger: after get_instance() and initialize(), every Qt message of the process
// becomes one line of the day's file "<program dir>/logs/<yyyy-MM-dd>_tarnwell.log".
//
// The handler takes the write lock for each line and checks the date under it, so a file switch
// never races a writer. set_file_object(), check_compare_date() and destroy() may be called with
// get_lock() held, as a host writing its own lines does; they wait only for a line being written.
class QUILLMARK_EXPORT quillmarkv2 : public QObject
{
    Q_OBJECT

public:
    // Creates the logger on first use; it is released when the library is unloaded.
    static quillmarkv2* get_instance();
    // Hands the logger to deleteLater(); a later get_instance() creates a fresh one.
    static void exit_instance();

    // Opens today's file and installs the message handler; debug messages are kept only
    // when debug is true. Calling it again reopens the current day's file.
    void initialize(bool debug);
    // False until initialize().
    bool is_debug();
    // A caller writing to the file itself holds this lock for writing, as the handler does,
    // flushes what it wrote before letting go, and emits no Qt message meanwhile: the handler
    // would wait for the lock for ever.
    QReadWriteLock* get_lock();
    // The open file, or null (before initialize, after destroy, after a failed open).
    QFile* get_file_object();
    // Chooses and opens the file for the current date.
    void set_file_object();
    // True while the chosen file is the current date's.
    bool check_compare_date();
    // Closes and releases the file; lines of the same day are dropped afterwards.
    void destroy();

private:
    struct line_state;

    quillmarkv2();
    ~quillmarkv2() override;

    static void message_handler(QtMsgType type, const QMessageLogContext& context,
                                const QString& message);
    static void release_at_unload();
    // After the clean-up at exit, on the thread that ran it.
    static void write_at_exit(QtMsgType type, const QMessageLogContext& context,
                              const QString& message);

    bool m_debug = false;
    QReadWriteLock m_lock{QReadWriteLock::NonRecursive};
    QDate m_file_date;
    QFile* m_file_ptr = nullptr;
    // The day file over the two fields above, time stamp cache, codec and their own lock.
    line_state* m_line_ptr = nullptr;

    static quillmarkv2* m_instance_ptr;
};

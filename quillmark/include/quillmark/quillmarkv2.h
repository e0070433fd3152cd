#pragma once

#include <quillmark/quillmark_export.h>

#include <QDate>
#include <QObject>
#include <QReadWriteLock>

class QFile;

// Process-wide logger: after get_instance() and initialize(), every Qt message of the process
// becomes one line of the day's file "<program dir>/logs/<yyyy-MM-dd>_tarnwell.log".
class QUILLMARK_EXPORT quillmarkv2 : public QObject
{
    Q_OBJECT

public:
    static quillmarkv2* get_instance();
    static void exit_instance();

    // Opens today's file and installs the message handler; debug messages are kept only
    // when debug is true.
    void initialize(bool debug);
    bool is_debug();
    // A caller writing to the file itself holds this lock for writing, as the handler does.
    QReadWriteLock* get_lock();
    QFile* get_file_object();
    // Chooses and opens the file for the current date; takes the write lock itself.
    void set_file_object();
    bool check_compare_date();
    // Closes and releases the file; lines of the same day are dropped afterwards.
    void destroy();

private:
    quillmarkv2();
    ~quillmarkv2() override;

    bool m_debug = false;
    QReadWriteLock m_lock{QReadWriteLock::NonRecursive};
    QDate m_file_date;
    QFile* m_file_ptr = nullptr;

    static quillmarkv2* m_instance_ptr;
};

#include <quillmark/quillmarkv2.h>

#include "log_clock.h"
#include "log_lock.h"
#include "log_paths.h"
#include "log_platform.h"
#include "quillmarkv2_state.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <cstdlib>

quillmarkv2* quillmarkv2::m_instance_ptr = nullptr;

quillmarkv2::quillmarkv2() : QObject(nullptr), m_line_ptr(new line_state)
{
    m_line_ptr->line.room(line_reserve);
}

quillmarkv2::~quillmarkv2()
{
    // The file object is owned here; leaving it would keep its descriptor open for good.
    release_file_unlocked();
    delete m_line_ptr;
}

namespace {

// The at-exit list runs backwards, and Qt destroys its global data at exit in the same list:
// whatever the handler needs is set up before our clean-up is registered, so that a line written
// while the process ends still finds it.
void set_up_what_the_handler_needs()
{
    quillmark_detail::stamp_cache stamp;
    stamp.set_time(quillmark_detail::now_ms());
    QTextCodec::codecForLocale();
    QDir(quillmark_detail::log_directory()).exists();
}

} // namespace

quillmarkv2* quillmarkv2::get_instance()
{
    if (!m_instance_ptr) {
        set_up_what_the_handler_needs();
        m_instance_ptr = new quillmarkv2;
        std::atexit(&quillmarkv2::release_at_unload);
    }
    return m_instance_ptr;
}

void quillmarkv2::exit_instance()
{
    if (m_instance_ptr) {
        m_instance_ptr->deleteLater();
        m_instance_ptr = nullptr;
    }
}

bool quillmarkv2::is_debug()
{
    return m_debug;
}

QReadWriteLock* quillmarkv2::get_lock()
{
    return &m_lock;
}

QFile* quillmarkv2::get_file_object()
{
    return m_file_ptr;
}

void quillmarkv2::set_file_object()
{
    const quillmark_detail::held_lock held(m_lock, quillmark_detail::held_lock::mode::write);
    m_line_ptr->stamp.set_time(quillmark_detail::now_ms());
    open_file_unlocked(m_line_ptr->stamp.date());
}

bool quillmarkv2::check_compare_date()
{
    // One local-time conversion; the handler compares against its per-second cache instead.
    const QDate today = QDateTime::fromMSecsSinceEpoch(quillmark_detail::now_ms()).date();
    const quillmark_detail::held_lock held(m_lock, quillmark_detail::held_lock::mode::read);
    return m_file_date == today;
}

void quillmarkv2::destroy()
{
    const quillmark_detail::held_lock held(m_lock, quillmark_detail::held_lock::mode::write);
    release_file_unlocked();
}

void quillmarkv2::open_file_unlocked(const QDate& day)
{
    if (!m_file_ptr)
        m_file_ptr = new QFile;
    const QString directory = quillmark_detail::log_directory();
    QDir dir(directory);
    if (!dir.exists())
        dir.mkdir(directory);
    if (m_file_ptr->isOpen())
        m_file_ptr->close();
    m_file_date = day;
    m_file_ptr->setFileName(quillmark_detail::log_file_path(day));
    if (!quillmark_detail::open_for_append(*m_file_ptr, QIODevice::Append | QIODevice::Text))
        release_file_unlocked();
}

void quillmarkv2::release_file_unlocked()
{
    // Deleted at once rather than later: the object may belong to a thread without an event
    // loop, and every user of the pointer holds the lock we hold.
    if (!m_file_ptr)
        return;
    if (m_file_ptr->isOpen())
        m_file_ptr->close();
    delete m_file_ptr;
    m_file_ptr = nullptr;
}

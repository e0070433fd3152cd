#include <quillmark/quillmarkv2.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QThread>

// First version; the line writer is replaced by a faster one without changing its bytes.

quillmarkv2* quillmarkv2::m_instance_ptr = nullptr;

namespace {

thread_local bool t_in_handler = false;

QString log_directory()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logs");
}

void message_handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (t_in_handler)
        return;
    t_in_handler = true;
    quillmarkv2* log = quillmarkv2::get_instance();
    if (!log->check_compare_date())
        log->set_file_object();
    {
        QWriteLocker locker(log->get_lock());
        QFile* file = log->get_file_object();
        if (file && (type != QtDebugMsg || log->is_debug())) {
            QTextStream out(file);
            out << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"))
                << '\t' << reinterpret_cast<qintptr>(QThread::currentThreadId()) << '\t';
            switch (type) {
            case QtDebugMsg: out << "[DEBUG]\t" << message << '\n'; break;
            case QtInfoMsg: out << "[INFO]\t" << message << '\n'; break;
            case QtWarningMsg:
            case QtCriticalMsg:
            case QtFatalMsg:
                out << (type == QtWarningMsg    ? "[WARNING]\t"
                        : type == QtCriticalMsg ? "[CRITICAL]\t"
                                                : "[FATAL]\t")
                    << context.function << "\t[" << context.line << "]\t" << message << '\n';
                break;
            }
        }
    }
    t_in_handler = false;
}

} // namespace

quillmarkv2::quillmarkv2() = default;
quillmarkv2::~quillmarkv2() = default;

quillmarkv2* quillmarkv2::get_instance()
{
    if (!m_instance_ptr)
        m_instance_ptr = new quillmarkv2;
    return m_instance_ptr;
}

void quillmarkv2::exit_instance()
{
    if (m_instance_ptr) {
        m_instance_ptr->deleteLater();
        m_instance_ptr = nullptr;
    }
}

void quillmarkv2::initialize(bool debug)
{
    m_debug = debug;
    set_file_object();
    qInstallMessageHandler(message_handler);
}

bool quillmarkv2::is_debug() { return m_debug; }
QReadWriteLock* quillmarkv2::get_lock() { return &m_lock; }
QFile* quillmarkv2::get_file_object() { return m_file_ptr; }

bool quillmarkv2::check_compare_date() { return m_file_date == QDate::currentDate(); }

void quillmarkv2::set_file_object()
{
    QWriteLocker locker(&m_lock);
    QDir().mkpath(log_directory());
    if (!m_file_ptr)
        m_file_ptr = new QFile;
    m_file_ptr->close();
    m_file_date = QDate::currentDate();
    m_file_ptr->setFileName(QStringLiteral("%1/%2_tarnwell.log")
                                .arg(log_directory(), m_file_date.toString(QStringLiteral("yyyy-MM-dd"))));
    if (!m_file_ptr->open(QIODevice::Append | QIODevice::Text)) {
        delete m_file_ptr;
        m_file_ptr = nullptr;
    }
}

void quillmarkv2::destroy()
{
    QWriteLocker locker(&m_lock);
    delete m_file_ptr;
    m_file_ptr = nullptr;
}

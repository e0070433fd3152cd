#include "line_sinks.h"

#include <quillmark/quillmark_log.h>
#include <quillmark/quillmarkv2.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#ifdef QUILLMARK_BENCH_SPDLOG
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#endif

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// "yyyy-MM-dd hh:mm:ss:zzz<before><thread><after><message>": before and after are what the
// layout puts around the thread number.
bool stamped_layout(const char* begin, const char* end, const char* before, const char* after)
{
    static const char stamp[] = "dddd-dd-dd dd:dd:dd:ddd";
    const std::size_t stamp_size = sizeof stamp - 1;
    const std::size_t before_size = std::strlen(before);
    if (static_cast<std::size_t>(end - begin) < stamp_size + before_size)
        return false;
    for (std::size_t i = 0; i < stamp_size; ++i) {
        if (stamp[i] == 'd' ? !is_digit(begin[i]) : begin[i] != stamp[i])
            return false;
    }
    if (std::memcmp(begin + stamp_size, before, before_size) != 0)
        return false;
    const char* p = begin + stamp_size + before_size;
    const char* digits = p;
    while (p < end && is_digit(*p))
        ++p;
    const QByteArray tail = QByteArray(after) + BENCH_MESSAGE;
    return p > digits && end - p == tail.size() &&
           std::memcmp(p, tail.constData(), tail.size()) == 0;
}

// The layout of quillmark's handler lines (and of the floor and the comparison logger).
bool handler_layout(const char* begin, const char* end)
{
    return stamped_layout(begin, end, "\t", "\t[INFO]\t");
}

// The day files beside the program, which both the handler and the exports write.
QStringList day_files()
{
    const QDir logs(QCoreApplication::applicationDirPath() + QStringLiteral("/logs"));
    QStringList paths;
    for (const QString& name : logs.entryList({QStringLiteral("*_tarnwell.log")}, QDir::Files))
        paths << logs.filePath(name);
    return paths;
}

// An empty O_APPEND file for the floor's writes.
int open_floor_file(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
}

// The calling thread's line in the handler's layout, formatted once.
QByteArray floor_line()
{
    return QByteArray("2031-05-06 07:08:09:045\t") + QByteArray::number(::gettid()) +
           "\t[INFO]\t" BENCH_MESSAGE "\n";
}

// The floor: a line formatted once, written with one write(2) per line to an O_APPEND file,
// no lock, nothing else.
class floor_sink : public line_sink
{
public:
    QString name() const override { return floor_name; }
    bool open(const QString& work_dir) override
    {
        m_path = work_dir + QStringLiteral("/floor.log");
        m_fd = open_floor_file(m_path);
        m_line = floor_line();
        return m_fd >= 0;
    }
    void write_lines(long count) override
    {
        for (long i = 0; i < count; ++i) {
            if (::write(m_fd, m_line.constData(), static_cast<std::size_t>(m_line.size())) < 0)
                return;
        }
    }
    void close() override { ::close(m_fd); }
    QStringList files() const override { return {m_path}; }

private:
    QString m_path;
    QByteArray m_line;
    int m_fd = -1;
};

// Qt's own qInfo path before any handler, then the floor's write: a handler that wrote a line
// formatted once, looking at nothing. No Qt message handler's lines can cost less than this.
class qt_path_sink : public line_sink
{
public:
    QString name() const override { return qt_path_name; }
    bool open(const QString& work_dir) override
    {
        m_path = work_dir + QStringLiteral("/qt-path.log");
        s_fd = open_floor_file(m_path);
        return s_fd >= 0;
    }
    // The handler is this sink's only while its threads write: the other sinks' turns come
    // between, and quillmark's handler must get its own lines.
    void write_lines(long count) override
    {
        {
            const std::lock_guard<std::mutex> hold(m_install);
            if (m_writers++ == 0)
                m_previous = qInstallMessageHandler(&qt_path_sink::handle);
        }
        for (long i = 0; i < count; ++i)
            qInfo(BENCH_MESSAGE);
        const std::lock_guard<std::mutex> hold(m_install);
        if (--m_writers == 0)
            qInstallMessageHandler(m_previous);
    }
    void close() override { ::close(s_fd); }
    QStringList files() const override { return {m_path}; }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString&)
    {
        thread_local const QByteArray line = floor_line();
        if (::write(s_fd, line.constData(), static_cast<std::size_t>(line.size())) < 0)
            return;
    }

    static inline int s_fd = -1;
    QString m_path;
    std::mutex m_install;
    int m_writers = 0;
    QtMessageHandler m_previous = nullptr;
};

#ifdef QUILLMARK_BENCH_SPDLOG
// The comparison logger: its thread-safe basic file sink, flushed after every line, with the
// same line layout.
class spdlog_sink : public line_sink
{
public:
    QString name() const override { return spdlog_name; }
    bool open(const QString& work_dir) override
    {
        m_path = work_dir + QStringLiteral("/spdlog.log");
        auto file = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
            QFile::encodeName(m_path).toStdString(), true);
        m_logger = std::make_shared<spdlog::logger>("bench", std::move(file));
        m_logger->set_pattern("%Y-%m-%d %H:%M:%S:%e\t%t\t[INFO]\t%v");
        m_logger->flush_on(spdlog::level::trace);
        return true;
    }
    void write_lines(long count) override
    {
        for (long i = 0; i < count; ++i)
            m_logger->info(BENCH_MESSAGE);
    }
    void close() override { m_logger.reset(); }
    QStringList files() const override { return {m_path}; }

private:
    QString m_path;
    std::shared_ptr<spdlog::logger> m_logger;
};
#endif

// quillmark's Qt message handler: qInfo into the day's file beside the program.
class handler_sink : public line_sink
{
public:
    handler_sink() { quillmarkv2::get_instance()->initialize(true); }
    QString name() const override { return handler_name; }
    bool open(const QString&) override
    {
        for (const QString& file : files())
            QFile::remove(file);
        // Not get_file_object(): a host that holds the object makes every line ask it first.
        quillmarkv2::get_instance()->set_file_object();
        return !files().isEmpty();
    }
    void write_lines(long count) override
    {
        for (long i = 0; i < count; ++i)
            qInfo(BENCH_MESSAGE);
    }
    void close() override { quillmarkv2::get_instance()->destroy(); }
    QStringList files() const override { return day_files(); }
};

// The printf-style export INFO. Its logger is made on first use and keeps the day file open
// (O_APPEND) for the rest of the process, so the file is emptied in place between turns, never
// removed: a removed file would take the following lines with it.
class exports_sink : public line_sink
{
public:
    QString name() const override { return exports_name; }
    bool open(const QString&) override
    {
        empty_files();
        // DEBUG is off: this makes the logger, and opens its file, without writing a line.
        DEBUG("bench");
        return !files().isEmpty();
    }
    void write_lines(long count) override
    {
        for (long i = 0; i < count; ++i)
            INFO(BENCH_MESSAGE);
    }
    void close() override {}
    QStringList files() const override { return day_files(); }
    void discard() override { empty_files(); }
    bool line_ok(const char* begin, const char* end) const override
    {
        return stamped_layout(begin, end, "    ", " [INFO] ");
    }

private:
    void empty_files() const
    {
        for (const QString& file : files())
            QFile::resize(file, 0);
    }
};

} // namespace

bool line_sink::line_ok(const char* begin, const char* end) const
{
    return handler_layout(begin, end);
}

void line_sink::discard()
{
    for (const QString& file : files())
        QFile::remove(file);
}

std::vector<std::unique_ptr<line_sink>> make_sinks(sink_set set)
{
    std::vector<std::unique_ptr<line_sink>> sinks;
    sinks.push_back(std::make_unique<floor_sink>());
#ifdef QUILLMARK_BENCH_SPDLOG
    sinks.push_back(std::make_unique<spdlog_sink>());
#endif
    if (set == sink_set::exports)
        sinks.push_back(std::make_unique<exports_sink>());
    else {
        sinks.push_back(std::make_unique<qt_path_sink>());
        sinks.push_back(std::make_unique<handler_sink>());
    }
    return sinks;
}

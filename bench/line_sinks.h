#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The ~40-byte message every sink writes.
#define BENCH_MESSAGE "benchmark line with a forty-byte message"

// One way of putting log lines into a file, driven by the benchmark from one or more threads.
class line_sink
{
public:
    virtual ~line_sink() = default;
    // The column title.
    virtual QString name() const = 0;
    // Starts from an empty file; work_dir is a scratch folder for sinks that choose their file.
    virtual bool open(const QString& work_dir) = 0;
    // Writes count lines; called from each thread at once.
    virtual void write_lines(long count) = 0;
    virtual void close() = 0;
    // The files to check afterwards.
    virtual QStringList files() const = 0;
    // Empties the disk once the files are checked; removes them unless a sink says otherwise.
    virtual void discard();
    // Whether [begin, end) (without its line feed) is one whole line of this sink.
    virtual bool line_ok(const char* begin, const char* end) const;
};

// The columns a process measures. The handler and the exports write the same day file, so they
// never share a process: their lines would mix.
enum class sink_set
{
    handler,
    exports,
};

// In column order: the write(2) floor, the comparison logger when built with it, then quillmark's
// printf-style export INFO, or Qt's own message path with the floor's write (what no handler
// can beat) and quillmark's message handler.
std::vector<std::unique_ptr<line_sink>> make_sinks(sink_set set);

// Column names the goals are stated against.
inline const QString floor_name = QStringLiteral("floor");
inline const QString spdlog_name = QStringLiteral("spdlog");
inline const QString qt_path_name = QStringLiteral("qInfo+write");
inline const QString handler_name = QStringLiteral("handler");
inline const QString exports_name = QStringLiteral("INFO");

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
    // Whether [begin, end) (without its line feed) is one whole line of this sink.
    virtual bool line_ok(const char* begin, const char* end) const;
};

// In column order: the write(2) floor, the comparison logger when built with it, quillmark's
// message handler.
std::vector<std::unique_ptr<line_sink>> make_sinks();

// Column names the goals are stated against.
inline const QString floor_name = QStringLiteral("floor");
inline const QString spdlog_name = QStringLiteral("spdlog");
inline const QString handler_name = QStringLiteral("handler");

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reading the log files the tests leave, the same on every platform.
namespace tnw_test {

// The whole file as it lies on disk; empty when it cannot be read.
QByteArray file_bytes(const QString& path);

// The lines of a log file as UTF-8 text, each without its line end (LF, or CR LF as the Windows
// build writes it); none when the file cannot be read or is empty.
QStringList file_lines(const QString& path);

} // namespace tnw_test

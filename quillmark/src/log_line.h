#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;
class QTextCodec;

namespace quillmark_detail {

class line_buffer;
class stamp_cache;

// Appends the file line of one Qt message: time stamp, TAB, thread, TAB, level tag, for warnings,
// critical and fatal messages the function, TAB, "[line]" and TAB, then the message and a line
// feed. The text is in the bytes codec gives for it (Latin-1 when codec is null); the function
// name is read as Latin-1. Returns false, appending nothing, for a type that is never logged.
bool append_line(line_buffer& out, const stamp_cache& stamp, qint32 thread_id, QtMsgType type,
                 const QMessageLogContext& context, const QString& message, QTextCodec* codec);

} // namespace quillmark_detail

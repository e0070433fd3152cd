#pragma once

#include <QDateTime>
#include <QString>

// Percent-encodes the characters that would frame a new field or end the parameter early
// ("%", "&", "=", "+", "#" and control characters); everything else stays as it is.
QString tnw_parameter_value(const QString& value);

// "userId=..&currentTime=.." with "&reqURI=.." when a request path was given; each value is
// framed by tnw_parameter_value, so the parameter always has two or three fields.
QString tnw_parameter_string(const QString& user_id, const QString& time_stamp,
                             const QString& request_path);

// The address a failed sign-on opens: the server's base address, followed by the request path
// (percent-encoded) when it is a path on that server.
QString tnw_failure_address(const QString& base_address, const QString& request_path);

// The parameter's time stamp of a local time, "yyyy-MM-dd hh:mm:ss" in ASCII digits whatever the
// user's regional settings: the server reads it as such.
QString tnw_time_stamp(const QDateTime& local_time);

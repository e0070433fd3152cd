#pragma once

#include <QByteArray>
#include <QString>

// The text form of the sign-on parameter: Base64 (standard alphabet, "=" filling the last
// group, no line breaks) with every "+" turned into "-" and every "/" into "_". Nothing is
// percent-escaped; the "=" stay.
QString tnw_param_encode(const QByteArray& bytes);

// The reverse, strict: false, leaving bytes alone, for any character outside that alphabet
// ("+", "/", blanks and line breaks included), a length that is not a multiple of 4, "=" other
// than in the last one or two places, or unused bits that are not zero; in short, for any
// text that tnw_param_encode() would not have given.
bool tnw_param_decode(const QString& text, QByteArray& bytes);

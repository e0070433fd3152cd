#pragma once

#include "time_stamp.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// What a sign-on address carried, read back the way the sign-on server reads it.
struct sign_on_reading
{
    QString encoded;  // the param value as it stands in the address
    QByteArray plain; // the decrypted parameter string
    QByteArray user;  // the fields' values as they stand in the parameter (still encoded)
    QByteArray time;
    QByteArray path;
    bool has_path = false;
};

// Reads "<base>/signin/sso?param=<encoded>": checks the Base64 variant (alphabet, padding,
// length 4 * ceil(n / 3)), decrypts, and splits the parameter into exactly two or three
// fields named userId, currentTime and reqURI. Any departure is a test failure.
void read_sign_on_address(const QString& address, const QString& base, sign_on_reading& reading);

// The messages captured so far as "<level>: <text>"; a test failure when any of them carries
// a source file or function, which the agent's lines never do.
QStringList captured_lines();

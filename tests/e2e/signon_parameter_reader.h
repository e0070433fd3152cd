#pragma once

#include <QString>
#include <QStringList>

// Reads a sign-on parameter as the server does, with tools of its own rather than the agent's
// code: the Base64 variant turned back ("-" to "+", "_" to "/"), then decrypted by the openssl
// command with AES-128-CBC and the built-in key, which is also the IV. Gives the "&"-separated
// fields of the plain text, or false with a reason.
bool read_signon_parameter(const QString& encoded, QStringList& fields, QString& error);

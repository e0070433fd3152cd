#pragma once

#include <QSslCertificate>
#include <QSslKey>

struct self_signed_identity
{
    QSslCertificate certificate = QSslCertificate();
    QSslKey key = QSslKey();
};

// A fresh P-256 key and a one-day certificate for "localhost"/127.0.0.1, made in memory at each
// start so that no private key is ever shipped. Null members when OpenSSL fails.
self_signed_identity make_self_signed_identity();

#pragma once

#include <QSslCertificate>
#include <QSslKey>

struct server_identity
{
    // What a client trusts: a certificate authority that signs nothing but the one below.
    QSslCertificate authority = QSslCertificate();
    // The server's own, for "localhost", 127.0.0.1 and ::1, signed by the authority.
    QSslCertificate certificate = QSslCertificate();
    QSslKey key = QSslKey();
};

// Fresh P-256 keys and one-day certificates, made in memory at each start so that no private
// key is ever shipped. Each start has serial numbers of its own: a browser that trusted an
// earlier start refuses a new certificate with the same issuer and serial. The authority's key
// is dropped once it has signed. Null members when OpenSSL fails.
server_identity make_server_identity();

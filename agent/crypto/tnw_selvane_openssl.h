#pragma once

#include <QObject>
#include <QString>

// Encrypts the sign-on parameter string for the sign-on server (see param_cipher.h for the
// cipher). The ciphertext is raw bytes in the caller's area: no header, no IV, no terminator.
class tnw_selvane_openssl : public QObject
{
    Q_OBJECT

public:
    // The ciphertext area the sign-on flow lends to the three-argument encrypt().
    static constexpr int area_size = 8192;

    explicit tnw_selvane_openssl(QObject* parent = nullptr);
    ~tnw_selvane_openssl() override;

    // Encrypts input up to its first NUL byte into output, which holds area_size bytes.
    // length is accepted and not used. Returns the number of bytes written: the input's byte
    // count rounded up to whole 16-byte blocks, one block more when it already is whole; -1,
    // writing nothing, when that would not fit (an input of area_size bytes or more), and -1
    // when the crypto library fails.
    int encrypt(const char* input, int length, unsigned char* output);
    // The same into an area of capacity bytes; size it with tnw_param_cipher::ciphertext_size.
    int encrypt(const char* input, int length, unsigned char* output, int capacity);

private:
    QString m_reserved;
};

#include "tnw_selvane_openssl.h"

#include "param_cipher.h"

#include <cstring>
#include <limits>

tnw_selvane_openssl::tnw_selvane_openssl(QObject* parent) : QObject(parent) {}

tnw_selvane_openssl::~tnw_selvane_openssl() = default;

int tnw_selvane_openssl::encrypt(const char* input, int length, unsigned char* output)
{
    return encrypt(input, length, output, area_size);
}

int tnw_selvane_openssl::encrypt(const char* input, int length, unsigned char* output, int capacity)
{
    Q_UNUSED(length)
    if (!input)
        return -1;
    // The byte count, not the character count the caller knows: UTF-8 text is longer.
    const size_t bytes = std::strlen(input);
    if (bytes > size_t(std::numeric_limits<int>::max()))
        return -1;
    return tnw_param_cipher::encrypt(reinterpret_cast<const unsigned char*>(input), int(bytes),
                                     output, capacity);
}

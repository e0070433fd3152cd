#include "param_cipher.h"

#include <openssl/evp.h>

#include <limits>
#include <memory>

namespace tnw_param_cipher {

namespace {

const unsigned char* key()
{
    static const char text[] = "7qwirl.zenbo.kat";
    static_assert(sizeof text - 1 == block_size, "the key is one block");
    return reinterpret_cast<const unsigned char*>(text);
}

step_filter active_filter = nullptr;

int seen(step at, int result)
{
    return active_filter ? active_filter(at, result) : result;
}

struct context_free
{
    void operator()(EVP_CIPHER_CTX* ctx) const
    {
        EVP_CIPHER_CTX_free(ctx);
        seen(step::release, 1);
    }
};
using context = std::unique_ptr<EVP_CIPHER_CTX, context_free>;

// One direction of the cipher: the crypto library's init, update and final calls for it.
struct direction
{
    int (*init)(EVP_CIPHER_CTX*, const EVP_CIPHER*, ENGINE*, const unsigned char*,
                const unsigned char*);
    int (*update)(EVP_CIPHER_CTX*, unsigned char*, int*, const unsigned char*, int);
    int (*final)(EVP_CIPHER_CTX*, unsigned char*, int*);
};
const direction encrypting{EVP_EncryptInit_ex, EVP_EncryptUpdate, EVP_EncryptFinal_ex};
const direction decrypting{EVP_DecryptInit_ex, EVP_DecryptUpdate, EVP_DecryptFinal_ex};

// AES-128-CBC with the key, which is also the IV, over length bytes of input in one go: the
// number of bytes written to output, or -1. The final block lands directly behind the bytes of
// the update.
int run(const direction& way, const unsigned char* input, int length, unsigned char* output)
{
    const context ctx(EVP_CIPHER_CTX_new());
    if (seen(step::context, ctx != nullptr) != 1)
        return -1;
    const EVP_CIPHER* cipher = EVP_aes_128_cbc();
    if (seen(step::cipher, cipher != nullptr) != 1)
        return -1;
    if (seen(step::init, way.init(ctx.get(), cipher, nullptr, key(), key())) != 1)
        return -1;
    int written = 0;
    if (seen(step::update, way.update(ctx.get(), output, &written, input, length)) != 1)
        return -1;
    const int total = written;
    written = 0;
    if (seen(step::final, way.final(ctx.get(), output + total, &written)) != 1)
        return -1;
    return total + seen(step::final_length, written);
}

} // namespace

int ciphertext_size(int length)
{
    if (length < 0 || length > std::numeric_limits<int>::max() - block_size)
        return -1;
    return (length / block_size + 1) * block_size;
}

int encrypt(const unsigned char* input, int length, unsigned char* output, int capacity)
{
    const int needed = ciphertext_size(length);
    if (needed < 0 || needed > capacity || !output || (!input && length > 0))
        return -1;
    const int total = run(encrypting, input, length, output);
    return total == needed ? total : -1;
}

bool encrypt(const QByteArray& plain, QByteArray& cipher)
{
    QByteArray out(ciphertext_size(plain.size()), Qt::Uninitialized);
    const int written =
        encrypt(reinterpret_cast<const unsigned char*>(plain.constData()), plain.size(),
                reinterpret_cast<unsigned char*>(out.data()), out.size());
    if (written < 0)
        return false;
    cipher = out;
    return true;
}

bool decrypt(const QByteArray& cipher, QByteArray& plain)
{
    if (cipher.isEmpty() || cipher.size() % block_size != 0)
        return false;
    // The library asks for room of one block more than the input while it works.
    QByteArray out(cipher.size() + block_size, Qt::Uninitialized);
    const int written = run(decrypting, reinterpret_cast<const unsigned char*>(cipher.constData()),
                            cipher.size(), reinterpret_cast<unsigned char*>(out.data()));
    if (written < 0)
        return false;
    out.truncate(written);
    plain = out;
    return true;
}

void set_step_filter(step_filter filter)
{
    active_filter = filter;
}

} // namespace tnw_param_cipher

#include "param_cipher.h"

#include "evp_ops.h"

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

struct context_free
{
    void operator()(EVP_CIPHER_CTX* ctx) const { tnw_evp_active_ops().ctx_free(ctx); }
};
using context = std::unique_ptr<EVP_CIPHER_CTX, context_free>;

int decrypt_raw(const unsigned char* input, int length, unsigned char* output)
{
    const tnw_evp_ops& evp = tnw_evp_active_ops();
    const context ctx(evp.ctx_new());
    const EVP_CIPHER* cipher = ctx ? evp.cipher() : nullptr;
    if (!cipher || evp.decrypt_init(ctx.get(), cipher, nullptr, key(), key()) != 1)
        return -1;
    int written = 0;
    if (evp.decrypt_update(ctx.get(), output, &written, input, length) != 1)
        return -1;
    int total = written;
    written = 0;
    if (evp.decrypt_final(ctx.get(), output + total, &written) != 1)
        return -1;
    return total + written;
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
    const tnw_evp_ops& evp = tnw_evp_active_ops();
    const context ctx(evp.ctx_new());
    const EVP_CIPHER* cipher = ctx ? evp.cipher() : nullptr;
    if (!cipher || evp.encrypt_init(ctx.get(), cipher, nullptr, key(), key()) != 1)
        return -1;
    int written = 0;
    if (evp.encrypt_update(ctx.get(), output, &written, input, length) != 1)
        return -1;
    int total = written;
    written = 0;
    // The final block lands directly behind the bytes of the update.
    if (evp.encrypt_final(ctx.get(), output + total, &written) != 1)
        return -1;
    total += written;
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
    const int written = decrypt_raw(reinterpret_cast<const unsigned char*>(cipher.constData()),
                                    cipher.size(), reinterpret_cast<unsigned char*>(out.data()));
    if (written < 0)
        return false;
    out.truncate(written);
    plain = out;
    return true;
}

} // namespace tnw_param_cipher

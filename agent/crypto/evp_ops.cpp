#include "evp_ops.h"

namespace {

const tnw_evp_ops library_ops = {
    EVP_CIPHER_CTX_new, EVP_CIPHER_CTX_free, EVP_aes_128_cbc,
    EVP_EncryptInit_ex, EVP_EncryptUpdate,   EVP_EncryptFinal_ex,
    EVP_DecryptInit_ex, EVP_DecryptUpdate,   EVP_DecryptFinal_ex,
};

const tnw_evp_ops* active_ops = &library_ops;

} // namespace

const tnw_evp_ops& tnw_evp_library_ops()
{
    return library_ops;
}

const tnw_evp_ops& tnw_evp_active_ops()
{
    return *active_ops;
}

void tnw_evp_replace_ops(const tnw_evp_ops* ops)
{
    active_ops = ops ? ops : &library_ops;
}

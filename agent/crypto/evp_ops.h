#pragma once

#include <openssl/evp.h>

// The crypto library's symmetric-cipher calls that the parameter cipher makes. Tests put in a
// table of their own to make one call fail; everything else uses the library's.
struct tnw_evp_ops
{
    EVP_CIPHER_CTX* (*ctx_new)();
    void (*ctx_free)(EVP_CIPHER_CTX* ctx);
    const EVP_CIPHER* (*cipher)();
    int (*encrypt_init)(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, ENGINE* engine,
                        const unsigned char* key, const unsigned char* iv);
    int (*encrypt_update)(EVP_CIPHER_CTX* ctx, unsigned char* out, int* out_length,
                          const unsigned char* in, int in_length);
    int (*encrypt_final)(EVP_CIPHER_CTX* ctx, unsigned char* out, int* out_length);
    int (*decrypt_init)(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, ENGINE* engine,
                        const unsigned char* key, const unsigned char* iv);
    int (*decrypt_update)(EVP_CIPHER_CTX* ctx, unsigned char* out, int* out_length,
                          const unsigned char* in, int in_length);
    int (*decrypt_final)(EVP_CIPHER_CTX* ctx, unsigned char* out, int* out_length);
};

// The crypto library's own calls; the cipher is AES-128 in CBC mode.
const tnw_evp_ops& tnw_evp_library_ops();
// The table in use.
const tnw_evp_ops& tnw_evp_active_ops();
// For tests: ops must outlive its use; nullptr returns to the library's calls.
void tnw_evp_replace_ops(const tnw_evp_ops* ops);

#include "self_signed.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

template <typename T, void (*free_fn)(T*)> struct ossl_deleter
{
    void operator()(T* p) const { free_fn(p); }
};
using pkey_ptr = std::unique_ptr<EVP_PKEY, ossl_deleter<EVP_PKEY, EVP_PKEY_free>>;
using x509_ptr = std::unique_ptr<X509, ossl_deleter<X509, X509_free>>;
using bio_ptr = std::unique_ptr<BIO, ossl_deleter<BIO, BIO_free_all>>;

QByteArray bio_bytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(size));
}

bool add_extension(X509* cert, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

bool fill_certificate(X509* cert, EVP_PKEY* key)
{
    X509_NAME* name = X509_get_subject_name(cert);
    const auto* common_name = reinterpret_cast<const unsigned char*>("localhost");
    return X509_set_version(cert, 2) == 1 &&
           ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) == 1 &&
           X509_gmtime_adj(X509_getm_notBefore(cert), -60) != nullptr &&
           X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600) != nullptr &&
           X509_set_pubkey(cert, key) == 1 &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, common_name, -1, -1, 0) == 1 &&
           X509_set_issuer_name(cert, name) == 1 &&
           add_extension(cert, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1") &&
           X509_sign(cert, key, EVP_sha256()) > 0;
}

} // namespace

self_signed_identity make_self_signed_identity()
{
    const pkey_ptr key(EVP_EC_gen("P-256"));
    const x509_ptr cert(X509_new());
    if (!key || !cert || !fill_certificate(cert.get(), key.get()))
        return self_signed_identity{};

    const bio_ptr cert_pem(BIO_new(BIO_s_mem()));
    const bio_ptr key_pem(BIO_new(BIO_s_mem()));
    if (!cert_pem || !key_pem || PEM_write_bio_X509(cert_pem.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(key_pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1)
        return self_signed_identity{};
    return {QSslCertificate(bio_bytes(cert_pem.get()), QSsl::Pem),
            QSslKey(bio_bytes(key_pem.get()), QSsl::Ec, QSsl::Pem)};
}

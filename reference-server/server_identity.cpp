#include "server_identity.h"

#include <openssl/bn.h>
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
using bn_ptr = std::unique_ptr<BIGNUM, ossl_deleter<BIGNUM, BN_free>>;

QByteArray bio_bytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(size));
}

bool add_extension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// 127 random bits: positive, and never longer than the 20 bytes a serial may have.
bool set_random_serial(X509* cert)
{
    const bn_ptr serial(BN_new());
    return serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) != nullptr;
}

bool set_name(X509* cert, const char* common_name)
{
    return X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(common_name), -1, -1,
                                      0) == 1;
}

bool fill_common(X509* cert, EVP_PKEY* key, const char* common_name)
{
    return X509_set_version(cert, 2) == 1 && set_random_serial(cert) &&
           X509_gmtime_adj(X509_getm_notBefore(cert), -60) != nullptr &&
           X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600) != nullptr &&
           X509_set_pubkey(cert, key) == 1 && set_name(cert, common_name);
}

bool fill_authority(X509* cert, EVP_PKEY* key)
{
    return fill_common(cert, key, "Tarnwell reference server authority") &&
           X509_set_issuer_name(cert, X509_get_subject_name(cert)) == 1 &&
           add_extension(cert, cert, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
           add_extension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign") &&
           add_extension(cert, cert, NID_subject_key_identifier, "hash") &&
           X509_sign(cert, key, EVP_sha256()) > 0;
}

bool fill_server(X509* cert, EVP_PKEY* key, X509* authority, EVP_PKEY* authority_key)
{
    return fill_common(cert, key, "localhost") &&
           X509_set_issuer_name(cert, X509_get_subject_name(authority)) == 1 &&
           add_extension(cert, authority, NID_basic_constraints, "critical,CA:FALSE") &&
           add_extension(cert, authority, NID_key_usage, "critical,digitalSignature") &&
           add_extension(cert, authority, NID_ext_key_usage, "serverAuth") &&
           add_extension(cert, authority, NID_authority_key_identifier, "keyid:always") &&
           add_extension(cert, authority, NID_subject_alt_name,
                         "DNS:localhost,IP:127.0.0.1,IP:::1") &&
           X509_sign(cert, authority_key, EVP_sha256()) > 0;
}

QSslCertificate to_qt(X509* cert)
{
    const bio_ptr pem(BIO_new(BIO_s_mem()));
    if (!pem || PEM_write_bio_X509(pem.get(), cert) != 1)
        return QSslCertificate();
    return QSslCertificate(bio_bytes(pem.get()), QSsl::Pem);
}

} // namespace

server_identity make_server_identity()
{
    const pkey_ptr authority_key(EVP_EC_gen("P-256"));
    const pkey_ptr key(EVP_EC_gen("P-256"));
    const x509_ptr authority(X509_new());
    const x509_ptr cert(X509_new());
    if (!authority_key || !key || !authority || !cert ||
        !fill_authority(authority.get(), authority_key.get()) ||
        !fill_server(cert.get(), key.get(), authority.get(), authority_key.get()))
        return server_identity{};

    const bio_ptr key_pem(BIO_new(BIO_s_mem()));
    if (!key_pem || PEM_write_bio_PrivateKey(key_pem.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                             nullptr) != 1)
        return server_identity{};
    return {to_qt(authority.get()), to_qt(cert.get()),
            QSslKey(bio_bytes(key_pem.get()), QSsl::Ec, QSsl::Pem)};
}

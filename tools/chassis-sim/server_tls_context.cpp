#include "server_tls_context.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace chassis_sim {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

bool fail(std::string* error, const std::string& what) {
    if (error != nullptr) {
        char reason[256] = {};
        ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
        *error = "TLS set-up failed: " + what + " (" + reason + ")";
    }
    ERR_clear_error();
    return false;
}

std::unique_ptr<X509, CertFree> makeCertificate(EVP_PKEY* key) {
    std::unique_ptr<X509, CertFree> cert(X509_new());
    if (!cert) {
        return nullptr;
    }
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        return nullptr;
    }
    serial[0] &= 0x7F;  // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet =
        number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    if (!serialSet) {
        return nullptr;
    }
    constexpr long kTenYears = 10L * 365 * 24 * 3600;
    X509_NAME* name = X509_get_subject_name(cert.get());
    const bool ok =
        X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), kTenYears) != nullptr &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("chassis-sim"), -1, -1,
                                   0) == 1 &&
        X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key) == 1 &&
        X509_sign(cert.get(), key, EVP_sha256()) > 0;
    return ok ? std::move(cert) : nullptr;
}

}  // namespace

ServerTlsContext::~ServerTlsContext() {
    if (_ctx != nullptr) {
        SSL_CTX_free(_ctx);
    }
}

bool ServerTlsContext::create(std::string* error) {
    if (_ctx != nullptr) {
        return true;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    if (!key) {
        return fail(error, "EC P-256 key generation");
    }
    auto cert = makeCertificate(key.get());
    if (!cert) {
        return fail(error, "self-signed certificate");
    }
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        return fail(error, "server context");
    }
    if (SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1) {
        return fail(error, "installing the certificate");
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    // Every link is new; session tickets would only be extra records after the handshake.
    SSL_CTX_set_num_tickets(ctx.get(), 0);
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_TICKET);
    // Non-blocking writes: a write may finish part of the buffer, and a retry may come from a
    // buffer that grew or moved meanwhile.
    SSL_CTX_set_mode(ctx.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    _ctx = ctx.release();
    return true;
}

}  // namespace chassis_sim

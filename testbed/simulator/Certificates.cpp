#include "Certificates.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace marl::sim {

namespace {

constexpr long kDay = 24L * 60 * 60;

struct CertTemplate {
    const char* commonName;
    const char* altNames;
    long notBefore;  // seconds from now
    long notAfter;
};

constexpr CertTemplate kTemplates[3] = {
    {"localhost", "DNS:localhost,IP:127.0.0.1", -kDay, 365 * kDay},
    {"localhost", "DNS:localhost,IP:127.0.0.1", -30 * kDay, -kDay},
    {"nxa.wrong-host.invalid", "DNS:nxa.wrong-host.invalid", -kDay, 365 * kDay},
};

bool AddAltNames(X509* cert, const char* names) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, names);
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

X509* MakeCertificate(EVP_PKEY* key, const CertTemplate& tmpl) {
    X509* cert = X509_new();
    if (!cert) return nullptr;
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) != nullptr;
    BN_free(bn);
    X509_set_version(cert, 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), tmpl.notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert), tmpl.notAfter);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("NXA array simulator"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(tmpl.commonName), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    ok = ok && X509_set_pubkey(cert, key) == 1 && AddAltNames(cert, tmpl.altNames) &&
         X509_sign(cert, key, EVP_sha256()) > 0;
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

const char* TlsModeName(TlsMode mode) {
    switch (mode) {
        case TlsMode::Expired:
            return "expired";
        case TlsMode::WrongHost:
            return "wrong_host";
        default:
            return "valid";
    }
}

bool TlsModeFromName(const std::string& name, TlsMode& mode) {
    for (TlsMode m : {TlsMode::Valid, TlsMode::Expired, TlsMode::WrongHost}) {
        if (name == TlsModeName(m)) {
            mode = m;
            return true;
        }
    }
    return false;
}

CertificateStore::~CertificateStore() {
    for (X509* cert : m_certs) X509_free(cert);
    X509_free(m_fileCert);
    EVP_PKEY_free(m_key);
    EVP_PKEY_free(m_fileKey);
}

bool CertificateStore::Generate(std::string& error) {
    m_key = EVP_RSA_gen(2048);
    if (!m_key) {
        error = "could not generate an RSA key";
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        m_certs[i] = MakeCertificate(m_key, kTemplates[i]);
        if (!m_certs[i]) {
            error = "could not make a certificate";
            return false;
        }
    }
    return true;
}

bool CertificateStore::LoadFiles(const std::string& certFile, const std::string& keyFile,
                                 std::string& error) {
    FILE* f = std::fopen(certFile.c_str(), "r");
    if (f) {
        m_fileCert = PEM_read_X509(f, nullptr, nullptr, nullptr);
        std::fclose(f);
    }
    f = std::fopen(keyFile.c_str(), "r");
    if (f) {
        m_fileKey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
        std::fclose(f);
    }
    if (!m_fileCert || !m_fileKey || X509_check_private_key(m_fileCert, m_fileKey) != 1) {
        error =
            "could not read a matching certificate and key from " + certFile + " and " + keyFile;
        return false;
    }
    return true;
}

int CertificateStore::SelectCertificate(SSL* ssl, void* self) {
    auto* store = static_cast<CertificateStore*>(self);
    int mode = store->m_mode.load();
    bool fromFiles = mode == 0 && store->m_fileCert;
    X509* cert = fromFiles ? store->m_fileCert : store->m_certs[mode];
    EVP_PKEY* key = fromFiles ? store->m_fileKey : store->m_key;
    return SSL_use_certificate(ssl, cert) == 1 && SSL_use_PrivateKey(ssl, key) == 1 ? 1 : 0;
}

bool CertificateStore::ConfigureContext(SSL_CTX& ctx) {
    X509* cert = m_fileCert ? m_fileCert : m_certs[0];
    EVP_PKEY* key = m_fileCert ? m_fileKey : m_key;
    if (SSL_CTX_use_certificate(&ctx, cert) != 1 || SSL_CTX_use_PrivateKey(&ctx, key) != 1) {
        return false;
    }
    SSL_CTX_set_cert_cb(&ctx, &CertificateStore::SelectCertificate, this);
    return true;
}

std::string CertificateStore::CertificatePem(TlsMode mode) const {
    int index = static_cast<int>(mode);
    X509* cert = index == 0 && m_fileCert ? m_fileCert : m_certs[index];
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(size));
    BIO_free(bio);
    return pem;
}

}  // namespace marl::sim

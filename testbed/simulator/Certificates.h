// Server certificates for the HTTPS port. Three are made at start-up from one
// RSA key: a valid self-signed one for "localhost" and 127.0.0.1, an expired
// one for the same names, and a valid one for another host name. The one
// served is chosen per connection by the current mode, so a test can switch
// modes without restarting. The valid one may be replaced by files.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <string>

namespace marl::sim {

enum class TlsMode { Valid = 0, Expired = 1, WrongHost = 2 };

const char* TlsModeName(TlsMode mode);
bool TlsModeFromName(const std::string& name, TlsMode& mode);

class CertificateStore {
  public:
    CertificateStore() = default;
    ~CertificateStore();
    CertificateStore(const CertificateStore&) = delete;
    CertificateStore& operator=(const CertificateStore&) = delete;

    bool Generate(std::string& error);
    // PEM certificate and key files to serve in the valid mode.
    bool LoadFiles(const std::string& certFile, const std::string& keyFile, std::string& error);

    void SetMode(TlsMode mode) { m_mode = static_cast<int>(mode); }
    TlsMode Mode() const { return static_cast<TlsMode>(m_mode.load()); }

    // Installs the certificates into a server context; the context must not
    // outlive this store.
    bool ConfigureContext(SSL_CTX& ctx);
    std::string CertificatePem(TlsMode mode) const;

  private:
    static int SelectCertificate(SSL* ssl, void* self);

    EVP_PKEY* m_key = nullptr;
    EVP_PKEY* m_fileKey = nullptr;
    X509* m_certs[3] = {nullptr, nullptr, nullptr};
    X509* m_fileCert = nullptr;
    std::atomic<int> m_mode{0};
};

}  // namespace marl::sim

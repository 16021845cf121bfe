// The HTTPS port's certificates, checked by a verifying client that trusts
// the simulator's own certificate: valid, expired, and for another host.
#include <gmock/gmock.h>
#include <httplib.h>

#include <cstdio>
#include <fstream>

#include "SimTestSupport.h"
#include "testing/SimulatorControl.h"

namespace marl::sim::test {
namespace {

class Tls : public SimulatorCase {
  protected:
    // Whether a client that verifies certificate chain and host name against
    // the certificate of `trusted` mode accepts the server's certificate.
    bool VerifyingClientAccepts(const std::string& host, const std::string& trusted) {
        std::string pem = SimulatorControl(Sim().Ports()).CertificatePem(trusted);
        std::string path = testing::TempDir() + "/sim_ca_" + trusted + ".pem";
        std::ofstream(path) << pem;
        httplib::SSLClient client(host, Sim().Ports().https);
        client.set_ca_cert_path(path.c_str());
        client.enable_server_certificate_verification(true);
        client.set_connection_timeout(10);
        auto res = client.Get("/logout/");
        std::remove(path.c_str());
        return res && res->status == 200;
    }
};

TEST_F(Tls, ModesServeTheirCertificate) {
    struct Case {
        const char* mode;
        const char* host;
        bool accepted;
    } cases[] = {
        {"valid", "localhost", true},
        {"expired", "localhost", false},
        {"wrong_host", "localhost", false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SimulatorControl(Sim().Ports()).SetTlsMode(c.mode));
        EXPECT_EQ(VerifyingClientAccepts(c.host, c.mode), c.accepted) << c.mode;
    }
}

TEST_F(Tls, UnverifiedClientsConnectInEveryMode) {
    for (const char* mode : {"valid", "expired", "wrong_host"}) {
        ASSERT_TRUE(SimulatorControl(Sim().Ports()).SetTlsMode(mode));
        EXPECT_EQ(Exchange(Sim().Ports().https, true, "vol_show").Key(), "MC_OK") << mode;
    }
}

TEST_F(Tls, CertificateFilesReplaceTheValidCertificate) {
    std::string pem = SimulatorControl(Sim().Ports()).CertificatePem("wrong_host");
    EXPECT_THAT(pem, ::testing::HasSubstr("BEGIN CERTIFICATE"));
    CertificateStore store;
    std::string error;
    EXPECT_FALSE(store.LoadFiles("/nonexistent/cert.pem", "/nonexistent/key.pem", error));
    EXPECT_THAT(error, ::testing::HasSubstr("could not read"));
}

}  // namespace
}  // namespace marl::sim::test

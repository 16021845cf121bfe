// The certificate cases of the HTTPS sender against the simulator, in a
// program of their own: the TLS session cache is shared by a whole process,
// and a session resumed from an earlier exchange involves no certificate, so
// these cases must come before any other exchange, the refused one first.
#include "tests/integration_transport_fixture.h"

using marl::testing::Times;
using marl::testing::TransportLogCapture;
using marl::testing::TransportTest;

namespace {

std::vector<std::string> ErrorsOf(const TransportLogCapture& log) {
    std::vector<std::string> errors;
    for (const auto& l : log.Lines()) {
        if (l.level == "ERROR") errors.push_back(l.message);
    }
    return errors;
}

// What one attempt logs when the handshake fails its certificate checks.
// WinHTTP on Windows reports the date failure (0x20) to the status callback
// and ERROR_WINHTTP_SECURE_FAILURE; Wine's WinHTTP ends the handshake with
// ERROR_WINHTTP_SECURE_CHANNEL_ERROR and no notification.
bool IsRefusedHandshake(const std::vector<std::string>& errors) {
#ifdef _WIN32
    const std::vector<std::vector<std::string>> forms = {
        Times(5,
              {"winHttpStatusCallback test: 0x20", "SendRequest: Error ('12175') has occurred."}),
        Times(5, {"SendRequest: Error ('12157') has occurred."})};
#else
    const std::vector<std::vector<std::string>> forms = {Times(
        5, {"winHttpStatusCallback test: 0x20", "SendRequest: Error ('12175') has occurred."})};
#endif
    for (const auto& form : forms) {
        if (errors == form) return true;
    }
    return false;
}

class TlsTest : public TransportTest {};

TEST_F(TlsTest, UnknownAuthorityAndHostNameAreForgivenAnExpiredCertificateIsNot) {
    struct Row {
        const char* mode;
        uint32_t result;
    };
    const Row rows[] = {{"expired", E_ARRAY_SESSION}, {"wrong_host", 0}, {"valid", 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        ASSERT_TRUE(Sim().Reset());
        ASSERT_TRUE(Sim().SetTlsMode(r.mode));
        TransportLogCapture log;
        EXPECT_EQ(Exchange(true), r.result);
        if (r.result == 0) {
            EXPECT_EQ(Commands(), (std::vector<std::string>{"login", "vol_show", "logout"}));
            EXPECT_TRUE(ErrorsOf(log).empty());
        } else {
            EXPECT_TRUE(Sim().Journal().empty());
            std::vector<std::string> errors = ErrorsOf(log);
            EXPECT_TRUE(IsRefusedHandshake(errors)) << ::testing::PrintToString(errors);
        }
    }
    ASSERT_TRUE(Sim().SetTlsMode("valid"));
}

}  // namespace

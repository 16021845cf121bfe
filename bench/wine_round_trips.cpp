// wine_round_trips: round trips per array exchange of the Windows build
// (WinHTTP), the figure latency_bench gives for the native build. Run under
// Wine by bench/run_windows, which puts a native simulator and the loopback
// latency relay in front of it:
//
//   wine_round_trips.exe --relay-port P --round-trip-ms 20 --tls-port S
//
// Each repetition runs SendArrayRequest (login, vol_show, logout over HTTPS)
// --exchanges times through the relay on P; wall time per exchange divided by
// the round trip is the figure. The protocol cannot do with fewer than the
// TCP connect, the TLS handshake (one round trip with TLS 1.3, two with TLS
// 1.2), the login and the command: the logout is sent and its reply not
// awaited. Goal: at most that floor, for the TLS version WinHTTP negotiates,
// plus 0.2.
//
// The version is asked of WinHTTP on one request straight to the simulator
// (port S), which also loads WinHTTP and the secure channel before the clock
// runs and keeps that connection out of the relay's count. A WinHTTP that
// cannot tell the version is judged against the TLS 1.2 floor, the higher
// one, and the line says so.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Figures.h"
#include "RedirectingHttpClient.h"
#include "SimulatorSettings.h"
#include "provider/array/ArrayTransport.h"
#include "provider/array/ResponseEnvelope.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kFloorSlack = 0.2;
// WinHTTP's WINHTTP_OPTION_SECURITY_INFO (newer than mingw-w64's headers):
// the connection's SecPkgContext_ConnectionInfo comes first, and its first
// member is the protocol (SP_PROT_* bits).
constexpr DWORD kOptionSecurityInfo = 151;
constexpr DWORD kProtocolTls12Client = 0x00000800;
constexpr DWORD kProtocolTls13Client = 0x00002000;

struct Options {
    uint16_t relayPort = 0;
    uint16_t tlsPort = 0;
    int roundTripMs = 20;
    int exchanges = 20;
    int repetitions = 3;
};

bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && value >= low && value <= high;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        long value = 0;
        if (!ParseNumber(argv[i + 1], 1, 65535, value)) return false;
        std::string name = argv[i];
        if (name == "--relay-port")
            o.relayPort = static_cast<uint16_t>(value);
        else if (name == "--tls-port")
            o.tlsPort = static_cast<uint16_t>(value);
        else if (name == "--round-trip-ms")
            o.roundTripMs = static_cast<int>(value);
        else if (name == "--exchanges")
            o.exchanges = static_cast<int>(value);
        else if (name == "--repetitions")
            o.repetitions = static_cast<int>(value);
        else
            return false;
    }
    return argc % 2 == 1 && o.relayPort != 0 && o.tlsPort != 0;
}

// "TLSv1.3", "TLSv1.2", another name, or "" when WinHTTP cannot tell.
std::string ProtocolName(DWORD protocol) {
    if (protocol & kProtocolTls13Client) return "TLSv1.3";
    if (protocol & kProtocolTls12Client) return "TLSv1.2";
    char text[32];
    std::snprintf(text, sizeof text, "protocol 0x%lx", static_cast<unsigned long>(protocol));
    return text;
}

// The TLS version of one WinHTTP request to 127.0.0.1:port ("" if unknown).
std::string NegotiatedTlsVersion(uint16_t port) {
    std::string version;
    HINTERNET session = ::WinHttpOpen(L"wine_round_trips", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? ::WinHttpConnect(session, L"127.0.0.1", port, 0) : nullptr;
    HINTERNET request =
        connection
            ? ::WinHttpOpenRequest(connection, L"GET", L"/logout/", nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
            : nullptr;
    DWORD relax = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    if (request &&
        ::WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &relax, sizeof relax) &&
        ::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                             0, 0) &&
        ::WinHttpReceiveResponse(request, nullptr)) {
        DWORD info[64] = {};
        DWORD size = sizeof info;
        if (::WinHttpQueryOption(request, kOptionSecurityInfo, info, &size) &&
            size >= sizeof(DWORD)) {
            version = ProtocolName(info[0]);
        } else {
            std::printf("  (WinHTTP did not tell the TLS version: error %lu)\n",
                        static_cast<unsigned long>(::GetLastError()));
        }
    }
    for (HINTERNET handle : {request, connection, session})
        if (handle) ::WinHttpCloseHandle(handle);
    return version;
}

// Round trips the protocol cannot do without over HTTPS: connect, the
// handshake's, login and command. An unknown version gets TLS 1.2's.
double FloorRoundTrips(const std::string& tlsVersion) { return tlsVersion == "TLSv1.3" ? 4 : 5; }

// One repetition: round trips per exchange, or a negative value when an
// exchange failed.
double MeasureOnce(marl::array::ArrayTransport& transport, const Options& o) {
    std::string reply;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < o.exchanges; ++i) {
        if (transport.SendArrayRequest(L"vol_show", L"", reply) != 0) return -1;
    }
    double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return millis / o.exchanges / o.roundTripMs;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: wine_round_trips --relay-port P --tls-port S [--round-trip-ms 20] "
                     "[--exchanges 20] [--repetitions 3]\n");
        return 2;
    }
    std::string tls = NegotiatedTlsVersion(o.tlsPort);
    const ProviderSettings settings = marl::bench::SimulatorSettings();
    marl::array::ArrayTransport transport(settings,
                                          marl::harness::RedirectingFactory({o.relayPort, 0}),
                                          marl::array::CheckLoginReply);
    std::vector<double> figures;
    for (int r = 0; r < o.repetitions; ++r) {
        double figure = MeasureOnce(transport, o);
        if (figure < 0) {
            std::printf("  an exchange failed; no figure\n");
            return 1;
        }
        figures.push_back(figure);
    }
    const double floor = FloorRoundTrips(tls);
    std::printf(
        "Round trips per exchange over HTTPS (login, vol_show, logout), WinHTTP, %d ms "
        "round trip:\n",
        o.roundTripMs);
    if (tls.empty()) {
        std::printf("  TLS version negotiated: unknown (judged against TLS 1.2's floor, %.0f)\n",
                    floor);
    } else {
        std::printf("  TLS version negotiated: %s (floor %.0f round trips)\n", tls.c_str(), floor);
    }
    marl::bench::Figure("  round trips per exchange", marl::bench::Median(figures), "", 2)
        .Spread(figures)
        .Context(
            marl::bench::Format("%d exchanges each; the floor + %.1f", o.exchanges, kFloorSlack))
        .AtMost(floor + kFloorSlack)
        .Print();
    return 0;
}

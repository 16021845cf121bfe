#include "provider/array/ResponseEnvelope.h"

#include <climits>
#include <exception>
#include <stdexcept>

#include "common/QVssLog.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JsonNode;

namespace {

// The logger looks up the process and thread before it looks at the level,
// so a disabled line is not free; ask first.
bool LogEnabled(const char* module, int level) {
    return CQLogger::getInstance()->IsLogLevelEnabled(module, level);
}

#define REPLY_LOG(function, module, level, ...)                                        \
    do {                                                                               \
        if (LogEnabled(module, level)) QVSS_LOG(function, module, level, __VA_ARGS__); \
    } while (0)

constexpr char kLogin[] = "ParseLoginResponse";
constexpr char kResponse[] = "ParseResponse";

// Array software accepted when the array reports no VSS API version.
constexpr int kSupportedMajor = 8;
constexpr int kSupportedMinor = 0;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool CheckApiVersion(const std::string& apiVersion) {
    REPLY_LOG(kLogin, "JSON", QLOG_INFO, "VSS provider API version %d.", kProviderVssApiVersion);
    if (marl::array::LeadingDigitsValue(apiVersion) == kProviderVssApiVersion) return true;
    REPLY_LOG(kLogin, "JSON", QLOG_ERROR,
              "Target NXA VSS API is incompatible with VSS API of the provider. NXA API version: "
              "%s. Provider API version %d.",
              apiVersion.c_str(), kProviderVssApiVersion);
    return false;
}

// Without an API version the array's software version decides: major and
// minor fields as "8.0" (a text without "." serves as both fields).
bool CheckArrayVersion(const std::string& version) {
    if (version.empty()) {
        REPLY_LOG(kLogin, "JSON", QLOG_ERROR,
                  "Cannot verify API compatibility. Neither 'version' nor 'vss_api_version' "
                  "parameter specified.");
        return false;
    }
    if (version.compare(0, 7, "latest-") == 0) {
        REPLY_LOG(kLogin, "JSON", QLOG_INFO, "NXA non-official version: %s. Allowing login.",
                  version.c_str());
        return true;
    }
    size_t firstDot = version.find('.');
    std::string major = version.substr(0, firstDot);
    std::string minor = version;
    if (firstDot != std::string::npos) {
        size_t secondDot = version.find('.', firstDot + 1);
        minor =
            version.substr(firstDot + 1, secondDot == std::string::npos ? std::string::npos
                                                                        : secondDot - firstDot - 1);
    }
    REPLY_LOG(kLogin, "JSON", QLOG_DEBUG, "NXA version: major:%s minor:%s", major.c_str(),
              minor.c_str());
    if (marl::array::LeadingDigitsValue(major) == kSupportedMajor &&
        marl::array::LeadingDigitsValue(minor) == kSupportedMinor) {
        return true;
    }
    REPLY_LOG(kLogin, "PROVIDER", QLOG_ERROR,
              "Login failed. Mismatched version number: supports %d.%d.x.x to %d.%d.x.x. "
              "Received %s",
              kSupportedMajor, kSupportedMinor, kSupportedMajor, kSupportedMinor, version.c_str());
    return false;
}

}  // namespace

int marl::array::LeadingDigitsValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;  // saturate; stays within long long
    }
    return static_cast<int>(negative ? -value : value);
}

bool ParseLoginResponse(const JsonNode& root) {
    if (root.Empty()) return false;
    std::string key;
    std::string apiVersion;
    std::string version;
    for (const JsonNode& member : root) {
        std::string_view name = member.Name();
        if (name == "key") {
            key = member.AsString();
            REPLY_LOG(kLogin, "JSON", QLOG_DEBUG, "found key with value: %s", key.c_str());
        } else if (name == "vss_api_version") {
            apiVersion = member.AsString();
        } else if (name == "version") {
            version = member.AsString();
        }
    }
    if (key != "LOGIN_SUCCESSFUL") return false;
    REPLY_LOG(kLogin, "JSON", QLOG_INFO, "NXA version: %s  vss_api_version: %s", version.c_str(),
              apiVersion.c_str());
    if (!apiVersion.empty()) return CheckApiVersion(apiVersion);
    return CheckArrayVersion(version);
}

bool ParseResponse(const JsonNode& root, JsonNode& data) {
    if (root.Empty()) return true;
    bool failed = false;
    std::string info;
    std::string request;
    std::string key;
    for (const JsonNode& member : root) {
        REPLY_LOG(kResponse, "JSON", QLOG_DEBUG, "(i != n.end())");
        std::string_view name = member.Name();
        if (name == "info") {
            info = member.AsString();
            REPLY_LOG(kResponse, "JSON", QLOG_DEBUG, "found info with value: %s", info.c_str());
        } else if (name == "request") {
            request = member.AsString();
            REPLY_LOG(kResponse, "JSON", QLOG_DEBUG, "found request with value: %s",
                      request.c_str());
        } else if (name == "data") {
            data = member;
            REPLY_LOG(kResponse, "JSON", QLOG_DEBUG, "found data");
        } else if (name == "key") {
            std::string value = member.AsString();
            if (value != "MC_OK") {
                failed = true;
                key = value;
            }
            REPLY_LOG(kResponse, "JSON", QLOG_DEBUG, "found key with value: %s", value.c_str());
        }
    }
    if (failed) {
        REPLY_LOG(kResponse, "JSON", QLOG_ERROR, "%s (%s)", info.c_str(), key.c_str());
    } else {
        REPLY_LOG(kResponse, "JSON", QLOG_INFO, "request %s succeeded", request.c_str());
    }
    return failed;
}

bool marl::array::CheckLoginReply(const std::string& loginText) {
    try {
        return ParseLoginResponse(marl::json::Parse(loginText));
    } catch (const std::invalid_argument& e) {
        REPLY_LOG(kLogin, "JSON", QLOG_DEBUG, "could not parse response for login: %s", e.what());
    } catch (const std::exception& e) {
        REPLY_LOG(kLogin, "JSON", QLOG_DEBUG, "could not check response for login: %s", e.what());
    } catch (...) {
    }
    return false;
}

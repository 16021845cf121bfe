#include "provider/QProviderGuard.h"

#include "common/QVssLog.h"

static constexpr char kLogUnit[] = "QProvider";

namespace marl::provider {

void LogUnexpectedException(const char* function, const char* what) noexcept {
    try {
        QVSS_LOG(function, "PROVIDER", QLOG_ERROR, "unexpected exception: %s", what);
    } catch (...) {
        // Nothing is left to tell the log with; the result still says veto.
    }
}

void LogForeignResult(const char* function, HRESULT hr) noexcept {
    try {
        QVSS_LOG(function, "PROVIDER", QLOG_ERROR,
                 "status 0x%08x is no VSS result; returning 0x%08x", static_cast<unsigned>(hr),
                 static_cast<unsigned>(VSS_E_PROVIDER_VETO));
    } catch (...) {
    }
}

}  // namespace marl::provider

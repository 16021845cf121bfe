#include "provider/VssMethodFrame.h"

#include "common/QVssLog.h"

static constexpr char kLogUnit[] = "QProvider";

namespace marl::provider {

namespace {

void LogReturning(const char* function, const char* format, HRESULT hr) {
    QVSS_LOG(function, "PROVIDER", QLOG_TRACE, format, static_cast<unsigned>(hr));
}

void DebuggerReturning(HRESULT hr) {
    marl::common::DebugOutputFormatted(L"returning 0x%08x\n", static_cast<unsigned>(hr));
}

}  // namespace

void WriteExitLines(const VssMethod& method, HRESULT hr) {
    switch (method.exit) {
        case ExitLines::LogThenDebugger:
            LogReturning(method.function, "returning 0x%08x", hr);
            DebuggerReturning(hr);
            return;
        case ExitLines::DebuggerThenLog:
            DebuggerReturning(hr);
            LogReturning(method.function, "returning 0x%08x", hr);
            return;
        case ExitLines::DebuggerOnly:
            DebuggerReturning(hr);
            return;
        case ExitLines::LogOnly:
            LogReturning(method.function, "returning 0x%08x", hr);
            return;
        case ExitLines::DoneThenDebugger:
            LogReturning(method.function, "done: 0x%08x", hr);
            DebuggerReturning(hr);
            return;
    }
}

}  // namespace marl::provider

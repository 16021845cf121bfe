#pragma once
// The frame every VSS method of CQProvider runs in.
//
// Each method does the same things around its own steps: a guard that no
// exception leaves; the provider's lock and the method's "entering" line, in
// the method's own order; its steps under a guard of their own, so that a
// failure still reaches the method's tail; the tail (a failed set method
// discards the set, some methods change the state whatever happened); the
// result turned into one VSS knows; and the exit lines. Only the data of a
// method differs, so the methods state it in a VssMethod and run their steps
// through RunVssMethod.
#include <mutex>

#include "provider/QProviderGuard.h"
#include "vss/VssTypes.h"

namespace marl::provider {

// Whether the method takes the provider's lock, and whether before or after
// it writes its entering line (a waiting caller has then already said so).
enum class Locking { None, BeforeEntry, AfterEntry };

// The exit lines of a method, with the result's value:
//   LogThenDebugger   "returning 0x%08x" at TRACE, then the debugger output
//   DebuggerThenLog   the same two lines the other way round
//   DebuggerOnly      only "returning 0x%08x\n" to the debugger output
//   LogOnly           only "returning 0x%08x" at TRACE
//   DoneThenDebugger  "done: 0x%08x" at TRACE, then the debugger output
enum class ExitLines { LogThenDebugger, DebuggerThenLog, DebuggerOnly, LogOnly, DoneThenDebugger };

struct VssMethod {
    const char* function;  // the qualified name its log lines carry
    Locking locking;
    ExitLines exit;
};

// Writes the exit lines of `method` for `hr` (unit "QProvider").
void WriteExitLines(const VssMethod& method, HRESULT hr);

// For a method without an entering line.
struct NoEntryLine {
    void operator()() const {}
};

// For a method whose tail leaves the result as it is.
struct KeepResult {
    HRESULT operator()(HRESULT hr) const { return hr; }
};

// Runs one VSS method. `enter` writes the entering line, `body` returns the
// method's result (or throws), `tail` gets that result and returns the one
// the method answers. Never throws.
template <class Enter, class Body, class Tail = KeepResult>
HRESULT RunVssMethod(const VssMethod& method, std::recursive_mutex& lockOfTheSet, Enter&& enter,
                     Body&& body, Tail&& tail = Tail()) noexcept {
    using marl::provider::RunGuarded;
    using marl::provider::ToVssResult;
    HRESULT hr = RunGuarded(method.function, [&] {
        std::unique_lock<std::recursive_mutex> lock(lockOfTheSet, std::defer_lock);
        if (method.locking == Locking::BeforeEntry) lock.lock();
        enter();
        if (method.locking == Locking::AfterEntry) lock.lock();
        HRESULT result = tail(RunGuarded(method.function, body));
        result = ToVssResult(method.function, result);
        WriteExitLines(method, result);
        return result;
    });
    return ToVssResult(method.function, hr);
}

}  // namespace marl::provider

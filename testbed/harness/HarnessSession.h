#pragma once
// The harness's part of VSS: it drives one provider object through the
// calls VSS makes, prints each call with its result, and remembers what a
// later step needs (the source LUNs and the target LUNs of the last set).
//
// A step returns false when one of its calls did not give what VSS expects
// (S_OK, and "supported" for the LUN questions); the remaining calls of that
// step are then skipped. When creation fails before the set is complete the
// session aborts the set, as VSS does.
//
// Each call line ends with the call's elapsed time ("  [12.3 ms]": from the
// call's start, or from the previous call's return, which differs only by
// the harness's own bookkeeping, to its return), and the summary says the
// session's whole time and, when a tally is given, how many commands the
// provider sent to the array and how many connects it asked for, so that an
// administrator sees where a lifecycle's time goes. Not thread-safe.
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "HarnessLuns.h"
#include "ProviderCalls.h"
#include "RedirectingHttpClient.h"

namespace marl::harness {

struct CallRecord {
    std::string call;
    HRESULT result = S_OK;
    bool asExpected = true;
    double ms = 0;  // elapsed
};

class HarnessSession {
  public:
    // A provider object of this process.
    HarnessSession(CQProvider& provider, std::ostream& out);
    // Any provider behind the calls (the DLL through COM); `provider` must
    // outlive the session.
    HarnessSession(ProviderCalls& provider, std::ostream& out);

    // AreLunsSupported, BeginPrepareSnapshot, EndPrepareSnapshots,
    // PreCommitSnapshots, CommitSnapshots, PostCommitSnapshots,
    // PreFinal/PostFinalCommitSnapshots, GetTargetLuns, FillInLunInfo on each
    // target, LocateLuns.
    bool Create(const std::vector<std::string>& serials, const std::string& vendor);
    // OnLunEmpty for every target LUN of the last set (or the given serials).
    bool Delete();
    bool Delete(const std::vector<std::string>& snapshotSerials);
    // ResyncLuns from the last set's target LUNs onto its source LUNs, then
    // Wait, QueryStatus and the release of the async object.
    bool Resync();
    bool Resync(const std::vector<std::string>& snapshotSerials,
                const std::vector<std::string>& destinationSerials);
    // A set that is prepared and then aborted: AreLunsSupported,
    // BeginPrepareSnapshot, EndPrepareSnapshots, AbortSnapshots.
    bool Abort(const std::vector<std::string>& serials, const std::string& vendor);
    // OnLunStateChange for the last set's target LUNs.
    bool Notify(DWORD flags);

    // Counts the array exchanges from now on by `tally` (a process-wide
    // running total, RedirectedExchanges for a provider of this process).
    // Without it the summary says that they were not counted.
    void CountExchanges(std::function<ExchangeTally()> tally);

    void PrintSummary();
    int Failures() const;
    const std::vector<CallRecord>& Calls() const { return m_calls; }
    std::vector<std::string> TargetSerials() const { return m_targets.Serials(); }
    std::vector<std::string> SourceSerials() const { return m_sources.Serials(); }

  private:
    using Clock = std::chrono::steady_clock;

    // Prints a step's heading; its first call is timed from here.
    void BeginStep(const std::string& heading);
    bool Record(const std::string& call, HRESULT hr, bool asExpected,
                const std::string& detail = "");
    bool Expect(const std::string& call, HRESULT hr) { return Record(call, hr, hr == S_OK); }
    bool AskSupported(LunSet& luns);
    bool PrepareSet(LunSet& luns, const VSS_ID& setId);
    bool CommitSet(const VSS_ID& setId);
    bool DescribeTargets();
    bool AbortAfterFailure(const VSS_ID& setId);

    std::unique_ptr<ProviderCalls> m_direct;  // set when made from a CQProvider
    ProviderCalls& m_provider;
    std::ostream& m_out;
    std::vector<CallRecord> m_calls;
    LunSet m_sources;
    LunSet m_targets;
    Clock::time_point m_started = Clock::now();
    Clock::time_point m_mark = m_started;  // where the next call's time starts
    std::function<ExchangeTally()> m_tally;
    ExchangeTally m_tallyAtStart;
};

// A new snapshot-set id.
VSS_ID NewSetId();

}  // namespace marl::harness

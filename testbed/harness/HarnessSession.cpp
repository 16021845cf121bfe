#include "HarnessSession.h"

#include <cstdio>

#include "provider/QProviderHelpers.h"
#include "vss/ComGlue.h"

namespace marl::harness {

VSS_ID NewSetId() {
    marl::platform::ComGuid guid{};
    marl::platform::ComCreateGuid(&guid);
    return marl::vss::FromComGuid(guid);
}

HarnessSession::HarnessSession(CQProvider& provider, std::ostream& out)
    : m_direct(std::make_unique<DirectCalls>(provider)), m_provider(*m_direct), m_out(out) {}

HarnessSession::HarnessSession(ProviderCalls& provider, std::ostream& out)
    : m_provider(provider), m_out(out) {}

namespace {

double MsBetween(std::chrono::steady_clock::time_point from,
                 std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

void HarnessSession::BeginStep(const std::string& heading) {
    m_out << "--- " << heading << "\n";
    m_mark = Clock::now();
}

bool HarnessSession::Record(const std::string& call, HRESULT hr, bool asExpected,
                            const std::string& detail) {
    const double ms = MsBetween(m_mark, Clock::now());
    m_calls.push_back({call, hr, asExpected, ms});
    char number[16], elapsed[32];
    std::snprintf(number, sizeof number, "[%2zu] ", m_calls.size());
    std::snprintf(elapsed, sizeof elapsed, "  [%.1f ms]", ms);
    m_out << number << call << " -> " << ResultText(hr) << detail << (asExpected ? "" : "  FAILED")
          << elapsed << "\n";
    m_out.flush();
    m_mark = Clock::now();  // the printing is not the next call's time
    return asExpected;
}

bool HarnessSession::AskSupported(LunSet& luns) {
    BOOL supported = FALSE;
    HRESULT hr = m_provider.AreLunsSupported(luns.Count(), luns.Data(), &supported);
    return Record("AreLunsSupported(" + std::to_string(luns.Size()) + " LUNs)", hr,
                  hr == S_OK && supported, supported ? "  supported=TRUE" : "  supported=FALSE");
}

bool HarnessSession::PrepareSet(LunSet& luns, const VSS_ID& setId) {
    std::string id = marl::provider::GuidToString(setId);
    VSS_ID snapshotId = NewSetId();
    if (!Expect("BeginPrepareSnapshot(set " + id + ", " + std::to_string(luns.Size()) + " LUNs)",
                m_provider.BeginPrepareSnapshot(setId, snapshotId, luns.Count(), luns.Data())))
        return false;
    return Expect("EndPrepareSnapshots", m_provider.EndPrepareSnapshots(setId));
}

bool HarnessSession::CommitSet(const VSS_ID& setId) {
    return Expect("PreCommitSnapshots", m_provider.PreCommitSnapshots(setId)) &&
           Expect("CommitSnapshots", m_provider.CommitSnapshots(setId)) &&
           Expect("PostCommitSnapshots",
                  m_provider.PostCommitSnapshots(setId, static_cast<LONG>(m_sources.Size()))) &&
           Expect("PreFinalCommitSnapshots", m_provider.PreFinalCommitSnapshots(setId)) &&
           Expect("PostFinalCommitSnapshots", m_provider.PostFinalCommitSnapshots(setId));
}

bool HarnessSession::DescribeTargets() {
    m_targets = LunSet(m_sources.Size());
    if (!Expect("GetTargetLuns(" + std::to_string(m_sources.Size()) + " LUNs)",
                m_provider.GetTargetLuns(m_sources.Count(), m_sources.Data(), m_targets.Data())))
        return false;
    for (size_t i = 0; i < m_targets.Size(); ++i)
        m_out << "     target " << i << ": " << DescribeLun(m_targets[i]) << "\n";
    for (size_t i = 0; i < m_targets.Size(); ++i) {
        BOOL supported = FALSE;
        HRESULT hr = m_provider.FillInLunInfo(&m_targets[i], &supported);
        if (!Record("FillInLunInfo(target " + std::to_string(i) + ")", hr, hr == S_OK && supported,
                    supported ? "  supported=TRUE" : "  supported=FALSE"))
            return false;
    }
    return Expect("LocateLuns(" + std::to_string(m_targets.Size()) + " LUNs)",
                  m_provider.LocateLuns(m_targets.Count(), m_targets.Data()));
}

bool HarnessSession::AbortAfterFailure(const VSS_ID& setId) {
    Expect("AbortSnapshots", m_provider.AbortSnapshots(setId));
    return false;
}

bool HarnessSession::Create(const std::vector<std::string>& serials, const std::string& vendor) {
    BeginStep("create: a shadow copy of " + std::to_string(serials.size()) + " LUNs");
    m_sources = LunSet::FromSerials(serials, vendor);
    m_targets = LunSet();
    if (!AskSupported(m_sources)) return false;
    VSS_ID setId = NewSetId();
    if (!PrepareSet(m_sources, setId) || !CommitSet(setId)) return AbortAfterFailure(setId);
    if (!DescribeTargets()) return AbortAfterFailure(setId);
    return true;
}

bool HarnessSession::Delete() { return Delete(m_targets.Serials()); }

bool HarnessSession::Delete(const std::vector<std::string>& snapshotSerials) {
    BeginStep("delete: " + std::to_string(snapshotSerials.size()) + " snapshot LUNs");
    LunSet luns = LunSet::FromSerials(snapshotSerials, "MARL");
    bool ok = true;
    for (size_t i = 0; i < luns.Size(); ++i)
        ok =
            Expect("OnLunEmpty(" + snapshotSerials[i] + ")", m_provider.OnLunEmpty(&luns[i])) && ok;
    return ok;
}

bool HarnessSession::Resync() { return Resync(m_targets.Serials(), m_sources.Serials()); }

bool HarnessSession::Resync(const std::vector<std::string>& snapshotSerials,
                            const std::vector<std::string>& destinationSerials) {
    BeginStep("resync: " + std::to_string(snapshotSerials.size()) +
              " snapshot LUNs onto their sources");
    LunSet snaps = LunSet::FromSerials(snapshotSerials, "MARL");
    LunSet dests = LunSet::FromSerials(destinationSerials, "MARL");
    IVssAsync* async = nullptr;
    DWORD count = static_cast<DWORD>(snaps.Size() < dests.Size() ? snaps.Size() : dests.Size());
    HRESULT hr = m_provider.ResyncLuns(snaps.Data(), dests.Data(), count, &async);
    if (!Record("ResyncLuns(" + std::to_string(count) + " LUNs)", hr,
                hr == S_OK && async != nullptr,
                async != nullptr ? "  async object" : "  no async object"))
        return false;
    bool ok = Expect("IVssAsync::Wait(INFINITE)", async->Wait(0xFFFFFFFF));
    HRESULT status = E_FAIL;
    INT reserved = 0;
    hr = async->QueryStatus(&status, &reserved);
    char detail[64];
    std::snprintf(detail, sizeof detail, "  status=0x%08x reserved=%d",
                  static_cast<unsigned>(status), reserved);
    ok = Record("IVssAsync::QueryStatus", hr, hr == S_OK && status == S_OK, detail) && ok;
    ULONG left = async->Release();
    return Record("IVssAsync::Release", S_OK, left == 0,
                  "  references left " + std::to_string(left)) &&
           ok;
}

bool HarnessSession::Abort(const std::vector<std::string>& serials, const std::string& vendor) {
    BeginStep("abort: a prepared set of " + std::to_string(serials.size()) + " LUNs is given up");
    LunSet luns = LunSet::FromSerials(serials, vendor);
    if (!AskSupported(luns)) return false;
    VSS_ID setId = NewSetId();
    bool prepared = PrepareSet(luns, setId);
    return Expect("AbortSnapshots", m_provider.AbortSnapshots(setId)) && prepared;
}

bool HarnessSession::Notify(DWORD flags) {
    char name[64];
    std::snprintf(name, sizeof name, "OnLunStateChange(%zu LUNs, flags 0x%x)", m_targets.Size(),
                  static_cast<unsigned>(flags));
    BeginStep("notify");
    return Expect(name, m_provider.OnLunStateChange(m_targets.Data(), m_sources.Data(),
                                                    static_cast<DWORD>(m_targets.Size()), flags));
}

int HarnessSession::Failures() const {
    int failures = 0;
    for (const CallRecord& call : m_calls) failures += call.asExpected ? 0 : 1;
    return failures;
}

void HarnessSession::CountExchanges(std::function<ExchangeTally()> tally) {
    m_tally = std::move(tally);
    m_tallyAtStart = m_tally();
}

void HarnessSession::PrintSummary() {
    m_out << "=== summary: " << m_calls.size() << " calls, " << Failures() << " failed";
    for (const CallRecord& call : m_calls)
        if (!call.asExpected)
            m_out << "\n    failed: " << call.call << " -> " << ResultText(call.result);
    double inCalls = 0;
    for (const CallRecord& call : m_calls) inCalls += call.ms;
    char times[96];
    std::snprintf(times, sizeof times, "%.1f ms in all, %.1f ms in the calls",
                  MsBetween(m_started, Clock::now()), inCalls);
    m_out << "\n=== time: " << times << "; array: ";
    if (m_tally) {
        const ExchangeTally now = m_tally();
        m_out << (now.commands - m_tallyAtStart.commands) << " exchanges (commands sent), "
              << (now.connections - m_tallyAtStart.connections) << " connections (connects)";
    } else {
        m_out << "exchanges and connections not counted (the provider's DLL makes its own)";
    }
    m_out << "\n";
    m_out.flush();
}

}  // namespace marl::harness

// The fault matrix: every command the provider sends while it creates,
// locates, deletes and resynchronises a shadow copy, broken in each of five
// ways. For each cell the first VSS call that fails (or none) and the state
// afterwards must be what the provider promises for that failure, and once
// VSS has given up the set (AbortSnapshots, OnLunEmpty for the LUNs it was
// told about) the array must hold no exposed or mapped snapshot LUN of it.
// No LUN that VSS received may be gone from the array before VSS released
// it (a lost LUN: a shadow copy whose disk is gone).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ProviderSimTest.h"

namespace marl::testing {
namespace {

using Inv = DefaultInventory;

enum class Phase { Create, Locate, Delete, Resync };
enum Fault { kStatus500, kFailureKey, kMalformed, kDropped, kLoginRefused, kFaultCount };
const char* const kFaultNames[kFaultCount] = {"status 500", "failure key", "malformed body",
                                              "dropped connection", "refused login"};

// Every exchange is a TLS handshake over HTTPS, which makes a cell several
// times dearer under Wine. A status, a failure key, a malformed body or a
// refused login reach the provider the same way over either port, so those
// columns run over plain HTTP; a dropped connection is where the secure
// channel's own failure path is taken, so that column runs over HTTPS. The
// exchanges a phase sends do not depend on the port.
bool OverHttps(Fault fault) { return fault == kDropped; }

const char* PhaseName(Phase p) {
    switch (p) {
        case Phase::Create:
            return "create";
        case Phase::Locate:
            return "locate";
        case Phase::Delete:
            return "delete";
        default:
            return "resync";
    }
}

// The first VSS call of the phase that fails ("" when the phase succeeds in
// spite of the fault) and the set's state after the phase.
struct Outcome {
    const char* failingCall;
    VSS_SNAPSHOT_STATE state;
};

struct Row {
    Phase phase;
    const char* command;
    int occurrence;   // which of the phase's requests of the command is broken first
    bool replicated;  // the replicated group, with replication mode on
    Outcome outcome[kFaultCount];
};

constexpr VSS_SNAPSHOT_STATE kCreated = VSS_SS_CREATED;
constexpr VSS_SNAPSHOT_STATE kAborted = VSS_SS_ABORTED;

// Why each cell is what it is, in the provider's terms:
// - a transport failure (500 on all attempts, dropped connection, refused
//   login) is a non-zero code from the operation; a failure key or a body that
//   is not JSON is judged by the operation's own rule;
// - results some operations ignore: the replica listing, the host-group
//   question, a group's volume listing in a resync, and the mapping and
//   preparation replies (only a failed exchange is retried or counted);
// - a snapshot creation whose reply cannot be read fails the commit: the
//   snapshots may not exist;
// - a refused login breaks only the first exchange of the command, so a
//   retried preparation, or a resync that still finds one LUN of the group
//   snapshot, goes through;
// - a location or a resync first reads every volume snapshot's serials in
//   one listing (volsnap_show) and then asks only for those that may hold a
//   LUN's serial; without that listing it asks for every volume snapshot, so
//   no failure of the listing costs a LUN;
// - the first vss_volsnap_show of a location or a resync therefore concerns
//   one of the set's own LUNs: a refused login keeps it from being found,
//   which fails a location; a resync still finds the group snapshot through
//   the set's other LUN.
const std::vector<Row>& Rows() {
    const Outcome none{"", kCreated};
    const Outcome aru{"AreLunsSupported", VSS_SS_UNKNOWN};
    const Outcome begin{"BeginPrepareSnapshot", kAborted};
    const Outcome pre{"PreCommitSnapshots", kAborted};
    const Outcome commit{"CommitSnapshots", kAborted};
    const Outcome targets{"GetTargetLuns", kCreated};
    const Outcome locate{"LocateLuns", kCreated};
    const Outcome empty{"OnLunEmpty", kCreated};
    const Outcome resync{"ResyncLuns", kCreated};
    static const std::vector<Row> rows = {
        {Phase::Create, "vol_show", 0, false, {aru, aru, aru, aru, aru}},
        {Phase::Create, "replication_session_show", 0, false, {begin, begin, begin, begin, begin}},
        {Phase::Create, "vg_show", 0, false, {pre, pre, pre, pre, pre}},
        {Phase::Create, "vss_prepare_for_snapshot", 0, false, {pre, none, none, pre, none}},
        {Phase::Create,
         "unexposable_snapshot_create",
         0,
         false,
         {commit, commit, commit, commit, commit}},
        {Phase::Create,
         "exposable_snapshot_create",
         0,
         false,
         {targets, targets, targets, targets, targets}},
        {Phase::Create,
         "vss_volsnap_show",
         0,
         false,
         {targets, targets, targets, targets, targets}},
        {Phase::Create,
         "vss_volsnap_show",
         1,
         false,
         {targets, targets, targets, targets, targets}},
        {Phase::Create, "replication_volume_show", 0, true, {none, none, none, none, none}},
        {Phase::Create,
         "replication_session_snapshot_create",
         0,
         true,
         {commit, commit, commit, commit, commit}},
        {Phase::Create,
         "set_snapshot_vss_scsi_sn",
         0,
         true,
         {targets, none, targets, targets, targets}},
        {Phase::Locate, "snapshot_show", 0, false, {locate, locate, locate, locate, locate}},
        {Phase::Locate, "volsnap_show", 0, false, {none, none, none, none, none}},
        {Phase::Locate, "vss_volsnap_show", 0, false, {locate, locate, locate, locate, locate}},
        {Phase::Locate, "host_grp_show", 0, false, {none, none, none, none, none}},
        {Phase::Locate, "vol_map", 0, false, {locate, none, locate, locate, locate}},
        {Phase::Delete, "vss_volsnap_empty", 0, false, {empty, empty, empty, empty, empty}},
        {Phase::Delete, "vss_volsnap_empty", 1, false, {empty, empty, empty, empty, empty}},
        {Phase::Resync, "vol_show", 0, false, {resync, resync, resync, resync, resync}},
        {Phase::Resync, "vg_show", 0, false, {none, none, none, none, none}},
        {Phase::Resync, "snapshot_show", 0, false, {resync, resync, resync, resync, resync}},
        {Phase::Resync, "volsnap_show", 0, false, {none, none, none, none, none}},
        {Phase::Resync, "vss_volsnap_show", 0, false, {resync, resync, resync, resync, none}},
        {Phase::Resync, "snapshot_show", 1, false, {resync, resync, none, resync, resync}},
        {Phase::Resync, "vols_restore", 0, false, {resync, resync, resync, resync, resync}},
    };
    return rows;
}

class FaultMatrixTest : public ProviderSimTest {
  protected:
    // One shadow copy as VSS drives it, phase by phase; the first call that
    // does not give what VSS expects ends the phase.
    struct Lifecycle {
        LunRecords sources;
        LunRecords targets;
        bool described = false;
        size_t releasesAsked = 0;  // OnLunEmpty calls made, in target order
        std::string failingCall;
        HRESULT failure = S_OK;
    };

    bool Check(Lifecycle& l, const char* call, HRESULT hr, bool ok = true) {
        if (hr == S_OK && ok) return true;
        l.failingCall = call;
        l.failure = hr;
        return false;
    }

    void RunCreate(Lifecycle& l) {
        SimProvider& p = *m_provider;
        const VSS_ID id = TestSetId(1);
        BOOL supported = FALSE;
        HRESULT hr =
            p.AreLunsSupported(l.sources.Count(), 0, nullptr, l.sources.Data(), &supported);
        if (!Check(l, "AreLunsSupported", hr, supported == TRUE) ||
            !Check(l, "BeginPrepareSnapshot",
                   p.BeginPrepareSnapshot(id, TestSetId(2), 0, l.sources.Count(), nullptr,
                                          l.sources.Data())) ||
            !Check(l, "EndPrepareSnapshots", p.EndPrepareSnapshots(id)) ||
            !Check(l, "PreCommitSnapshots", p.PreCommitSnapshots(id)) ||
            !Check(l, "CommitSnapshots", p.CommitSnapshots(id)) ||
            !Check(l, "PostCommitSnapshots", p.PostCommitSnapshots(id, l.sources.Count())))
            return;
        l.targets.Reset(l.sources.Size());
        l.described =
            Check(l, "GetTargetLuns",
                  p.GetTargetLuns(l.sources.Count(), nullptr, l.sources.Data(), l.targets.Data()));
    }

    void RunPhase(Phase phase, Lifecycle& l) {
        SimProvider& p = *m_provider;
        if (phase == Phase::Create) return RunCreate(l);
        if (phase == Phase::Locate) {
            Check(l, "LocateLuns", p.LocateLuns(l.targets.Count(), l.targets.Data()));
        } else if (phase == Phase::Delete) {
            for (size_t i = 0; i < l.targets.Size(); ++i) {
                ++l.releasesAsked;
                if (!Check(l, "OnLunEmpty", p.OnLunEmpty(nullptr, &l.targets[i]))) return;
            }
        } else {
            IVssAsync* async = nullptr;
            HRESULT hr = p.ResyncLuns(l.targets.Data(), l.sources.Data(),
                                      static_cast<DWORD>(l.sources.Size()), &async);
            if (async != nullptr) async->Release();
            Check(l, "ResyncLuns", hr, async != nullptr);
        }
    }

    // The commands of each exchange of a fault-free run of the phase, in
    // order: where a refused login has to strike.
    std::vector<std::string> PhaseExchanges() {
        std::vector<std::string> exchanges;
        for (const auto& r : Sim().Journal(m_phaseStart))
            if (r.command != "login" && r.command != "logout") exchanges.push_back(r.command);
        return exchanges;
    }

    marl::sim::FaultRequest MakeFault(const Row& row, Fault fault,
                                      const std::vector<std::string>& ex) {
        marl::sim::FaultRequest f;
        f.target = row.command;
        f.skip = row.occurrence;
        switch (fault) {
            case kStatus500:
                f.type = "status";
                f.status = 500;
                break;
            case kFailureKey:
                f.type = "key";
                f.key = "MC_INTERNAL_ERROR";
                f.info = "injected";
                break;
            case kMalformed:
                f.type = "malformed";
                break;
            case kDropped:
                f.type = "drop";
                break;
            default: {
                // The five attempts of the exchange that carries the command.
                int seen = 0;
                f.target = "login";
                f.type = "status";
                f.status = 401;
                f.count = 5;
                for (size_t i = 0; i < ex.size(); ++i) {
                    if (ex[i] != row.command || seen++ != row.occurrence) continue;
                    f.skip = static_cast<long>(i);
                    break;
                }
            }
        }
        return f;
    }

    // Runs the phases before the row's fault-free, then the row's phase with
    // the fault; returns the lifecycle for the checks and the cleanup.
    void RunUpTo(const Row& row, Lifecycle& l, const marl::sim::FaultRequest* fault) {
        const std::vector<std::string> serials =
            row.replicated ? std::vector<std::string>{"6001405cd000006", "6001405cd000007"}
                           : std::vector<std::string>{Inv::kAppBin, Inv::kAppData};
        for (const std::string& s : serials) l.sources.Add(s);
        const Phase order[] = {Phase::Create, Phase::Locate, Phase::Delete, Phase::Resync};
        for (Phase phase : order) {
            if (phase == Phase::Delete && row.phase == Phase::Resync)
                continue;  // resync needs the LUNs
            if (phase == row.phase) {
                m_phaseStart = Sim().Journal().empty() ? 0 : Sim().Journal().back().seq;
                if (fault != nullptr) {
                    ASSERT_NE(Sim().AddFault(*fault), 0u) << Sim().LastError();
                }
                RunPhase(phase, l);
                return;
            }
            RunPhase(phase, l);
            ASSERT_TRUE(l.failingCall.empty())
                << "fault-free " << PhaseName(phase) << " failed at " << l.failingCall;
        }
    }

    // VSS gives up the set: an unfinished set is aborted, and every snapshot
    // LUN it was told about is deleted. Counts the LUNs VSS received that
    // were gone before it asked for their release (`lost`), and returns the
    // LUNs left behind afterwards.
    size_t GiveUpAndCountLeaks(Lifecycle& l, size_t& lost) {
        const std::string snap =
            m_provider->CgInfos().empty() ? m_lastSnap : m_provider->CgInfos().front().snap_name;
        if (m_provider->State() != VSS_SS_CREATED) m_provider->AbortSnapshots(TestSetId(1));
        lost = 0;
        if (l.described) {
            for (size_t i = l.releasesAsked; i < l.targets.Size(); ++i)
                lost += VolSnapPresent(l.targets.Serial(i)) ? 0 : 1;
            for (size_t i = 0; i < l.targets.Size(); ++i)
                m_provider->OnLunEmpty(nullptr, &l.targets[i]);
        }
        if (snap.empty()) return 0;
        return ExposedVolSnaps(snap) + MappedVolSnaps(snap);
    }

    uint64_t m_phaseStart = 0;
    std::string m_lastSnap;
};

// The matrix may be run in slices, one program per slice, each against a
// simulator of its own, so that the slices run side by side (the whole
// matrix is the longest program of the Windows suite). MARL_FAULT_MATRIX_SLICE
// "k/n" takes the rows k-1, k-1+n, k-1+2n, ...; unset, every row.
struct Slice {
    size_t index = 0;
    size_t count = 1;
};

Slice SliceOfThisRun() {
    const char* text = std::getenv("MARL_FAULT_MATRIX_SLICE");
    if (!text || !*text) return Slice{};
    unsigned k = 0, n = 0;
    char end = 0;
    if (std::sscanf(text, "%u/%u%c", &k, &n, &end) != 2 || n == 0 || k == 0 || k > n) {
        ADD_FAILURE() << "MARL_FAULT_MATRIX_SLICE is \"" << text << "\", not k/n with 1 <= k <= n";
        return Slice{};
    }
    return Slice{k - 1, n};
}

// The indices of the slice's rows among `total` rows.
std::vector<size_t> RowsOfSlice(const Slice& slice, size_t total) {
    std::vector<size_t> rows;
    for (size_t i = slice.index; i < total; i += slice.count) rows.push_back(i);
    return rows;
}

TEST(FaultMatrixSlices, TogetherTakeEveryRowOnce) {
    const size_t total = Rows().size();
    for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, total, total + 7}) {
        std::vector<int> taken(total, 0);
        for (size_t k = 0; k < n; ++k) {
            for (size_t i : RowsOfSlice(Slice{k, n}, total)) ++taken.at(i);
        }
        EXPECT_EQ(std::count(taken.begin(), taken.end(), 1), static_cast<long>(total))
            << n << " slices";
    }
}

TEST_F(FaultMatrixTest, EveryCommandInEveryWayOfFailing) {
    const Slice slice = SliceOfThisRun();
    const std::vector<size_t> rows = RowsOfSlice(slice, Rows().size());
    size_t cells = 0, asSpecified = 0, leaked = 0, lostInAll = 0;
    for (size_t r : rows) {
        const Row& row = Rows()[r];
        // A fault-free run of the phase tells where its exchanges fall.
        ASSERT_TRUE(Sim().Reset());
        m_provider = Make(false, row.replicated, /*ssl=*/false);
        Lifecycle reference;
        RunUpTo(row, reference, nullptr);
        ASSERT_TRUE(reference.failingCall.empty())
            << PhaseName(row.phase) << " fails without a fault at " << reference.failingCall;
        const std::vector<std::string> exchanges = PhaseExchanges();
        ASSERT_GT(std::count(exchanges.begin(), exchanges.end(), row.command), row.occurrence)
            << PhaseName(row.phase) << " does not send " << row.command << " #" << row.occurrence;
        for (int f = 0; f < kFaultCount; ++f) {
            const std::string cell = std::string(PhaseName(row.phase)) + " / " + row.command +
                                     " #" + std::to_string(row.occurrence) + " / " + kFaultNames[f];
            SCOPED_TRACE(cell);
            ASSERT_TRUE(Sim().Reset());
            m_provider = Make(false, row.replicated, OverHttps(static_cast<Fault>(f)));
            m_lastSnap.clear();
            marl::sim::FaultRequest fault = MakeFault(row, static_cast<Fault>(f), exchanges);
            Lifecycle l;
            RunUpTo(row, l, &fault);
            ASSERT_TRUE(Sim().ClearFaults());
            for (const auto& r : Sim().Journal())
                ASSERT_EQ(r.tls, OverHttps(static_cast<Fault>(f))) << r.command << " #" << r.seq;
            if (!m_provider->CgInfos().empty())
                m_lastSnap = m_provider->CgInfos().front().snap_name;
            const Outcome& want = row.outcome[f];
            const VSS_SNAPSHOT_STATE state = m_provider->State();
            bool ok = l.failingCall == want.failingCall && state == want.state &&
                      (l.failingCall.empty() || l.failure == VSS_E_PROVIDER_VETO);
            EXPECT_EQ(l.failingCall, want.failingCall);
            EXPECT_EQ(state, want.state);
            if (!l.failingCall.empty()) {
                EXPECT_EQ(l.failure, VSS_E_PROVIDER_VETO);
            }
            size_t lost = 0;
            size_t left = GiveUpAndCountLeaks(l, lost);
            EXPECT_EQ(left, 0u);
            EXPECT_EQ(lost, 0u);
            leaked += left;
            lostInAll += lost;
            ++cells;
            asSpecified += ok ? 1 : 0;
        }
    }
    const std::string part = slice.count == 1 ? std::string()
                                              : " (slice " + std::to_string(slice.index + 1) +
                                                    " of " + std::to_string(slice.count) + ")";
    std::printf(
        "fault matrix%s: %zu cells (%zu commands x %d ways of failing), %zu as specified, "
        "leaked snapshot LUNs: %zu, lost snapshot LUNs: %zu (the \"%s\" column over HTTPS, "
        "the others over HTTP)\n",
        part.c_str(), cells, rows.size(), kFaultCount, asSpecified, leaked, lostInAll,
        kFaultNames[kDropped]);
}

}  // namespace
}  // namespace marl::testing

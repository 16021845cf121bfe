// LocateLuns and ResyncLuns against the way they were first written, where
// every volume snapshot of the array is asked for by name before any LUN is
// matched. The reference below is that algorithm; the provider's own look-ups
// ask only for the volume snapshots that may hold a LUN's serial. Over seeded
// random arrays (other groups and hosts, foreign and hidden snapshots, peer
// serials, snapshots without volumes, duplicate serials, look-ups and
// listings that fail) both must give the same result, map the same volume
// snapshots in the same order with the same serial list, restore the same
// groups from the same snapshots, and leave the array in the same state.
//
// The array is the simulator's service, in process, behind the fake HTTP
// backend: thousands of exchanges per second, and faults aimed at one named
// object rather than at the n-th request, so that both algorithms meet the
// same broken object however many requests each sends.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ArrayService.h"
#include "HarnessConfig.h"
#include "provider/CQProvider.h"
#include "provider/QProviderHelpers.h"
#include "provider/array/ResponseParsers.h"
#include "provider/array/testing/ArrayClientTesting.h"
#include "provider/array/testing/FakeHttpClient.h"
#include "provider/testing/QProviderTesting.h"

namespace {

using marl::sim::Inventory;

// Objects the array refuses to describe, by name.
struct Breakage {
    std::set<std::string> volSnaps;       // "vss_volsnap_show" of these fails
    std::set<std::string> groups;         // "snapshot_show" of these groups fails
    bool serialListing = false;           // "volsnap_show" without a name fails
    std::set<std::string> unlisted;       // left out of that listing (it changed meanwhile)
    bool wholeListingUnreadable = false;  // "snapshot_show" of all groups is not JSON
};

std::string ArgOf(const std::string& argsJson, const char* name) {
    rapidjson::Document d;
    d.Parse(argsJson.c_str());
    if (d.HasParseError() || !d.IsObject() || !d.HasMember(name) || !d[name].IsString()) return "";
    return d[name].GetString();
}

// The simulator's service behind the fake backend, with the breakage applied
// before a request reaches it and the commands counted.
class InProcessArray {
  public:
    InProcessArray(const Inventory& inventory, const Breakage& breakage)
        : m_service(inventory, marl::sim::LoginSettings{}), m_breakage(breakage) {
        fake.respond = [this](const std::string& path, const std::string& body) {
            return Answer(path, body);
        };
    }
    marl::testing::FakeArray fake;
    std::vector<std::string> commands;

    size_t Count(const std::string& command) const {
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
    }
    std::string InventoryJson() {
        rapidjson::Document state;
        state.Parse(m_service.StateJson().c_str());
        return Serialise(state["inventory"]);
    }

  private:
    static std::string Serialise(const rapidjson::Value& v) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        v.Accept(writer);
        return buffer.GetString();
    }

    bool Broken(const arraytest::Call& call) const {
        if (call.command == "vss_volsnap_show")
            return m_breakage.volSnaps.count(ArgOf(call.args, "volsnap_name")) != 0;
        if (call.command == "snapshot_show")
            return m_breakage.groups.count(ArgOf(call.args, "volume_group")) != 0;
        if (call.command == "volsnap_show") return m_breakage.serialListing && call.args.empty();
        return false;
    }

    marl::testing::FakeReply Answer(const std::string& target, const std::string& body) {
        marl::sim::HttpRequestInfo request;
        request.target = target;
        request.path = target.substr(0, target.find('?'));
        request.body = body;
        request.cookieHeader = m_cookie;
        request.method = request.path == marl::sim::kLoginPath ? "POST" : "GET";
        if (request.path.rfind(marl::sim::kExecutePrefix, 0) == 0) {
            arraytest::Call call = arraytest::DecodeExecutePath(target);
            commands.push_back(call.command);
            if (Broken(call))
                return {200, R"({"key":"MC_INJECTED","info":"broken on purpose","data":{}})"};
            if (m_breakage.wholeListingUnreadable && call.command == "snapshot_show" &&
                ArgOf(call.args, "volume_group").empty())
                return {200, R"({"key":"MC_OK","data":{"vg1:s1":{"vg_name":"vg1","volsnaps":[)"};
        }
        marl::sim::HttpReplyPlan plan = m_service.Handle(request);
        if (!plan.setCookie.empty()) m_cookie = plan.setCookie.substr(0, plan.setCookie.find(';'));
        if (target.find("/volsnap_show/") != std::string::npos) LeaveOut(plan.body);
        return {static_cast<uint32_t>(plan.status), plan.body};
    }

    void LeaveOut(std::string& body) const {
        rapidjson::Document reply;
        reply.Parse(body.c_str());
        if (reply.HasParseError() || !reply.HasMember("data")) return;
        for (const std::string& name : m_breakage.unlisted)
            reply["data"].RemoveMember(name.c_str());
        body = Serialise(reply);
    }

    marl::sim::ArrayService m_service;
    Breakage m_breakage;
    std::string m_cookie;
};

// The provider with the outside world recorded: the VMware helper's serial
// list shows which LUNs were found, in which order; the restore's clock is
// fixed so that both runs name their pre-restore snapshots alike.
class RecordingProvider : public CQProvider {
  public:
    using CQProvider::CQProvider;
    ~RecordingProvider() override { OnUnload(TRUE); }
    std::vector<std::string> helperCalls;

  protected:
    void RunHelperRemoveRdm(const std::string& s) override { helperCalls.push_back("remove" + s); }
    void RunHelperSetRdm(const std::string& s) override { helperCalls.push_back("set_rdm" + s); }
    void RunHelperScsiRescan() override { helperCalls.push_back("scsi_rescan"); }
    void PauseBeforeRetry(uint32_t) override {}
    std::string RestoreTimestamp() override { return "1209101010"; }
};

// --- The reference: every volume snapshot asked for by name.

HRESULT ReferenceLocateLuns(marl::array::CQArrayClient& p, LONG count, VDS_LUN_INFORMATION* luns) {
    marl::array::LunInfoList volSnaps;
    p.GetQVolSnaps(nullptr, volSnaps);
    std::string serials = " ";
    std::vector<const LunInfo*> found;
    for (const LunInfo& v : volSnaps) {
        for (LONG i = 0; i < count; ++i) {
            const char* serial = marl::provider::Text(luns[i].m_szSerialNumber);
            if (v.sn != serial || v.peerSn == serial) continue;
            found.push_back(&v);
            marl::provider::AppendHelperSerial(serials, v.sn, "reference");
            break;
        }
    }
    if (found.size() != static_cast<size_t>(count)) return VSS_E_PROVIDER_VETO;
    marl::array::NameList names;
    for (const LunInfo* v : found)
        if (std::find(names.begin(), names.end(), v->snapName) == names.end())
            names.push_back(v->snapName);
    return p.MapSnapshots(names, serials) != 0 ? VSS_E_PROVIDER_VETO : S_OK;
}

HRESULT ReferenceResyncLuns(marl::array::CQArrayClient& p, VDS_LUN_INFORMATION* snaps,
                            VDS_LUN_INFORMATION* dests, DWORD count) {
    using marl::provider::Text;
    marl::array::LunInfoList volumes;
    if (p.GetAllQLuns(volumes) != 0) return VSS_E_PROVIDER_VETO;
    marl::array::NameList baseNames, groups;
    for (DWORD i = 0; i < count; ++i) {
        LunInfo* v = p.FindQLunBySn(volumes, Text(dests[i].m_szSerialNumber));
        if (v == nullptr) v = p.FindQLunByRepSn(volumes, Text(dests[i].m_szSerialNumber));
        if (v == nullptr || v->cgName == "None") return VSS_E_PROVIDER_VETO;
        baseNames.push_back(v->volName);
        if (std::find(groups.begin(), groups.end(), v->cgName) == groups.end())
            groups.push_back(v->cgName);
    }
    for (const std::string& g : groups) {
        marl::array::NameList names;
        p.GetCGVolNames(g, names);
        for (const std::string& n : names)
            if (std::find(baseNames.begin(), baseNames.end(), n) == baseNames.end())
                return VSS_E_PROVIDER_VETO;
    }
    marl::array::LunInfoList snapVolumes;
    for (const std::string& g : groups) {
        marl::array::LunInfoList groupSnaps;
        p.GetQVolSnaps(g.c_str(), groupSnaps);
        for (DWORD i = 0; i < count; ++i) {
            LunInfo* s = p.FindQLunBySn(groupSnaps, Text(snaps[i].m_szSerialNumber));
            if (s == nullptr) s = p.FindQLunByRepSn(groupSnaps, Text(snaps[i].m_szSerialNumber));
            if (s != nullptr) snapVolumes.push_back(*s);
        }
    }
    marl::array::NameList snapNames;
    for (const LunInfo& s : snapVolumes)
        if (std::find(snapNames.begin(), snapNames.end(), s.snapName) == snapNames.end())
            snapNames.push_back(s.snapName);
    return p.SnapsRestore(groups, snapNames) != 0 ? VSS_E_PROVIDER_VETO : S_OK;
}

// --- Random arrays.

class RandomArray {
  public:
    explicit RandomArray(unsigned seed) : m_random(seed) { Build(); }

    Inventory inventory;
    Breakage breakage;

    bool Chance(size_t percent) { return Pick(100) < percent; }
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_random); }

    // Serials of volume snapshots hosts can see, of one snapshot.
    std::vector<std::string> VisibleSerials(const marl::sim::Snapshot& s) const {
        std::vector<std::string> serials;
        for (const auto& v : s.volsnaps)
            if (!v.scsiSn.empty()) serials.push_back(v.scsiSn);
        return serials;
    }
    const marl::sim::Snapshot* SomeSnapshotWithSerials() {
        std::vector<const marl::sim::Snapshot*> withSerials;
        for (const auto& s : inventory.snapshots)
            if (!VisibleSerials(s).empty()) withSerials.push_back(&s);
        return withSerials.empty() ? nullptr : withSerials[Pick(withSerials.size())];
    }
    std::string AnySerial() {
        std::vector<std::string> all;
        for (const auto& s : inventory.snapshots)
            for (const auto& v : s.volsnaps) {
                if (!v.scsiSn.empty()) all.push_back(v.scsiSn);
                if (!v.vssScsiSn.empty()) all.push_back(v.vssScsiSn);
            }
        for (const auto& v : inventory.volumes) all.push_back(v.scsiSn);
        return all.empty() ? "6001405ffffffff" : all[Pick(all.size())];
    }
    // A serial as VSS may give it: mostly as the array stores it, sometimes
    // with its case or padding changed, sometimes one the array never had.
    std::string AsVssGivesIt(const std::string& serial) {
        if (Chance(5)) return "6001405eeeeeee" + std::to_string(Pick(9));
        if (Chance(4)) {
            std::string upper = serial;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return upper;
        }
        if (Chance(2)) return "";
        return NormaliseSerial(serial);
    }
    std::string FreshSerial(const char* prefix) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%07x", prefix, ++m_serials);
        return text;
    }

  private:
    void Build() {
        inventory.hostGroups.push_back({"hg1"});
        inventory.hosts.push_back({"vsshost1", Chance(30) ? "hg1" : ""});
        inventory.hosts.push_back({"host2", ""});
        const size_t groups = 1 + Pick(4);
        for (size_t g = 1; g <= groups; ++g) {
            const std::string group = "vg" + std::to_string(g);
            inventory.groups.push_back({group, {}});
            const bool replicated = Chance(30);
            for (size_t k = 1, n = 1 + Pick(4); k <= n; ++k) {
                marl::sim::Volume v;
                v.name = group + "v" + std::to_string(k);
                v.scsiSn = FreshSerial("6001405a");
                v.group = group;
                if (replicated) v.peerSn = FreshSerial("6001405b");
                inventory.volumes.push_back(v);
            }
        }
        if (Chance(20)) {
            marl::sim::Volume loose;
            loose.name = "loose";
            loose.scsiSn = FreshSerial("6001405a");
            inventory.volumes.push_back(loose);
        }
        for (size_t s = 0, n = Pick(16); s < n; ++s) AddSnapshot(s);
        AddDuplicates();
        for (const auto& s : inventory.snapshots)
            for (const auto& v : s.volsnaps) {
                if (Chance(8)) breakage.volSnaps.insert(s.VolSnapName(v));
                if (Chance(8)) breakage.unlisted.insert(s.VolSnapName(v));
                if (!v.scsiSn.empty() && Chance(10))
                    inventory.mappings.push_back({s.VolSnapName(v), "host2", ""});
            }
        if (Chance(10)) breakage.groups.insert(inventory.groups[Pick(groups)].name);
        breakage.serialListing = Chance(15);
        breakage.wholeListingUnreadable = Chance(4);
    }

    // Ours (exposable, or hidden with "_un"), the array's own, or empty.
    void AddSnapshot(size_t index) {
        const marl::sim::VolumeGroup& group = inventory.groups[Pick(inventory.groups.size())];
        marl::sim::Snapshot s;
        s.group = group.name;
        const size_t kind = Pick(4);
        s.name = kind == 3 ? "daily" + std::to_string(index)
                           : "VSS_itest_120910" + std::to_string(1000 + index);
        s.kind =
            kind == 1 ? marl::sim::SnapshotKind::Unexposable : marl::sim::SnapshotKind::Exposable;
        if (kind == 1) s.name += "_un";
        s.exposable = kind != 1;
        s.source = group.name;
        const bool empty = kind == 2 && Chance(50);
        for (const marl::sim::Volume* v : inventory.GroupVolumes(group.name)) {
            if (empty || Chance(10)) continue;  // none, or not every volume
            marl::sim::VolumeSnapshot vs;
            vs.volume = v->name;
            if (s.exposable) vs.scsiSn = FreshSerial("6001405c");
            if (s.exposable && !v->peerSn.empty() && Chance(60))
                vs.vssScsiSn = FreshSerial("6001405d");
            s.volsnaps.push_back(vs);
        }
        inventory.snapshots.push_back(s);
    }

    // An array may repeat a serial: a volume snapshot carrying another's
    // serial, or a peer serial equal to another volume snapshot's serial.
    void AddDuplicates() {
        std::vector<marl::sim::VolumeSnapshot*> visible;
        for (auto& s : inventory.snapshots)
            for (auto& v : s.volsnaps)
                if (!v.scsiSn.empty()) visible.push_back(&v);
        if (visible.size() < 2) return;
        for (int k = 0; k < 2; ++k) {
            if (!Chance(20)) continue;
            marl::sim::VolumeSnapshot* from = visible[Pick(visible.size())];
            marl::sim::VolumeSnapshot* to = visible[Pick(visible.size())];
            (k == 0 ? to->scsiSn : to->vssScsiSn) = from->scsiSn;
        }
    }

    std::mt19937 m_random;
    unsigned m_serials = 0;
};

// --- The runs.

struct RunResult {
    HRESULT hr = S_OK;
    std::vector<std::string> helperCalls;
    std::string inventory;
    size_t lookUps = 0;
};

class LookUpDifferential : public ::testing::Test {
  protected:
    template <class Call>
    RunResult Run(const RandomArray& array, Call&& call) {
        InProcessArray sim(array.inventory, array.breakage);
        marl::testing::ProviderScratch scratch;
        marl::harness::HarnessConfig config;
        config.snapPrefix = "itest";
        config.vmwareVm = true;  // the helper's serial list shows the LUNs found, in order
        config.logLevel = "ERROR";
        scratch.WriteConfig(marl::harness::ConfigFileText(config));
        RunResult result;
        {
            RecordingProvider provider(sim.fake.Factory());
            result.hr = call(provider);
            result.helperCalls = provider.helperCalls;
        }
        result.inventory = sim.InventoryJson();
        result.lookUps = sim.Count("vss_volsnap_show");
        return result;
    }

    // Volume snapshots among `snapshots` whose serial or peer serial is one
    // of `serials` as VSS gave them, and those the serial listing left out:
    // the most the look-ups may ask for.
    static size_t Holding(const std::vector<const marl::sim::Snapshot*>& snapshots,
                          const std::vector<std::string>& serials, const Breakage& breakage) {
        size_t n = 0;
        for (const marl::sim::Snapshot* s : snapshots)
            for (const auto& v : s->volsnaps) {
                bool holds = breakage.unlisted.count(s->VolSnapName(v)) != 0;
                for (const std::string& serial : serials)
                    holds = holds || NormaliseSerial(v.scsiSn) == serial ||
                            NormaliseSerial(v.vssScsiSn) == serial;
                n += holds ? 1 : 0;
            }
        return n;
    }

    static void Compare(const RunResult& reference, const RunResult& ours, unsigned seed) {
        EXPECT_EQ(ours.hr, reference.hr) << "seed " << seed;
        EXPECT_EQ(ours.helperCalls, reference.helperCalls) << "seed " << seed;
        EXPECT_EQ(ours.inventory, reference.inventory) << "seed " << seed;
    }
};

constexpr unsigned kCases = 400;

TEST_F(LookUpDifferential, LocateLunsFindsAndMapsWhatTheReferenceDoes) {
    size_t found = 0, vetoed = 0, referenceLookUps = 0, ourLookUps = 0;
    for (unsigned seed = 1; seed <= kCases; ++seed) {
        RandomArray array(seed);
        std::vector<std::string> serials;
        if (const marl::sim::Snapshot* s = array.SomeSnapshotWithSerials()) {
            for (const std::string& serial : array.VisibleSerials(*s))
                if (!array.Chance(15)) serials.push_back(array.AsVssGivesIt(serial));
        }
        if (array.Chance(15)) serials.push_back(array.AsVssGivesIt(array.AnySerial()));
        if (!serials.empty() && array.Chance(8)) serials.push_back(serials.front());
        std::shuffle(serials.begin(), serials.end(), std::mt19937(seed));
        auto locate = [&](bool reference) {
            return [&, reference](CQProvider& p) {
                marl::testing::LunRecords luns;
                for (const std::string& serial : serials) luns.Add(serial);
                return reference ? ReferenceLocateLuns(p.Array(), luns.Count(), luns.Data())
                                 : p.LocateLuns(luns.Count(), luns.Data());
            };
        };
        RunResult reference = Run(array, locate(true));
        RunResult ours = Run(array, locate(false));
        Compare(reference, ours, seed);
        std::vector<const marl::sim::Snapshot*> all;
        for (const auto& s : array.inventory.snapshots) all.push_back(&s);
        bool everySerial = std::find(serials.begin(), serials.end(), "") == serials.end();
        if (everySerial && !array.breakage.serialListing &&
            !array.breakage.wholeListingUnreadable) {
            EXPECT_LE(ours.lookUps, Holding(all, serials, array.breakage)) << "seed " << seed;
        }
        found += ours.hr == S_OK ? 1 : 0;
        vetoed += ours.hr == S_OK ? 0 : 1;
        referenceLookUps += reference.lookUps;
        ourLookUps += ours.lookUps;
    }
    // Both outcomes must be well represented for the comparison to mean much.
    EXPECT_GT(found, kCases / 5);
    EXPECT_GT(vetoed, kCases / 5);
    std::printf("LocateLuns over %u arrays: %zu found, %zu refused; look-ups %zu (reference %zu)\n",
                kCases, found, vetoed, ourLookUps, referenceLookUps);
}

TEST_F(LookUpDifferential, ResyncLunsRestoresWhatTheReferenceDoes) {
    size_t restored = 0, vetoed = 0, referenceLookUps = 0, ourLookUps = 0;
    for (unsigned seed = 1; seed <= kCases; ++seed) {
        RandomArray array(seed + 100000);
        std::vector<std::string> snapSerials, destSerials;
        const marl::sim::Snapshot* s = array.SomeSnapshotWithSerials();
        if (s == nullptr) continue;
        for (const marl::sim::Volume* v : array.inventory.GroupVolumes(s->group)) {
            if (array.Chance(5)) continue;  // not the whole group
            destSerials.push_back(array.Chance(10) && !v->peerSn.empty() ? v->peerSn : v->scsiSn);
            std::string snapSerial;
            for (const auto& vs : s->volsnaps)
                if (vs.volume == v->name)
                    snapSerial =
                        array.Chance(10) && !vs.vssScsiSn.empty() ? vs.vssScsiSn : vs.scsiSn;
            if (snapSerial.empty() || array.Chance(5)) snapSerial = array.AnySerial();
            snapSerials.push_back(array.AsVssGivesIt(snapSerial));
        }
        auto resync = [&](bool reference) {
            return [&, reference](CQProvider& p) {
                marl::testing::LunRecords snaps, dests;
                for (const std::string& serial : snapSerials) snaps.Add(serial);
                for (const std::string& serial : destSerials) dests.Add(serial);
                const DWORD n = static_cast<DWORD>(snapSerials.size());
                if (reference) return ReferenceResyncLuns(p.Array(), snaps.Data(), dests.Data(), n);
                IVssAsync* async = nullptr;
                HRESULT hr = p.ResyncLuns(snaps.Data(), dests.Data(), n, &async);
                if (async != nullptr) async->Release();
                return hr;
            };
        };
        RunResult reference = Run(array, resync(true));
        RunResult ours = Run(array, resync(false));
        Compare(reference, ours, seed);
        std::vector<const marl::sim::Snapshot*> ofGroup;
        for (const auto& snap : array.inventory.snapshots)
            if (snap.group == s->group) ofGroup.push_back(&snap);
        bool everySerial =
            std::find(snapSerials.begin(), snapSerials.end(), "") == snapSerials.end();
        if (everySerial && !array.breakage.serialListing) {
            EXPECT_LE(ours.lookUps, Holding(ofGroup, snapSerials, array.breakage))
                << "seed " << seed;
        }
        restored += ours.hr == S_OK ? 1 : 0;
        vetoed += ours.hr == S_OK ? 0 : 1;
        referenceLookUps += reference.lookUps;
        ourLookUps += ours.lookUps;
    }
    EXPECT_GT(restored, kCases / 5);
    EXPECT_GT(vetoed, kCases / 10);
    std::printf(
        "ResyncLuns over %u arrays: %zu restored, %zu refused; look-ups %zu (reference %zu)\n",
        kCases, restored, vetoed, ourLookUps, referenceLookUps);
}

}  // namespace

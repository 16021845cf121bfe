// MarlVssProvider.dll activated and driven as VSS does it: CoCreateInstance of
// the registered class, in-process, and nothing but interface pointers, with
// the configuration in the prefix's real installation folder and the array
// (the simulator) on its fixed ports at the address EXTERNAL_IP names.
#include <gmock/gmock.h>

#include <atomic>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ComProviderCalls.h"
#include "ComTestSupport.h"
#include "HarnessConfig.h"
#include "HarnessSession.h"
#include "SimulatorFixture.h"
#include "common/ProductVersion.h"
#include "provider/com/ProductGuids.h"

namespace {

using marl::comtest::ComApartment;
using marl::comtest::ExportedServer;
using marl::comtest::kInstalledDll;
using marl::comtest::kInstallFolder;

const char* const kGroupSerials[] = {"6001405ab000001", "6001405ab000002", "6001405ab000003"};

std::vector<std::string> GroupSerials() {
    return std::vector<std::string>(std::begin(kGroupSerials), std::end(kGroupSerials));
}

std::string ConfigPath() { return std::string(kInstallFolder) + "marl_vss_conf.txt"; }

bool WriteGoodConfig() {
    marl::harness::HarnessConfig config;
    config.externalIp = MARL_ARRAY_ADDRESS;  // the simulator of this program
    config.snapPrefix = "com";
    config.logLevel = "DEBUG";
    std::string error;
    return marl::harness::WriteConfigFile(kInstallFolder, config, error);
}

template <typename Interface>
HRESULT Create(Interface** out) {
    *out = nullptr;
    return ::CoCreateInstance(marl::com::kClsidQProvider, nullptr, CLSCTX_INPROC_SERVER,
                              __uuidof(Interface), reinterpret_cast<void**>(out));
}

class Activation : public marl::sim::SimulatorTest {
  protected:
    void SetUp() override {
        marl::sim::SimulatorTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(SUCCEEDED(m_com.Result()));
        ASSERT_TRUE(m_dll.Loaded());
        ASSERT_TRUE(WriteGoodConfig());
    }

    // True when `calls` ran without a failure.
    bool Lifecycle(const std::string& steps) {
        std::ostringstream out;
        int failures = 1;
        {
            auto provider = marl::harness::ComProviderCalls::Create(out);
            if (provider) {
                marl::harness::HarnessSession session(*provider, out);
                bool ok = true;
                for (const std::string& step : Split(steps)) {
                    if (!ok) break;
                    if (step == "create") ok = session.Create(GroupSerials(), "MARL");
                    if (step == "resync") ok = session.Resync();
                    if (step == "delete") ok = session.Delete();
                    if (step == "abort") ok = session.Abort(GroupSerials(), "MARL");
                }
                failures = ok ? session.Failures() : session.Failures() + 1;
                m_targets = session.TargetSerials();
            }
        }
        m_output = out.str();
        return failures == 0;
    }

    static std::vector<std::string> Split(const std::string& text) {
        std::vector<std::string> parts;
        std::stringstream in(text);
        for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
        return parts;
    }

    ComApartment m_com;
    // The same module COM loads (one path, one module), for its exports.
    ExportedServer m_dll{kInstalledDll};
    std::string m_output;
    std::vector<std::string> m_targets;
};

TEST_F(Activation, QueryInterfaceAnswersTheVssInterfacesOnly) {
    IUnknown* unknown = nullptr;
    ASSERT_EQ(Create(&unknown), S_OK);
    struct Case {
        const char* name;
        IID iid;
        bool answered;
    } cases[] = {
        {"IUnknown", __uuidof(IUnknown), true},
        {"IVssHardwareSnapshotProvider", __uuidof(IVssHardwareSnapshotProvider), true},
        {"IVssHardwareSnapshotProviderEx", __uuidof(IVssHardwareSnapshotProviderEx), true},
        {"IVssProviderCreateSnapshotSet", __uuidof(IVssProviderCreateSnapshotSet), true},
        {"IVssProviderNotifications", __uuidof(IVssProviderNotifications), true},
        {"IVssSoftwareSnapshotProvider", __uuidof(IVssSoftwareSnapshotProvider), false},
        {"IVssAsync", __uuidof(IVssAsync), false},
        {"IClassFactory", __uuidof(IClassFactory), false},
        {"IDispatch", __uuidof(IDispatch), false},
        {"IMarshal", __uuidof(IMarshal), false},
        {"IQProvider", marl::com::GuidFromText(MARL_IID_IQPROVIDER_TEXT), false},
    };
    for (const Case& c : cases) {
        void* face = reinterpret_cast<void*>(1);
        HRESULT hr = unknown->QueryInterface(c.iid, &face);
        EXPECT_EQ(hr, c.answered ? S_OK : E_NOINTERFACE) << c.name;
        if (!c.answered) {
            EXPECT_EQ(face, nullptr) << c.name;
            continue;
        }
        // COM identity: every interface leads back to the same IUnknown.
        IUnknown* identity = nullptr;
        static_cast<IUnknown*>(face)->QueryInterface(__uuidof(IUnknown),
                                                     reinterpret_cast<void**>(&identity));
        EXPECT_EQ(identity, unknown) << c.name;
        identity->Release();
        static_cast<IUnknown*>(face)->Release();
    }
    EXPECT_EQ(unknown->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);
    EXPECT_EQ(unknown->AddRef(), 2u);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(Activation, DllCanUnloadNowWhileAnythingOfTheDllLives) {
    EXPECT_EQ(m_dll.CanUnloadNow(), S_OK) << "before";

    IVssHardwareSnapshotProviderEx* provider = nullptr;
    ASSERT_EQ(Create(&provider), S_OK);
    EXPECT_EQ(m_dll.CanUnloadNow(), S_FALSE) << "provider alive";

    marl::harness::LunSet sources = marl::harness::LunSet::FromSerials(GroupSerials(), "MARL");
    IVssAsync* async = nullptr;
    // A resync of LUNs the array does not know fails; only an async object
    // from a successful one counts here, so take one from the real path.
    ASSERT_TRUE(Lifecycle("create"));
    marl::harness::LunSet targets = marl::harness::LunSet::FromSerials(m_targets, "MARL");
    ASSERT_EQ(provider->ResyncLuns(targets.Data(), sources.Data(), 3, &async), S_OK);
    ASSERT_NE(async, nullptr);
    provider->Release();
    EXPECT_EQ(m_dll.CanUnloadNow(), S_FALSE) << "only the async object alive";
    async->Release();
    EXPECT_EQ(m_dll.CanUnloadNow(), S_OK) << "all released";

    IClassFactory* factory = nullptr;
    ASSERT_EQ(m_dll.GetClassObject(marl::com::kClsidQProvider, __uuidof(IClassFactory),
                                   reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(m_dll.CanUnloadNow(), S_FALSE) << "factory held";
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(m_dll.CanUnloadNow(), S_FALSE) << "factory lock";
    // Only the lock keeps the DLL now; an unlock too many changes nothing.
    ASSERT_EQ(m_dll.GetClassObject(marl::com::kClsidQProvider, __uuidof(IClassFactory),
                                   reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(m_dll.CanUnloadNow(), S_OK) << "after";

    // Objects of the DLL live in several apartments, so its counts change on
    // several threads at once: a lost update would leave it looking in use
    // (or, the other way, unloadable under a live object).
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                IClassFactory* f = nullptr;
                if (m_dll.GetClassObject(marl::com::kClsidQProvider, __uuidof(IClassFactory),
                                         reinterpret_cast<void**>(&f)) != S_OK) {
                    ++refused;
                    continue;
                }
                for (int k = 0; k < 100; ++k) {
                    f->LockServer(TRUE);
                    f->LockServer(FALSE);
                }
                f->Release();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(m_dll.CanUnloadNow(), S_OK) << "after locks from several threads";
}

TEST_F(Activation, TheClassObjectAndItsFactoryRefuseWhatTheyCannotServe) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_dll.GetClassObject(marl::com::kClsidQProvider, __uuidof(IClassFactory), nullptr),
              E_POINTER);
    // Null ids from a C caller are refused, not read.
    const IID factoryId = __uuidof(IClassFactory);
    EXPECT_EQ(m_dll.GetClassObjectFromC(nullptr, &factoryId, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_dll.GetClassObjectFromC(&marl::com::kClsidQProvider, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(m_dll.GetClassObjectFromC(nullptr, nullptr, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_dll.GetClassObject(marl::com::kClsidVssCoordinator, __uuidof(IClassFactory), &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_dll.GetClassObject(marl::com::kClsidQProvider, __uuidof(IVssAsync), &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(m_dll.GetClassObject(marl::com::kClsidQProvider, __uuidof(IUnknown),
                                   reinterpret_cast<void**>(&factory)),
              S_OK);
    IUnknown* outer = factory;  // any object will do as an outer one
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, __uuidof(IUnknown), &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IUnknown), nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IClassFactory), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    factory->Release();
    EXPECT_EQ(m_dll.CanUnloadNow(), S_OK) << "the refused objects are gone";
}

TEST_F(Activation, AShadowCopyIsCreatedLocatedAndDeletedThroughTheInterfaces) {
    ASSERT_TRUE(Lifecycle("create")) << m_output;
    ASSERT_EQ(m_targets.size(), 3u);
    std::string state = Sim().State();
    for (const std::string& serial : m_targets) EXPECT_THAT(state, ::testing::HasSubstr(serial));
    EXPECT_FALSE(Sim().JournalOf("vol_map").empty()) << "LocateLuns mapped the snapshot LUNs";

    std::vector<std::string> targets = m_targets;
    std::ostringstream out;
    {
        auto provider = marl::harness::ComProviderCalls::Create(out);
        ASSERT_TRUE(provider);
        marl::harness::HarnessSession session(*provider, out);
        EXPECT_TRUE(session.Delete(targets)) << out.str();
    }
    state = Sim().State();
    for (const std::string& serial : targets)
        EXPECT_THAT(state, ::testing::Not(::testing::HasSubstr(serial)));
    EXPECT_EQ(Sim().JournalOf("vss_volsnap_empty").size(), 3u);
}

TEST_F(Activation, AResyncRestoresTheGroupAndItsAsyncObjectWaitsThreeSeconds) {
    ASSERT_TRUE(Lifecycle("create,resync")) << m_output;
    EXPECT_EQ(Sim().JournalOf("vols_restore").size(), 1u);
    EXPECT_THAT(m_output, ::testing::HasSubstr("status=0x00000000 reserved=100"));
}

TEST_F(Activation, TheAsyncObjectOfAResync) {
    ASSERT_TRUE(Lifecycle("create"));
    IVssHardwareSnapshotProviderEx* provider = nullptr;
    ASSERT_EQ(Create(&provider), S_OK);
    marl::harness::LunSet sources = marl::harness::LunSet::FromSerials(GroupSerials(), "MARL");
    marl::harness::LunSet targets = marl::harness::LunSet::FromSerials(m_targets, "MARL");
    IVssAsync* async = nullptr;
    ASSERT_EQ(provider->ResyncLuns(targets.Data(), sources.Data(), 3, &async), S_OK);
    provider->Release();
    ASSERT_NE(async, nullptr);

    for (DWORD timeout : {DWORD{0}, DWORD{INFINITE}}) {
        ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(async->Wait(timeout), S_OK) << timeout;
        ULONGLONG took = ::GetTickCount64() - start;
        EXPECT_GE(took, 2900u) << "Wait(" << timeout << ") returned after " << took << " ms";
        EXPECT_LT(took, 60000u) << "Wait(" << timeout << ")";
    }
    HRESULT status = E_FAIL;
    INT reserved = -1;
    EXPECT_EQ(async->QueryStatus(&status, &reserved), S_OK);
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(reserved, 100);
    status = E_FAIL;
    EXPECT_EQ(async->QueryStatus(&status, nullptr), S_OK);
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(async->QueryStatus(nullptr, &reserved), S_OK);
    EXPECT_EQ(reserved, 100);
    EXPECT_EQ(async->Cancel(), S_OK);

    void* face = reinterpret_cast<void*>(1);
    EXPECT_EQ(async->QueryInterface(__uuidof(IVssHardwareSnapshotProvider), &face), E_NOINTERFACE);
    EXPECT_EQ(face, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(async->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(async->Release(), 0u);
}

TEST_F(Activation, AnAbortedSetLeavesNothingOnTheArray) {
    ASSERT_TRUE(Lifecycle("abort")) << m_output;
    EXPECT_THAT(m_output, ::testing::HasSubstr("AbortSnapshots -> 0x00000000"));
    EXPECT_TRUE(Sim().JournalOf("unexposable_snapshot_create").empty());
}

TEST_F(Activation, AMissingOrCorruptConfigurationStillActivatesWithTheDefaults) {
    struct Case {
        const char* name;
        bool present;
        std::string bytes;
    } cases[] = {
        {"missing", false, ""},
        {"binary", true, std::string("\0\xff\xfe\x01garbage\r\n\x80\x81", 14)},
        {"no brackets", true, "EXTERNAL_IP = " MARL_ARRAY_ADDRESS "\nSUPPORT_SSL = True\n"},
        {"one huge line", true, std::string(1 << 20, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::DeleteFileA(ConfigPath().c_str());
        if (c.present) {
            ASSERT_TRUE(marl::comtest::WriteBytes(ConfigPath(), c.bytes));
        }
        Sim().ClearJournal();
        IVssHardwareSnapshotProviderEx* provider = nullptr;
        ASSERT_EQ(Create(&provider), S_OK);
        // With the defaults there is no array address: the LUNs cannot be
        // recognised and nothing reaches the simulator.
        marl::harness::LunSet luns = marl::harness::LunSet::FromSerials(GroupSerials(), "MARL");
        BOOL supported = TRUE;
        provider->AreLunsSupported(luns.Count(), 0, nullptr, luns.Data(), &supported);
        EXPECT_FALSE(supported);
        EXPECT_TRUE(Sim().Journal().empty());
        EXPECT_EQ(provider->Release(), 0u);
    }
    // The next object reads the file anew.
    ASSERT_TRUE(WriteGoodConfig());
    ASSERT_TRUE(Lifecycle("create")) << m_output;
    std::string log;
    ASSERT_TRUE(marl::comtest::ReadBytes(std::string(kInstallFolder) + "marl_vss_log.txt", log));
    EXPECT_THAT(
        log, ::testing::HasSubstr(std::string("Provider Version: ") + marl::kProductVersionText));
}

}  // namespace

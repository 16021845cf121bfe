// Registration of MarlVssProvider.dll as regsvr32 and installers do it, in a
// Wine prefix of its own with the stand-in VSS coordinator: the registry
// table, the type library, the VSS registration and their failure paths.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "ComTestSupport.h"
#include "CoordinatorStore.h"
#include "common/ProductVersion.h"

// After windows.h (ComTestSupport.h).
#include <oleauto.h>
#include <vsadmin.h>

namespace {

using marl::comtest::ComApartment;
using marl::comtest::ExportedServer;
using marl::comtest::KeyExists;
using marl::comtest::kInstalledDll;
using marl::comtest::ReadText;
using marl::comtest::RunProgram;
namespace store = marl::testcoordinator;

// The product's ids, spelled out here on purpose: they must never change, and
// a change in the product's header has to fail this test.
const std::wstring kClsid = L"{5E52A9EE-6D5F-468C-8BD6-7DC26EFB4051}";
const std::wstring kProviderId = L"{07CAA863-7DBD-4572-B2B4-67F6D9495E3F}";
const std::wstring kVersionId = L"{D5167B6D-3B38-458F-A118-C5AF48B44851}";
const std::wstring kTypeLib = L"{161A2EB8-693B-4E2F-8FE6-127C9B8C8596}";
const std::wstring kAppId = L"{F2ED9FE2-9BA1-4980-BD79-6B1E6239A3B3}";
const std::wstring kIQProvider = L"{D0544B9D-1485-422E-8A36-50DE26EEBE98}";

struct Entry {
    std::wstring key;
    std::wstring name;  // empty: the default value
    std::wstring value;
};

const std::vector<Entry>& Table() {
    static const std::vector<Entry> table = {
        {L"AppID\\" + kAppId, L"", L"QVssProvider"},
        {L"AppID\\QVssProvider.DLL", L"AppID", kAppId},
        {L"QVssProvider.QProvider.1", L"", L"QProvider Class"},
        {L"QVssProvider.QProvider.1\\CLSID", L"", kClsid},
        {L"QVssProvider.QProvider", L"", L"QProvider Class"},
        {L"QVssProvider.QProvider\\CLSID", L"", kClsid},
        {L"QVssProvider.QProvider\\CurVer", L"", L"QVssProvider.QProvider.1"},
        {L"CLSID\\" + kClsid, L"", L"QProvider Class"},
        {L"CLSID\\" + kClsid + L"\\ProgID", L"", L"QVssProvider.QProvider.1"},
        {L"CLSID\\" + kClsid + L"\\VersionIndependentProgID", L"", L"QVssProvider.QProvider"},
        {L"CLSID\\" + kClsid + L"\\InprocServer32", L"", kInstalledDll},
        {L"CLSID\\" + kClsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {L"CLSID\\" + kClsid, L"AppID", kAppId},
        {L"CLSID\\" + kClsid + L"\\TypeLib", L"", kTypeLib},
    };
    return table;
}

// The keys that registration creates and unregistration removes whole.
const std::vector<std::wstring>& OwnKeys() {
    static const std::vector<std::wstring> keys = {L"CLSID\\" + kClsid, L"QVssProvider.QProvider.1",
                                                   L"QVssProvider.QProvider", L"AppID\\" + kAppId,
                                                   L"AppID\\QVssProvider.DLL"};
    return keys;
}

std::wstring Regsvr32(const std::wstring& options, const std::wstring& dll) {
    return L"regsvr32 " + options + L" \"" + dll + L"\"";
}

std::wstring CoordinatorDll() { return marl::comtest::HostPath(MARL_COORDINATOR_DLL); }

GUID Guid(const std::wstring& text) {
    GUID guid{};
    store::ParseGuid(text, guid);
    return guid;
}

struct Listed {
    std::vector<VSS_PROVIDER_PROP> providers;
    HRESULT hr = E_FAIL;
};

// What the coordinator lists, through its own QueryProviders.
Listed QueryProviders() {
    Listed listed;
    IVssAdmin* admin = nullptr;
    listed.hr = ::CoCreateInstance(Guid(L"{E579AB5F-1CC4-44B4-BED9-DE0991FF0623}"), nullptr,
                                   CLSCTX_INPROC_SERVER, __uuidof(IVssAdmin),
                                   reinterpret_cast<void**>(&admin));
    if (FAILED(listed.hr)) return listed;
    IVssEnumObject* list = nullptr;
    listed.hr = admin->QueryProviders(&list);
    admin->Release();
    if (FAILED(listed.hr)) return listed;
    VSS_OBJECT_PROP object{};
    ULONG fetched = 0;
    for (int i = 0; i < 100 && list->Next(1, &object, &fetched) == S_OK && fetched == 1; ++i)
        listed.providers.push_back(object.Obj.Prov);  // texts leak: the process is short-lived
    list->Release();
    return listed;
}

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(m_com.Result()));
        ASSERT_EQ(RunProgram(Regsvr32(L"/s", CoordinatorDll())), 0);
        store::ClearStore();
        ASSERT_TRUE(m_dll.Loaded()) << "no DLL at C:\\Program Files\\Marl VSS";
        ASSERT_EQ(m_dll.UnregisterServer(), S_OK);
        store::ClearStore();
    }
    void TearDown() override { store::ClearStore(); }

    void ExpectRegistered(const char* when) {
        for (const Entry& e : Table()) {
            std::wstring value;
            EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, e.key, e.name, value))
                << when << ": missing " << testing::PrintToString(e.key) << " "
                << testing::PrintToString(e.name);
            EXPECT_EQ(value, e.value) << when << ": " << testing::PrintToString(e.key);
        }
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + kTypeLib + L"\\1.0")) << when;
    }
    void ExpectUnregistered(const char* when) {
        for (const std::wstring& key : OwnKeys())
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key))
                << when << ": " << testing::PrintToString(key);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + kTypeLib)) << when;
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID")) << when;
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID")) << when;
    }

    ComApartment m_com;
    ExportedServer m_dll{kInstalledDll};
};

TEST_F(Registration, Regsvr32WritesTheWholeTableAndRegistersWithVss) {
    ASSERT_EQ(RunProgram(Regsvr32(L"/s", kInstalledDll)), 0);
    ExpectRegistered("after regsvr32");

    Listed listed = QueryProviders();
    ASSERT_EQ(listed.hr, S_OK);
    ASSERT_EQ(listed.providers.size(), 1u);
    const VSS_PROVIDER_PROP& p = listed.providers[0];
    EXPECT_EQ(store::GuidText(p.m_ProviderId), kProviderId);
    EXPECT_EQ(store::GuidText(p.m_ClassId), kClsid);
    EXPECT_EQ(store::GuidText(p.m_ProviderVersionId), kVersionId);
    EXPECT_EQ(p.m_eProviderType, VSS_PROV_HARDWARE);
    EXPECT_STREQ(p.m_pwszProviderName, L"Marl HW Provider");
    EXPECT_STREQ(p.m_pwszProviderVersion, marl::kProductVersion);
    EXPECT_THAT(store::LoggedCalls(),
                ::testing::ElementsAre(L"RegisterProvider " + kProviderId + L" " + kClsid +
                                       L" \"Marl HW Provider\" 3 \"" + marl::kProductVersion +
                                       L"\" " + kVersionId));
}

// VSS refuses a second registration of a provider id; registering over an
// earlier version's record (an upgrade, a repair, a second run) must still
// succeed, and leave one record: this version's.
TEST_F(Registration, RegisteringAgainReplacesTheVssRecord) {
    const std::wstring oldVersionId = L"{0A0B0C0D-0000-0000-0000-000000000001}";
    ASSERT_EQ(store::SaveProvider({Guid(kProviderId), Guid(kClsid), L"Marl HW Provider",
                                   VSS_PROV_HARDWARE, L"2.0.9", Guid(oldVersionId)}),
              S_OK);
    ASSERT_EQ(RunProgram(Regsvr32(L"/s", kInstalledDll)), 0) << "over an earlier version";
    ASSERT_EQ(RunProgram(Regsvr32(L"/s", kInstalledDll)), 0) << "a second time";
    ExpectRegistered("after registering again");

    Listed listed = QueryProviders();
    ASSERT_EQ(listed.hr, S_OK);
    ASSERT_EQ(listed.providers.size(), 1u);
    EXPECT_STREQ(listed.providers[0].m_pwszProviderVersion, marl::kProductVersion);
    EXPECT_EQ(store::GuidText(listed.providers[0].m_ProviderVersionId), kVersionId);
    const std::wstring reg = L"RegisterProvider " + kProviderId + L" " + kClsid +
                             L" \"Marl HW Provider\" 3 \"" + marl::kProductVersion + L"\" " +
                             kVersionId;
    const std::wstring unreg = L"UnregisterProvider " + kProviderId;
    EXPECT_THAT(store::LoggedCalls(), ::testing::ElementsAre(reg, unreg, reg, reg, unreg, reg));

    // Another refusal is still the result: nothing is unregistered for it.
    store::ClearStore();
    store::SetFailure(E_ACCESSDENIED);
    EXPECT_EQ(m_dll.RegisterServer(), E_ACCESSDENIED);
    EXPECT_THAT(store::LoggedCalls(), ::testing::ElementsAre(reg));
}

TEST_F(Registration, TheTypeLibraryDescribesTheClass) {
    ASSERT_EQ(m_dll.RegisterServer(), S_OK);
    std::wstring help;
    EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, L"TypeLib\\" + kTypeLib + L"\\1.0", L"", help));
    EXPECT_EQ(help, L"MarlVssProvider 1.0.3 Type Library");

    ITypeLib* library = nullptr;
    ASSERT_EQ(::LoadRegTypeLib(Guid(kTypeLib), 1, 0, 0, &library), S_OK);
    BSTR name = nullptr;
    BSTR doc = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"MarlVssProviderLib");
    EXPECT_STREQ(doc, L"MarlVssProvider 1.0.3 Type Library");
    ::SysFreeString(name);
    ::SysFreeString(doc);

    struct Described {
        std::wstring id;
        const wchar_t* name;
        const wchar_t* help;
        TYPEKIND kind;
    } described[] = {{kClsid, L"QProvider", L"MarlProvider Class", TKIND_COCLASS},
                     {kIQProvider, L"IQProvider", L"MarlVssProvider interface", TKIND_INTERFACE}};
    for (const Described& d : described) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(library->GetTypeInfoOfGuid(Guid(d.id), &info), S_OK) << d.name;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
        EXPECT_STREQ(name, d.name);
        EXPECT_STREQ(doc, d.help);
        ::SysFreeString(name);
        ::SysFreeString(doc);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->typekind, d.kind) << d.name;
        info->ReleaseTypeAttr(attributes);
        info->Release();
    }
    library->Release();
}

TEST_F(Registration, TheClassKeyIsRewrittenWhole) {
    HKEY stale = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + kClsid + L"\\Stale").c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(stale);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, (L"CLSID\\" + kClsid).c_str(), L"Leftover",
                                REG_SZ, L"x", 4),
              ERROR_SUCCESS);

    ASSERT_EQ(RunProgram(Regsvr32(L"/s", kInstalledDll)), 0);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\Stale"));
    std::wstring leftover;
    EXPECT_FALSE(ReadText(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid, L"Leftover", leftover));
    ExpectRegistered("after rewriting");
}

TEST_F(Registration, Regsvr32UnregistersEverythingButTheParentKeys) {
    ASSERT_EQ(RunProgram(Regsvr32(L"/s", kInstalledDll)), 0);
    ASSERT_EQ(RunProgram(Regsvr32(L"/u /s", kInstalledDll)), 0);
    ExpectUnregistered("after regsvr32 /u");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + kIQProvider));
    Listed listed = QueryProviders();
    EXPECT_EQ(listed.hr, S_OK);
    EXPECT_TRUE(listed.providers.empty());
    ASSERT_FALSE(store::LoggedCalls().empty());
    EXPECT_EQ(store::LoggedCalls().back(), L"UnregisterProvider " + kProviderId);
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(RunProgram(Regsvr32(L"/u /s", kInstalledDll)), 0);
}

// How the coordinator behaves during a registration step.
enum class Coordinator { Present, Missing, Failing };

struct FailureCase {
    const char* name;
    Coordinator atRegistration;
    Coordinator atUnregistration;
    HRESULT registerResult;
    HRESULT unregisterResult;
    bool listedAfterUnregistration;
};

void Arrange(Coordinator coordinator) {
    store::SetFailure(coordinator == Coordinator::Failing ? E_ACCESSDENIED : S_OK);
    std::wstring options = coordinator == Coordinator::Missing ? L"/u /s" : L"/s";
    ASSERT_EQ(RunProgram(Regsvr32(options, CoordinatorDll())), 0);
}

TEST_F(Registration, VssFailuresLeaveTheComRegistrationAsItShouldBe) {
    const FailureCase cases[] = {
        // The COM registration stays; the coordinator's answer is the result.
        {"coordinator failing at registration", Coordinator::Failing, Coordinator::Present,
         E_ACCESSDENIED, S_OK, false},
        {"coordinator missing at registration", Coordinator::Missing, Coordinator::Present,
         REGDB_E_CLASSNOTREG, S_OK, false},
        // The COM registration goes whatever VSS says.
        {"coordinator missing at unregistration", Coordinator::Present, Coordinator::Missing, S_OK,
         S_OK, true},
        {"coordinator failing at unregistration", Coordinator::Present, Coordinator::Failing, S_OK,
         S_OK, true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        store::ClearStore();
        Arrange(c.atRegistration);
        EXPECT_EQ(m_dll.RegisterServer(), c.registerResult);
        ExpectRegistered(c.name);
        // regsvr32 tells the administrator too.
        if (FAILED(c.registerResult)) {
            EXPECT_NE(RunProgram(Regsvr32(L"/s", kInstalledDll)), 0);
        }

        Arrange(c.atUnregistration);
        EXPECT_EQ(m_dll.UnregisterServer(), c.unregisterResult);
        ExpectUnregistered(c.name);
        Arrange(Coordinator::Present);
        EXPECT_EQ(QueryProviders().providers.size(), c.listedAfterUnregistration ? 1u : 0u);
    }
}

TEST_F(Registration, TheVersionResourceNamesTheProduct) {
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(kInstalledDll, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(kInstalledDll, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", L"Marl"},
        {L"FileDescription", L"Marl Vss Hardware Provider"},
        {L"ProductName", L"Marl Vss Hardware Provider"},
        {L"FileVersion", L"1.0.0.1"},
        {L"ProductVersion", L"1.0.0.1"},
        {L"OriginalFilename", L"MarlVssProvider.dll"}};
    for (const auto& s : strings) {
        wchar_t* text = nullptr;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.first;
        ASSERT_TRUE(
            ::VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &length))
            << testing::PrintToString(std::wstring(s.first));
        EXPECT_STREQ(text, s.second);
    }
}

}  // namespace

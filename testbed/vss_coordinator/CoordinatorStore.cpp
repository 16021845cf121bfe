#include "CoordinatorStore.h"

#include <objbase.h>

#include "RegistryStore.h"

namespace marl::testcoordinator {
namespace {

using Key = marl::standin::StoreKey;

const std::wstring kProviders = std::wstring(kStoreKey) + L"\\Providers";
const std::wstring kCalls = std::wstring(kStoreKey) + L"\\Calls";

}  // namespace

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

bool ParseGuid(const std::wstring& text, GUID& guid) {
    return SUCCEEDED(::CLSIDFromString(text.c_str(), &guid));
}

HRESULT SaveProvider(const ProviderRecord& r) {
    Key key(kProviders + L"\\" + GuidText(r.providerId), true);
    if (key.Get() == nullptr) return E_ACCESSDENIED;
    bool ok = key.SetText(L"ClassId", GuidText(r.classId)) && key.SetText(L"Name", r.name) &&
              key.SetNumber(L"Type", r.type) && key.SetText(L"Version", r.version) &&
              key.SetText(L"VersionId", GuidText(r.versionId));
    return ok ? S_OK : E_FAIL;
}

HRESULT RemoveProvider(const GUID& providerId) {
    Key providers(kProviders, false);
    if (providers.Get() == nullptr) return S_FALSE;
    LONG error = ::RegDeleteTreeW(providers.Get(), GuidText(providerId).c_str());
    ::RegDeleteKeyW(providers.Get(), GuidText(providerId).c_str());
    return error == ERROR_SUCCESS ? S_OK : S_FALSE;
}

std::vector<ProviderRecord> LoadProviders() {
    std::vector<ProviderRecord> records;
    Key providers(kProviders, false);
    if (providers.Get() == nullptr) return records;
    for (const std::wstring& id : providers.Subkeys()) {
        Key key(kProviders + L"\\" + id, false);
        ProviderRecord r;
        if (key.Get() == nullptr || !ParseGuid(id, r.providerId)) continue;
        ParseGuid(key.Text(L"ClassId"), r.classId);
        ParseGuid(key.Text(L"VersionId"), r.versionId);
        r.name = key.Text(L"Name");
        r.version = key.Text(L"Version");
        key.Number(L"Type", r.type);
        records.push_back(r);
    }
    return records;
}

void LogCall(const std::wstring& line) { standin::AppendLine(kCalls, line); }

std::vector<std::wstring> LoggedCalls() { return standin::Lines(kCalls); }

void SetFailure(HRESULT hr) {
    Key store(kStoreKey, true);
    if (store.Get() == nullptr) return;
    if (hr == S_OK)
        ::RegDeleteValueW(store.Get(), L"FailWith");
    else
        store.SetNumber(L"FailWith", static_cast<DWORD>(hr));
}

HRESULT Failure() {
    Key store(kStoreKey, false);
    DWORD value = 0;
    if (store.Get() == nullptr || !store.Number(L"FailWith", value)) return S_OK;
    return static_cast<HRESULT>(value);
}

void ClearStore() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kStoreKey);
}

}  // namespace marl::testcoordinator

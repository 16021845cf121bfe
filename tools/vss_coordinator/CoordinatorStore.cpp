#include "CoordinatorStore.h"

#include <objbase.h>

#include <algorithm>
#include <cwchar>

namespace marl::testcoordinator {
namespace {

const std::wstring kProviders = std::wstring(kStoreKey) + L"\\Providers";
const std::wstring kCalls = std::wstring(kStoreKey) + L"\\Calls";

// An open key that closes itself.
class Key {
  public:
    Key(const std::wstring& path, bool create) {
        LONG error =
            create ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &m_key, nullptr)
                   : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &m_key);
        if (error != ERROR_SUCCESS) m_key = nullptr;
    }
    ~Key() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY Get() const { return m_key; }

    bool SetText(const wchar_t* name, const std::wstring& value) const {
        DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(m_key, name, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                bytes) == ERROR_SUCCESS;
    }
    bool SetNumber(const wchar_t* name, DWORD value) const {
        return ::RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value) == ERROR_SUCCESS;
    }
    std::wstring Text(const wchar_t* name) const {
        wchar_t buffer[1024] = {};
        DWORD bytes = sizeof buffer - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                               &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            return std::wstring();
        return buffer;
    }
    bool Number(const wchar_t* name, DWORD& value) const {
        DWORD bytes = sizeof value;
        DWORD type = 0;
        return ::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                  &bytes) == ERROR_SUCCESS &&
               type == REG_DWORD;
    }
    std::vector<std::wstring> Subkeys() const {
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (::RegEnumKeyExW(m_key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        return names;
    }
    std::vector<std::wstring> ValueNames() const {
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (::RegEnumValueW(m_key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        return names;
    }

  private:
    HKEY m_key = nullptr;
};

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

void LogCall(const std::wstring& line) {
    Key calls(kCalls, true);
    if (calls.Get() == nullptr) return;
    wchar_t name[16];
    std::swprintf(name, 16, L"%04u", static_cast<unsigned>(calls.ValueNames().size() + 1));
    calls.SetText(name, line);
}

std::vector<std::wstring> LoggedCalls() {
    std::vector<std::wstring> lines;
    Key calls(kCalls, false);
    if (calls.Get() == nullptr) return lines;
    std::vector<std::wstring> names = calls.ValueNames();
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) lines.push_back(calls.Text(name.c_str()));
    return lines;
}

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

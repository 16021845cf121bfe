#include "CatalogStore.h"

#include "RegistryStore.h"

namespace marl::testcatalog {
namespace {

using standin::StoreKey;

const std::wstring kApplications = std::wstring(kStoreKey) + L"\\Applications";
const std::wstring kCalls = std::wstring(kStoreKey) + L"\\Calls";
constexpr wchar_t kService[] = L"Service";

std::wstring AppKey(const std::wstring& id) { return kApplications + L"\\" + id; }

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

PropertyValue ReadValue(const StoreKey& key, const std::wstring& name) {
    PropertyValue value;
    if (key.Number(name.c_str(), value.number)) {
        value.isText = false;
    } else {
        value.text = key.Text(name.c_str());
    }
    return value;
}

}  // namespace

std::vector<ApplicationRecord> LoadApplications() {
    std::vector<ApplicationRecord> records;
    StoreKey apps(kApplications, false);
    if (apps.Get() == nullptr) return records;
    for (const std::wstring& id : apps.Subkeys()) {
        StoreKey key(AppKey(id), false);
        if (key.Get() == nullptr) continue;
        ApplicationRecord record{id, {}};
        for (const std::wstring& name : key.ValueNames()) {
            if (name != kService) record.properties.emplace_back(name, ReadValue(key, name));
        }
        records.push_back(std::move(record));
    }
    return records;
}

HRESULT SaveApplication(const ApplicationRecord& record) {
    StoreKey key(AppKey(record.id), true);
    if (key.Get() == nullptr) return E_ACCESSDENIED;
    for (const auto& [name, value] : record.properties) {
        const bool ok = value.isText ? key.SetText(name.c_str(), value.text)
                                     : key.SetNumber(name.c_str(), value.number);
        if (!ok) return E_FAIL;
    }
    return S_OK;
}

void RemoveApplicationRecord(const std::wstring& id) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, AppKey(id).c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, AppKey(id).c_str());
}

bool FindApplication(const std::wstring& idOrName, std::wstring& id) {
    for (const ApplicationRecord& record : LoadApplications()) {
        bool named = false;
        for (const auto& [name, value] : record.properties) {
            named = named || (name == L"Name" && value.isText && value.text == idOrName);
        }
        if (SameText(record.id, idOrName) || named) {
            id = record.id;
            return true;
        }
    }
    return false;
}

void AddComponent(const std::wstring& id, const std::wstring& dll) {
    standin::AppendLine(AppKey(id) + L"\\Components", dll);
}

bool ComponentInstalled(const std::wstring& dll) {
    for (const ApplicationRecord& record : LoadApplications()) {
        for (const std::wstring& known : standin::Lines(AppKey(record.id) + L"\\Components")) {
            if (SameText(known, dll)) return true;
        }
    }
    return false;
}

void SetService(const std::wstring& id, const std::wstring& service) {
    StoreKey key(AppKey(id), false);
    if (key.Get() != nullptr) key.SetText(kService, service);
}

std::wstring Service(const std::wstring& id) {
    StoreKey key(AppKey(id), false);
    return key.Get() != nullptr ? key.Text(kService) : std::wstring();
}

void ClearService(const std::wstring& id) {
    StoreKey key(AppKey(id), false);
    if (key.Get() != nullptr) ::RegDeleteValueW(key.Get(), kService);
}

void LogCall(const std::wstring& line) { standin::AppendLine(kCalls, line); }

}  // namespace marl::testcatalog

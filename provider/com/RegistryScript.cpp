#include "provider/com/RegistryScript.h"

#include "provider/com/ProductGuids.h"

namespace marl::com {
namespace {

const std::wstring kProgId = L"QVssProvider.QProvider.1";
const std::wstring kIndependentProgId = L"QVssProvider.QProvider";
const std::wstring kClassName = L"QProvider Class";

std::wstring ClassKey() { return std::wstring(L"CLSID\\") + kClsidQProviderBraced; }

HRESULT FromWin32(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

HRESULT WriteEntry(const RegistryEntry& entry) {
    HKEY key = nullptr;
    LONG error = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    const DWORD bytes = static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t));
    error = ::RegSetValueExW(key, entry.valueName.empty() ? nullptr : entry.valueName.c_str(), 0,
                             REG_SZ, reinterpret_cast<const BYTE*>(entry.value.c_str()), bytes);
    ::RegCloseKey(key);
    return FromWin32(error);
}

// Removes `key` with its subkeys; a key that does not exist counts as removed.
HRESULT RemoveTree(const std::wstring& key) {
    LONG error = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (error == ERROR_FILE_NOT_FOUND) return S_OK;
    if (error != ERROR_SUCCESS) return FromWin32(error);
    // Should the emptied key itself be left, it goes here.
    error = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

}  // namespace

std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath) {
    const std::wstring appId = kAppIdBraced;
    const std::wstring classKey = ClassKey();
    return {
        // The module's script: its application id.
        {std::wstring(L"AppID\\") + appId, L"", L"QVssProvider"},
        {L"AppID\\QVssProvider.DLL", L"AppID", appId},
        // The class's script: the ProgIDs and the class.
        {kProgId, L"", kClassName},
        {kProgId + L"\\CLSID", L"", kClsidQProviderBraced},
        {kIndependentProgId, L"", kClassName},
        {kIndependentProgId + L"\\CLSID", L"", kClsidQProviderBraced},
        {kIndependentProgId + L"\\CurVer", L"", kProgId},
        {classKey, L"", kClassName},
        {classKey + L"\\ProgID", L"", kProgId},
        {classKey + L"\\VersionIndependentProgID", L"", kIndependentProgId},
        {classKey + L"\\InprocServer32", L"", modulePath},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey, L"AppID", appId},
        {classKey + L"\\TypeLib", L"", kTypeLibIdBraced},
    };
}

std::vector<std::wstring> RegistrationKeys() {
    const std::wstring appId = kAppIdBraced;
    return {ClassKey(), kProgId, kIndependentProgId, std::wstring(L"AppID\\") + appId,
            L"AppID\\QVssProvider.DLL"};
}

HRESULT WriteClassRegistration(const std::wstring& modulePath) {
    if (modulePath.empty()) return E_UNEXPECTED;
    HRESULT hr = RemoveTree(ClassKey());
    if (FAILED(hr)) return hr;
    for (const RegistryEntry& entry : RegistrationEntries(modulePath)) {
        hr = WriteEntry(entry);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RemoveClassRegistration() {
    // Every key is tried: one that cannot go must not keep the others.
    HRESULT first = S_OK;
    for (const std::wstring& key : RegistrationKeys()) {
        HRESULT hr = RemoveTree(key);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

}  // namespace marl::com

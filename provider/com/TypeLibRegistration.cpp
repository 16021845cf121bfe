#include "provider/com/TypeLibRegistration.h"

#include <oleauto.h>

#include <cwchar>

namespace marl::com {
namespace {

// Whether TypeLib\{id}\<major>.<minor> exists: unregistering a library that
// is not registered is nothing to do, whatever error the system would give.
bool IsRegistered(const TLIBATTR& attributes) {
    wchar_t id[40];
    if (::StringFromGUID2(attributes.guid, id, 40) == 0) return true;
    wchar_t key[96];
    std::swprintf(key, 96, L"TypeLib\\%ls\\%x.%x", id, attributes.wMajorVerNum,
                  attributes.wMinorVerNum);
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(handle);
    return true;
}

}  // namespace

HRESULT RegisterModuleTypeLib(const std::wstring& modulePath) {
    ITypeLib* library = nullptr;
    HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_REGISTER, &library);
    if (SUCCEEDED(hr)) library->Release();
    return hr;
}

HRESULT UnregisterModuleTypeLib(const std::wstring& modulePath) {
    ITypeLib* library = nullptr;
    HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        if (IsRegistered(*attributes))
            hr = ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                     attributes->wMinorVerNum, attributes->lcid,
                                     attributes->syskind);
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return hr;
}

}  // namespace marl::com

#include "StandInCom.h"

namespace marl::standin {
namespace {

LONG g_locks = 0;

HRESULT SetText(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LONG error = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
        error = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

}  // namespace

long& LiveObjects() {
    static long count = 0;
    return count;
}

HRESULT StaticFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IClassFactory))) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG StaticFactory::AddRef() { return ::InterlockedIncrement(&g_locks); }
ULONG StaticFactory::Release() { return ::InterlockedDecrement(&g_locks); }

HRESULT StaticFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return m_create(riid, ppv);
}

HRESULT StaticFactory::LockServer(WINBOOL lock) {
    lock ? ::InterlockedIncrement(&g_locks) : ::InterlockedDecrement(&g_locks);
    return S_OK;
}

bool CanUnload() { return g_locks == 0 && LiveObjects() == 0; }

HRESULT RegisterInprocServer(HINSTANCE module, const std::wstring& clsidBraced,
                             const wchar_t* description) {
    wchar_t path[MAX_PATH * 4] = {};
    if (::GetModuleFileNameW(module, path, MAX_PATH * 4) == 0) return E_UNEXPECTED;
    const std::wstring classKey = L"CLSID\\" + clsidBraced;
    HRESULT hr = SetText(classKey, nullptr, description);
    if (SUCCEEDED(hr)) hr = SetText(classKey + L"\\InprocServer32", nullptr, path);
    if (SUCCEEDED(hr)) hr = SetText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    return hr;
}

HRESULT UnregisterInprocServer(const std::wstring& clsidBraced) {
    LONG error = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsidBraced).c_str());
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK
                                                                   : HRESULT_FROM_WIN32(error);
}

}  // namespace marl::standin

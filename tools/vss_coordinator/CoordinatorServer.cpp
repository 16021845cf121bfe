// The stand-in coordinator's DLL (test-only): class factory for
// CLSID_VSSCoordinator, and its own registration as an in-process server so
// that a test can put it into a Wine prefix with regsvr32.
#include <objbase.h>
#include <windows.h>

#include <new>
#include <string>

#include "Coordinator.h"
#include "provider/com/ProductGuids.h"

namespace {

HINSTANCE g_instance = nullptr;
LONG g_locks = 0;

const std::wstring kClassKey = std::wstring(L"CLSID\\") + marl::com::kClsidVssCoordinatorBraced;

class Factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IClassFactory))) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; its count is the module's.
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&g_locks); }
    ULONG STDMETHODCALLTYPE Release() override { return ::InterlockedDecrement(&g_locks); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return marl::testcoordinator::CreateCoordinator(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL lock) override {
        lock ? ::InterlockedIncrement(&g_locks) : ::InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

Factory g_factory;

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

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, marl::com::kClsidVssCoordinator)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return g_locks == 0 && marl::testcoordinator::LiveObjects() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH * 4] = {};
    if (::GetModuleFileNameW(g_instance, path, MAX_PATH * 4) == 0) return E_UNEXPECTED;
    HRESULT hr = SetText(kClassKey, nullptr, L"Marl test stand-in for the VSS coordinator");
    if (SUCCEEDED(hr)) hr = SetText(kClassKey + L"\\InprocServer32", nullptr, path);
    if (SUCCEEDED(hr)) hr = SetText(kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    return hr;
}

STDAPI DllUnregisterServer() {
    LONG error = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK
                                                                   : HRESULT_FROM_WIN32(error);
}

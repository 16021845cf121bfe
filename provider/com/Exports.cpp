// The DLL's four exports (MarlVssProvider.def lists them and nothing else)
// and its entry point. No exception leaves any of them.
#include <windows.h>

#include <new>

#include "provider/com/ClassFactory.h"
#include "provider/com/ComModule.h"
#include "provider/com/RegistryScript.h"
#include "provider/com/TypeLibRegistration.h"
#include "provider/com/VssRegistration.h"

namespace {

template <typename Call>
HRESULT Shielded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// A C caller can pass null ids where C++ sees references; the volatile read
// keeps the compiler from assuming a reference is never null.
bool IsNull(const void* pointer) {
    const void* volatile seen = pointer;
    return seen == nullptr;
}

// The class entries and the type library; VSS is not contacted when this
// fails.
HRESULT RegisterModule(const std::wstring& path) {
    HRESULT hr = marl::com::WriteClassRegistration(path);
    return FAILED(hr) ? hr : marl::com::RegisterModuleTypeLib(path);
}

// Both parts are removed even when one fails; the first failure is reported.
HRESULT UnregisterModule(const std::wstring& path) {
    HRESULT classes = marl::com::RemoveClassRegistration();
    HRESULT library = marl::com::UnregisterModuleTypeLib(path);
    return FAILED(classes) ? classes : library;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Module().SetInstance(instance);
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsNull(&rclsid) || IsNull(&riid)) {
        *ppv = nullptr;
        return E_INVALIDARG;
    }
    return Shielded([&] { return CQProviderClassFactory::GetClassObject(rclsid, riid, ppv); });
}

STDAPI DllCanUnloadNow() {
    return Shielded([] { return Module().CanUnloadNow(); });
}

STDAPI DllRegisterServer() {
    return Shielded([] {
        const std::wstring path = Module().ModulePath();
        HRESULT hr = RegisterModule(path);
        if (FAILED(hr)) return hr;
        marl::com::ScopedCom com;
        return marl::com::RegisterWithVss();
    });
}

STDAPI DllUnregisterServer() {
    return Shielded([] {
        {
            // VSS may be gone (or never was); the COM registration goes anyway.
            marl::com::ScopedCom com;
            marl::com::UnregisterFromVss();
        }
        return UnregisterModule(Module().ModulePath());
    });
}

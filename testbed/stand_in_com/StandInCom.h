#pragma once
// What the test-only stand-in COM servers (the VSS coordinator, the COM+
// catalog) share: reference counting, a static class factory, and their own
// registration as in-process servers so that a test puts them into a Wine
// prefix with regsvr32. Windows build only; never linked into the product.
//
// Reference counts are interlocked (the classes register as "Both"); every
// live object holds one count of LiveObjects(), which DllCanUnloadNow reads.
#include <objbase.h>
#include <windows.h>

#include <new>
#include <string>
#include <utility>

namespace marl::standin {

long& LiveObjects();

// Reference counting and QueryInterface for `Interface`, answering IUnknown,
// `Interface` and each of `AlsoAnswered` (its bases, say IDispatch).
template <typename Interface, typename... AlsoAnswered>
class Counted : public Interface {
  public:
    Counted() { ::InterlockedIncrement(&LiveObjects()); }
    virtual ~Counted() { ::InterlockedDecrement(&LiveObjects()); }

    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(Interface)) ||
            (IsEqualIID(riid, __uuidof(AlsoAnswered)) || ...)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

  private:
    LONG m_refs = 0;
};

// A new object of `T` answering `riid`; the creation reference is dropped.
template <typename T, typename... Args>
HRESULT CreateAnswering(REFIID riid, void** ppv, Args&&... args) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

using CreateFunction = HRESULT (*)(REFIID riid, void** ppv);

// The one class factory of a stand-in DLL; its count is the module's.
class StaticFactory final : public IClassFactory {
  public:
    explicit StaticFactory(CreateFunction create) : m_create(create) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL lock) override;

  private:
    CreateFunction m_create;
};

// Whether the DLL holds no locks and no live objects.
bool CanUnload();

// What a stand-in DLL serves. Each DLL defines ThisServer(); StandInExports.cpp,
// compiled into each, makes DllMain and the four exports from it.
struct ServerDescription {
    const CLSID& clsid;
    std::wstring clsidBraced;
    const wchar_t* description;  // the class key's default value
    CreateFunction create;
};
const ServerDescription& ThisServer();
// The DLL's own module handle, recorded by its DllMain.
HINSTANCE ModuleInstance();

// Writes CLSID\{clsid} (default value `description`) with InprocServer32
// naming the DLL `module`, threading model "Both"; and removes it again.
HRESULT RegisterInprocServer(HINSTANCE module, const std::wstring& clsidBraced,
                             const wchar_t* description);
HRESULT UnregisterInprocServer(const std::wstring& clsidBraced);

}  // namespace marl::standin

#pragma once
// CQProviderClassFactory: the class factory COM gets from DllGetClassObject
// for CLSID_QProvider.
//
// CreateInstance makes a CQProviderObject (CLASS_E_NOAGGREGATION with an outer
// object, E_OUTOFMEMORY when the provider cannot be constructed); LockServer
// counts into the module's locks. A factory holds a module lock while it lives
// too: a client holding the pointer is calling code in this DLL.
//
// Reference counting of the single-threaded kind, like the objects it makes.
#include <objbase.h>
#include <windows.h>

#include "provider/com/ComModule.h"

class CQProviderClassFactory final : public IClassFactory {
  public:
    // DllGetClassObject's work: CLASS_E_CLASSNOTAVAILABLE for another class
    // id, E_POINTER for a null ppv, E_NOINTERFACE when riid is neither
    // IUnknown nor IClassFactory; *ppv is null on every failure it can write.
    static HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL fLock) override;

  private:
    CQProviderClassFactory() = default;
    ~CQProviderClassFactory() = default;

    ModuleLock m_moduleLock;
    ULONG m_refCount = 0;
};

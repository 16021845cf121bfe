#include "provider/com/ClassFactory.h"

#include <new>

#include "provider/com/ProductGuids.h"
#include "provider/com/ProviderObject.h"

HRESULT CQProviderClassFactory::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, marl::com::kClsidQProvider)) return CLASS_E_CLASSNOTAVAILABLE;
    CQProviderClassFactory* factory = new (std::nothrow) CQProviderClassFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE CQProviderClassFactory::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IClassFactory))) {
        *ppvObject = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CQProviderClassFactory::AddRef() { return ++m_refCount; }

ULONG STDMETHODCALLTYPE CQProviderClassFactory::Release() {
    ULONG left = --m_refCount;
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE CQProviderClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                                 void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    return CQProviderObject::Create(riid, ppvObject);
}

HRESULT STDMETHODCALLTYPE CQProviderClassFactory::LockServer(WINBOOL fLock) {
    Module().LockServer(fLock != FALSE);
    return S_OK;
}

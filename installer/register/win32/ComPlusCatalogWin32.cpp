#include "installer/register/win32/ComPlusCatalogWin32.h"

#include <comadmin.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <utility>

#include "provider/com/ProductGuids.h"

namespace marl::installer {
namespace {

// The names and values as the COM+ administration collections document them.
constexpr wchar_t kApplications[] = L"Applications";
constexpr wchar_t kLocalSystemIdentity[] = L"nt authority\\system";
constexpr wchar_t kLocalSystemAccount[] = L".\\LocalSystem";

// An interface pointer released at the end of its scope.
template <typename T>
class Ref {
  public:
    Ref() = default;
    ~Ref() {
        if (m_p != nullptr) m_p->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    T** Out() { return &m_p; }
    void** OutVoid() { return reinterpret_cast<void**>(&m_p); }

  private:
    T* m_p = nullptr;
};

// A BSTR copy of a text, freed at the end of its scope.
class Bstr {
  public:
    explicit Bstr(const std::wstring& text)
        : m_text(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { ::SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_text; }

  private:
    BSTR m_text;
};

// A catalog object of a collection item, asked for through IDispatch.
HRESULT AsObject(IDispatch* item, Ref<ICatalogObject>& object) {
    return item->QueryInterface(__uuidof(ICatalogObject), object.OutVoid());
}

HRESULT PutText(ICatalogObject* object, const wchar_t* name, const std::wstring& value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (v.bstrVal == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->put_Value(Bstr(name).Get(), v);
    ::VariantClear(&v);
    return hr;
}

HRESULT PutLong(ICatalogObject* object, const wchar_t* name, long value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return object->put_Value(Bstr(name).Get(), v);
}

class Win32ComPlusCatalog : public ComPlusCatalog {
  public:
    explicit Win32ComPlusCatalog(ICOMAdminCatalog2* catalog) : m_catalog(catalog) {}
    ~Win32ComPlusCatalog() override { m_catalog->Release(); }
    Win32ComPlusCatalog(const Win32ComPlusCatalog&) = delete;
    Win32ComPlusCatalog& operator=(const Win32ComPlusCatalog&) = delete;

    ResultCode FindApplication(const std::wstring& appId, bool& found) override {
        Ref<ICatalogCollection> apps;
        long index = -1;
        HRESULT hr = Applications(apps);
        if (SUCCEEDED(hr)) hr = IndexOf(apps.Get(), appId, index);
        found = index >= 0;
        return hr;
    }

    ResultCode CreateServerApplication(const std::wstring& appId,
                                       const std::wstring& name) override {
        Ref<ICatalogCollection> apps;
        Ref<IDispatch> item;
        Ref<ICatalogObject> app;
        HRESULT hr = Applications(apps);
        if (SUCCEEDED(hr)) hr = apps->Add(item.Out());
        if (SUCCEEDED(hr)) hr = AsObject(item.Get(), app);
        if (SUCCEEDED(hr)) hr = PutText(app.Get(), L"ID", appId);
        if (SUCCEEDED(hr)) hr = PutText(app.Get(), L"Name", name);
        if (SUCCEEDED(hr)) hr = PutLong(app.Get(), L"Activation", COMAdminActivationLocal);
        // The identity and its (empty) password are checked together on saving.
        if (SUCCEEDED(hr)) hr = PutText(app.Get(), L"Identity", kLocalSystemIdentity);
        if (SUCCEEDED(hr)) hr = PutText(app.Get(), L"Password", L"");
        long changes = 0;
        if (SUCCEEDED(hr)) hr = apps->SaveChanges(&changes);
        return hr;
    }

    ResultCode InstallComponent(const std::wstring& appId, const std::wstring& dll) override {
        // The type library is the DLL's own resource; the DLL needs no proxy.
        return m_catalog->InstallComponent(Bstr(appId).Get(), Bstr(dll).Get(), Bstr(L"").Get(),
                                           Bstr(L"").Get());
    }

    ResultCode CreateApplicationService(const std::wstring& appId,
                                        const std::wstring& name) override {
        return m_catalog->CreateServiceForApplication(
            Bstr(appId).Get(), Bstr(name).Get(), Bstr(L"SERVICE_DEMAND_START").Get(),
            Bstr(L"SERVICE_ERROR_NORMAL").Get(), Bstr(L"").Get(), Bstr(kLocalSystemAccount).Get(),
            nullptr, VARIANT_FALSE);
    }

    ResultCode ShutdownApplication(const std::wstring& appId) override {
        return m_catalog->ShutdownApplication(Bstr(appId).Get());
    }

    ResultCode DeleteApplicationService(const std::wstring& appId) override {
        return m_catalog->DeleteServiceForApplication(Bstr(appId).Get());
    }

    ResultCode RemoveApplication(const std::wstring& appId) override {
        Ref<ICatalogCollection> apps;
        long index = -1;
        HRESULT hr = Applications(apps);
        if (SUCCEEDED(hr)) hr = IndexOf(apps.Get(), appId, index);
        if (FAILED(hr) || index < 0) return hr;
        hr = apps->Remove(index);
        long changes = 0;
        if (SUCCEEDED(hr)) hr = apps->SaveChanges(&changes);
        return hr;
    }

  private:
    // The Applications collection, read from the catalog.
    HRESULT Applications(Ref<ICatalogCollection>& apps) {
        Ref<IDispatch> collection;
        HRESULT hr = m_catalog->GetCollection(Bstr(kApplications).Get(), collection.Out());
        if (SUCCEEDED(hr)) {
            hr = collection->QueryInterface(__uuidof(ICatalogCollection), apps.OutVoid());
        }
        if (SUCCEEDED(hr)) hr = apps->Populate();
        return hr;
    }

    // The position of the application whose key (its ID) is `appId`, or -1.
    static HRESULT IndexOf(ICatalogCollection* apps, const std::wstring& appId, long& index) {
        index = -1;
        long count = 0;
        HRESULT hr = apps->get_Count(&count);
        for (long i = 0; SUCCEEDED(hr) && i < count && index < 0; ++i) {
            Ref<IDispatch> item;
            Ref<ICatalogObject> app;
            hr = apps->get_Item(i, item.Out());
            if (SUCCEEDED(hr)) hr = AsObject(item.Get(), app);
            VARIANT key;
            ::VariantInit(&key);
            if (SUCCEEDED(hr)) hr = app->get_Key(&key);
            if (SUCCEEDED(hr) && key.vt == VT_BSTR && key.bstrVal != nullptr &&
                ::_wcsicmp(key.bstrVal, appId.c_str()) == 0) {
                index = i;
            }
            ::VariantClear(&key);
        }
        return hr;
    }

    ICOMAdminCatalog2* m_catalog;
};

class Win32ComPlusCatalogs : public ComPlusCatalogOpener {
  public:
    ResultCode Open(std::unique_ptr<ComPlusCatalog>& catalog) override {
        ICOMAdminCatalog2* admin = nullptr;
        const HRESULT hr =
            ::CoCreateInstance(com::kClsidComAdminCatalog, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(ICOMAdminCatalog2), reinterpret_cast<void**>(&admin));
        if (FAILED(hr)) return hr;
        catalog = std::make_unique<Win32ComPlusCatalog>(admin);
        return S_OK;
    }
};

}  // namespace

std::unique_ptr<ComPlusCatalogOpener> MakeSystemComPlusCatalogs() {
    return std::make_unique<Win32ComPlusCatalogs>();
}

}  // namespace marl::installer

#include "Catalog.h"

#include <oleauto.h>

#include <string>
#include <vector>

#include "ApplicationCollection.h"
#include "CatalogServices.h"
#include "CatalogStore.h"
#include "StandInCom.h"
#include "UnsupportedCatalog.h"

namespace marl::testcatalog {
namespace {

std::wstring Text(BSTR text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

// The value of a name the documentation lists (`names`, compared exactly), or
// -1 when `text` is not one of them.
long Option(const std::wstring& text, const std::vector<std::pair<const wchar_t*, long>>& names) {
    for (const auto& [name, value] : names) {
        if (text == name) return value;
    }
    return -1;
}

bool IsLocalSystem(const std::wstring& account) {
    for (const wchar_t* name : {L"", L"LocalSystem", L".\\LocalSystem", L"nt authority\\system"}) {
        if (::CompareStringOrdinal(account.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    ::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
    return text;
}

class AdminCatalog final : public UnsupportedCatalog {
  public:
    explicit AdminCatalog(HINSTANCE module) : m_module(module) {}

    HRESULT STDMETHODCALLTYPE GetCollection(BSTR name, IDispatch** collection) override {
        LogCall(L"GetCollection " + Text(name));
        if (collection == nullptr) return E_POINTER;
        *collection = nullptr;
        if (Text(name) != L"Applications") return E_INVALIDARG;
        return CreateApplicationCollection(__uuidof(IDispatch),
                                           reinterpret_cast<void**>(collection));
    }

    HRESULT STDMETHODCALLTYPE InstallComponent(BSTR app, BSTR dll, BSTR tlb, BSTR psdll) override {
        LogCall(L"InstallComponent " + Text(app) + L" \"" + Text(dll) + L"\" \"" + Text(tlb) +
                L"\" \"" + Text(psdll) + L"\"");
        std::wstring id;
        if (!FindApplication(Text(app), id)) return COMADMIN_E_OBJECT_DOES_NOT_EXIST;
        if (Text(dll).empty()) return E_INVALIDARG;
        if (ComponentInstalled(Text(dll))) return COMADMIN_E_COMPONENTEXISTS;
        const HRESULT registered = RegisterDll(Text(dll));
        LogCall(L"DllRegisterServer " + Hex(registered));
        if (FAILED(registered)) return COMADMIN_E_OBJECTERRORS;
        AddComponent(id, Text(dll));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ShutdownApplication(BSTR app) override {
        LogCall(L"ShutdownApplication " + Text(app));
        std::wstring id;
        if (!FindApplication(Text(app), id)) return COMADMIN_E_OBJECT_DOES_NOT_EXIST;
        const std::wstring service = Service(id);
        return service.empty() ? S_OK : StopServiceAndWait(service);
    }

    HRESULT STDMETHODCALLTYPE CreateServiceForApplication(BSTR app, BSTR service, BSTR startType,
                                                          BSTR errorControl, BSTR dependencies,
                                                          BSTR runAs, BSTR password,
                                                          VARIANT_BOOL desktopOk) override {
        LogCall(L"CreateServiceForApplication " + Text(app) + L" " + Text(service) + L" " +
                Text(startType) + L" " + Text(errorControl) + L" \"" + Text(dependencies) +
                L"\" \"" + Text(runAs) + L"\" " + (password == nullptr ? L"null" : L"password") +
                L" " + std::to_wstring(desktopOk));
        std::wstring id;
        if (!FindApplication(Text(app), id)) return COMADMIN_E_OBJECT_DOES_NOT_EXIST;
        const long start = Option(Text(startType), {{L"SERVICE_BOOT_START", SERVICE_BOOT_START},
                                                    {L"SERVICE_SYSTEM_START", SERVICE_SYSTEM_START},
                                                    {L"SERVICE_AUTO_START", SERVICE_AUTO_START},
                                                    {L"SERVICE_DEMAND_START", SERVICE_DEMAND_START},
                                                    {L"SERVICE_DISABLED", SERVICE_DISABLED}});
        const long error =
            Option(Text(errorControl), {{L"SERVICE_ERROR_IGNORE", SERVICE_ERROR_IGNORE},
                                        {L"SERVICE_ERROR_NORMAL", SERVICE_ERROR_NORMAL},
                                        {L"SERVICE_ERROR_SEVERE", SERVICE_ERROR_SEVERE},
                                        {L"SERVICE_ERROR_CRITICAL", SERVICE_ERROR_CRITICAL}});
        // Only LocalSystem is modelled: it takes no password, and only it may
        // use the desktop.
        if (Text(service).empty() || start < 0 || error < 0 || !Text(dependencies).empty() ||
            !IsLocalSystem(Text(runAs)) || password != nullptr) {
            return E_INVALIDARG;
        }
        if (!Service(id).empty()) return COMADMIN_E_OBJECTEXISTS;
        const HRESULT hr =
            CreateSurrogateService(m_module, Text(service), Text(service),
                                   static_cast<DWORD>(start), static_cast<DWORD>(error), id);
        if (SUCCEEDED(hr)) SetService(id, Text(service));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE DeleteServiceForApplication(BSTR app) override {
        LogCall(L"DeleteServiceForApplication " + Text(app));
        std::wstring id;
        if (!FindApplication(Text(app), id)) return COMADMIN_E_OBJECT_DOES_NOT_EXIST;
        const std::wstring service = Service(id);
        if (service.empty()) return COMADMIN_E_SERVICENOTINSTALLED;
        const HRESULT hr = DeleteServiceNamed(service);
        if (SUCCEEDED(hr)) ClearService(id);
        return hr;
    }

  protected:
    HRESULT Unsupported(const wchar_t* method) override {
        LogCall(std::wstring(L"unsupported ") + method);
        return E_NOTIMPL;
    }

  private:
    // What the real catalog does with a component's DLL: its own
    // registration, in this process.
    static HRESULT RegisterDll(const std::wstring& dll) {
        HMODULE module = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) return HRESULT_FROM_WIN32(::GetLastError());
        using Entry = HRESULT(STDAPICALLTYPE*)();
        auto entry = reinterpret_cast<Entry>(
            reinterpret_cast<void*>(::GetProcAddress(module, "DllRegisterServer")));
        const HRESULT hr = entry != nullptr ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        ::FreeLibrary(module);
        return hr;
    }

    HINSTANCE m_module;
};

}  // namespace

HRESULT CreateCatalog(HINSTANCE module, REFIID riid, void** ppv) {
    return standin::CreateAnswering<AdminCatalog>(riid, ppv, module);
}

}  // namespace marl::testcatalog

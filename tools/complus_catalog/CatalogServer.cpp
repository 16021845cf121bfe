// The stand-in COM+ catalog's DLL (test-only): class factory for
// COMAdmin.COMAdminCatalog, and its own registration as an in-process server
// so that a test can put it into a Wine prefix with regsvr32.
#include <objbase.h>
#include <windows.h>

#include <string>

#include "Catalog.h"
#include "StandInCom.h"
#include "provider/com/ProductGuids.h"

namespace {

HINSTANCE g_instance = nullptr;

const std::wstring kClassId = marl::com::kClsidComAdminCatalogBraced;

HRESULT Create(REFIID riid, void** ppv) {
    return marl::testcatalog::CreateCatalog(g_instance, riid, ppv);
}

marl::standin::StaticFactory g_factory(Create);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, marl::com::kClsidComAdminCatalog)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return marl::standin::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    return marl::standin::RegisterInprocServer(g_instance, kClassId,
                                               L"Marl test stand-in for the COM+ catalog");
}

STDAPI DllUnregisterServer() { return marl::standin::UnregisterInprocServer(kClassId); }

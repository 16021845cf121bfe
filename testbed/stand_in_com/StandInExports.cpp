// The four exports and DllMain of a stand-in COM server DLL, compiled into
// each of them: the DLL says what it serves through ThisServer().
#include <objbase.h>
#include <windows.h>

#include "StandInCom.h"

namespace {
HINSTANCE g_instance = nullptr;
}  // namespace

HINSTANCE marl::standin::ModuleInstance() { return g_instance; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    const marl::standin::ServerDescription& server = marl::standin::ThisServer();
    if (!IsEqualCLSID(rclsid, server.clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    static marl::standin::StaticFactory factory(server.create);
    return factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return marl::standin::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    const marl::standin::ServerDescription& server = marl::standin::ThisServer();
    return marl::standin::RegisterInprocServer(g_instance, server.clsidBraced, server.description);
}

STDAPI DllUnregisterServer() {
    return marl::standin::UnregisterInprocServer(marl::standin::ThisServer().clsidBraced);
}

// A stand-in COM server DLL for the Windows test of MarlVssRegister.exe. Its
// two exports append a line to the file named by MARL_FAKE_SERVER_LOG and
// return the HRESULT given in hex by MARL_FAKE_SERVER_REGISTER or
// MARL_FAKE_SERVER_UNREGISTER (S_OK when unset). The line also tells whether
// the calling thread already had a COM apartment ("sta" or "none").
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

HRESULT ResultFrom(const char* variable) {
    const char* text = std::getenv(variable);
    return text != nullptr ? static_cast<HRESULT>(std::strtoul(text, nullptr, 16)) : S_OK;
}

// S_FALSE: an apartment of this kind was there already.
const char* Apartment() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) ::CoUninitialize();
    return hr == S_FALSE ? "sta" : "none";
}

HRESULT Record(const char* name, const char* resultVariable) {
    const char* log = std::getenv("MARL_FAKE_SERVER_LOG");
    if (log != nullptr) {
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s %s\n", name, Apartment());
            std::fclose(f);
        }
    }
    return ResultFrom(resultVariable);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return Record("register", "MARL_FAKE_SERVER_REGISTER");
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return Record("unregister", "MARL_FAKE_SERVER_UNREGISTER");
}

#pragma once
// The stand-in catalog's services in Wine's service manager (test-only): the
// service of an application runs the surrogate (surrogate.cpp) beside the
// stand-in's DLL, as a COM+ application's service runs dllhost. Results are
// HRESULTs (HRESULT_FROM_WIN32 of the manager's errors).
#include <windows.h>

#include <string>

namespace marl::testcatalog {

// An own-process service running "<surrogate> <service> <application id>"
// as LocalSystem.
HRESULT CreateSurrogateService(HINSTANCE catalogModule, const std::wstring& service,
                               const std::wstring& displayName, DWORD startType, DWORD errorControl,
                               const std::wstring& applicationId);
// Stops `service` if it runs and waits (at most 10 s) until it has stopped.
HRESULT StopServiceAndWait(const std::wstring& service);
// Deletes `service`; one that is not there counts as deleted.
HRESULT DeleteServiceNamed(const std::wstring& service);

}  // namespace marl::testcatalog

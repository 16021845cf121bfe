#pragma once
// The seam between the hosting policy (ComPlusRun.h) and the COM+
// administration catalog, through which the provider becomes a COM+ server
// application whose process runs as a Windows service, the way Windows hosts
// hardware providers.
//
// Backend: win32/ComPlusCatalogWin32.cpp (COMAdmin.COMAdminCatalog through
// ICOMAdminCatalog2, ICatalogCollection and ICatalogObject) in the Windows
// build; tests use testing/FakeComPlusCatalog.h.
//
// Every call is one complete catalog operation: a change is saved before the
// call returns, so that a later failure can be undone step by step. Results
// are HRESULTs (ServerModule.h); an application is named by its braced id.
//
// Thread safety: none; a catalog belongs to the thread that opened it.
#include <memory>
#include <string>

#include "installer/register/ServerModule.h"

namespace marl::installer {

// COMADMIN_E_SERVICENOTINSTALLED: the application has no service to delete.
constexpr ResultCode kComPlusServiceNotInstalled = static_cast<ResultCode>(0x80110436u);

class ComPlusCatalog {
  public:
    virtual ~ComPlusCatalog() = default;
    // Sets `found` to whether the Applications collection holds `appId`.
    virtual ResultCode FindApplication(const std::wstring& appId, bool& found) = 0;
    // Adds a server application (its own process, running as LocalSystem)
    // with this id and name.
    virtual ResultCode CreateServerApplication(const std::wstring& appId,
                                               const std::wstring& name) = 0;
    // Installs the DLL's classes as the application's components; the
    // catalog calls the DLL's DllRegisterServer for it.
    virtual ResultCode InstallComponent(const std::wstring& appId, const std::wstring& dllPath) = 0;
    // Creates the Windows service `serviceName` (demand start, LocalSystem)
    // that runs the application's process.
    virtual ResultCode CreateApplicationService(const std::wstring& appId,
                                                const std::wstring& serviceName) = 0;
    // Ends the application's running process, if there is one.
    virtual ResultCode ShutdownApplication(const std::wstring& appId) = 0;
    // Deletes the application's service; kComPlusServiceNotInstalled when
    // it has none.
    virtual ResultCode DeleteApplicationService(const std::wstring& appId) = 0;
    // Removes the application with its components from the catalog.
    virtual ResultCode RemoveApplication(const std::wstring& appId) = 0;
};

class ComPlusCatalogOpener {
  public:
    virtual ~ComPlusCatalogOpener() = default;
    // The local catalog in `catalog`, or the failure and no catalog.
    virtual ResultCode Open(std::unique_ptr<ComPlusCatalog>& catalog) = 0;
};

}  // namespace marl::installer

#pragma once
// MarlVssRegister.exe /install and /uninstall: the provider hosted the way
// Windows hosts hardware providers, as the COM+ server application "Marl VSS
// Provider" (its fixed id in ProductIds.h) whose process runs as the Windows
// service "marlvssprovider" (LocalSystem, demand start). The configurator
// restarts that service so that a fresh provider object reads new settings.
//
// /install, in this order: the application is created, the DLL installed as
// its component (the catalog calls DllRegisterServer: COM class, and the
// provider's registration with VSS), the service created. An application that
// is there already (a repair, a second run) is replaced: its process is shut
// down, its service deleted and the application removed first, so that
// exactly one application, one component and one service remain. A failure
// half way undoes what this run did, in reverse: the service deleted, the
// application removed, DllUnregisterServer called; the provider's
// registration is left alone when it was in place before the run (as
// /register does). One line reports it; the exit code is the failing step's.
//
// /uninstall: the application's process shut down, its service deleted, the
// application removed, then DllUnregisterServer. Every step is tried even when
// an earlier one failed, so that as much as possible goes; the exit code is
// the first failure's. No application (never installed, or removed already)
// is no failure.
//
// Messages and exit codes follow RegisterRun.h.
#include <string>

#include "installer/register/ComPlusCatalog.h"
#include "installer/register/RegisterRun.h"

namespace marl::installer {

// What the catalog is given.
extern const wchar_t kComPlusApplicationId[];    // "{D4A99159-...}"
extern const wchar_t kComPlusApplicationName[];  // "Marl VSS Provider"
extern const wchar_t kProviderServiceName[];     // "marlvssprovider"

RegisterOutcome InstallHosted(const std::wstring& path, ServerModule& module,
                              ServerModuleLoader& loader, ComPlusCatalogOpener& catalogs);
RegisterOutcome UninstallHosted(const std::wstring& path, ServerModule& module,
                                ServerModuleLoader& loader, ComPlusCatalogOpener& catalogs);

}  // namespace marl::installer

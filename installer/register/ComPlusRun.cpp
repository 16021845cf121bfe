#include "installer/register/ComPlusRun.h"

#include <vector>

#include "installer/register/RegisterOutcomeText.h"
#include "provider/com/ProductIds.h"

namespace marl::installer {

#define MARL_WIDE_(text) L##text
#define MARL_WIDE(text) MARL_WIDE_(text)
const wchar_t kComPlusApplicationId[] = L"{" MARL_WIDE(MARL_COMPLUS_APPLICATION_ID_TEXT) L"}";
#undef MARL_WIDE
#undef MARL_WIDE_
const wchar_t kComPlusApplicationName[] = L"Marl VSS Provider";
const wchar_t kProviderServiceName[] = L"marlvssprovider";

namespace {

const std::wstring kApplication =
    std::wstring(L"the COM+ application \"") + kComPlusApplicationName + L"\"";

// One step that failed: what it was and its code.
struct StepFailure {
    std::wstring step;
    ResultCode code;
};

// "removing X failed with 0x... (text), DllUnregisterServer failed with ...".
std::wstring Describe(const std::vector<StepFailure>& failures, ServerModuleLoader& loader) {
    std::wstring text;
    for (const StepFailure& f : failures) {
        if (!text.empty()) text += L", ";
        text += f.step + L" failed with " + CodeWithText(f.code, loader);
    }
    return text;
}

// Appends a failure of `step` unless `code` succeeded (or is `tolerated`).
void Note(std::vector<StepFailure>& failures, const std::wstring& step, ResultCode code,
          ResultCode tolerated = kOk) {
    if (Failed(code) && code != tolerated) failures.push_back({step, code});
}

// Ends the application's process and deletes its service and the application
// itself, noting what failed.
void RemoveHosting(ComPlusCatalog& catalog, std::vector<StepFailure>& failures) {
    Note(failures, L"shutting down " + kApplication,
         catalog.ShutdownApplication(kComPlusApplicationId));
    Note(failures, std::wstring(L"deleting the service ") + kProviderServiceName,
         catalog.DeleteApplicationService(kComPlusApplicationId), kComPlusServiceNotInstalled);
    Note(failures, L"removing " + kApplication, catalog.RemoveApplication(kComPlusApplicationId));
}

// How far an installation got before it failed.
enum class Reached { kApplicationCreated, kComponentTried, kServiceTried };

// Takes back, in reverse, what an installation that got to `reached` did.
std::vector<StepFailure> UndoInstall(Reached reached, bool registeredBefore,
                                     ComPlusCatalog& catalog, ServerModule& module) {
    std::vector<StepFailure> failures;
    if (reached == Reached::kServiceTried) {
        Note(failures, std::wstring(L"deleting the service ") + kProviderServiceName,
             catalog.DeleteApplicationService(kComPlusApplicationId), kComPlusServiceNotInstalled);
    }
    Note(failures, L"removing " + kApplication, catalog.RemoveApplication(kComPlusApplicationId));
    if (reached != Reached::kApplicationCreated && !registeredBefore) {
        Note(failures, L"DllUnregisterServer", module.Call(ServerExport::kUnregisterServer));
    }
    return failures;
}

RegisterOutcome InstallFailed(const StepFailure& failed, Reached reached, bool registeredBefore,
                              ComPlusCatalog& catalog, ServerModule& module,
                              ServerModuleLoader& loader) {
    const std::vector<StepFailure> undo = UndoInstall(reached, registeredBefore, catalog, module);
    std::wstring message = Describe({failed}, loader);
    if (!undo.empty()) {
        message += L", and undoing it failed: " + Describe(undo, loader) +
                   L", so parts of the installation may remain";
    } else if (registeredBefore && reached != Reached::kApplicationCreated) {
        message +=
            L"; what it had done was undone, the provider's registration that was in "
            L"place before was left as it is";
    } else {
        message += L"; what it had done was undone";
    }
    return Failure(failed.code, message);
}

// Opens the catalog, or notes why not in `failures`.
std::unique_ptr<ComPlusCatalog> OpenCatalog(ComPlusCatalogOpener& catalogs,
                                            std::vector<StepFailure>& failures) {
    std::unique_ptr<ComPlusCatalog> catalog;
    const ResultCode opened = catalogs.Open(catalog);
    if (!Failed(opened) && catalog) return catalog;
    failures.push_back({L"opening the COM+ catalog", Failed(opened) ? opened : kUnexpected});
    return nullptr;
}

// The application this product made earlier, if any, is taken away so that
// the installation starts from nothing.
std::vector<StepFailure> ReplaceEarlier(ComPlusCatalog& catalog) {
    std::vector<StepFailure> failures;
    bool found = false;
    Note(failures, L"looking for " + kApplication,
         catalog.FindApplication(kComPlusApplicationId, found));
    if (failures.empty() && found) {
        // Its process may be gone already; removing the rest is what counts.
        catalog.ShutdownApplication(kComPlusApplicationId);
        Note(failures, std::wstring(L"deleting the earlier service ") + kProviderServiceName,
             catalog.DeleteApplicationService(kComPlusApplicationId), kComPlusServiceNotInstalled);
        if (failures.empty()) {
            Note(failures,
                 std::wstring(L"removing the earlier COM+ application \"") +
                     kComPlusApplicationName + L"\"",
                 catalog.RemoveApplication(kComPlusApplicationId));
        }
    }
    return failures;
}

}  // namespace

RegisterOutcome InstallHosted(const std::wstring& path, ServerModule& module,
                              ServerModuleLoader& loader, ComPlusCatalogOpener& catalogs) {
    if (auto missing = CheckBothExports(path, module, L"nothing was installed")) return *missing;
    const bool registeredBefore = loader.ProviderRegistered();
    std::vector<StepFailure> failures;
    std::unique_ptr<ComPlusCatalog> catalog = OpenCatalog(catalogs, failures);
    if (catalog) failures = ReplaceEarlier(*catalog);
    if (!failures.empty()) {
        return Failure(failures.front().code,
                       Describe(failures, loader) + L"; nothing was installed");
    }

    ResultCode code =
        catalog->CreateServerApplication(kComPlusApplicationId, kComPlusApplicationName);
    if (Failed(code)) {
        return Failure(code, L"creating " + kApplication + L" failed with " +
                                 CodeWithText(code, loader) + L"; nothing was installed");
    }
    code = catalog->InstallComponent(kComPlusApplicationId, path);
    if (Failed(code)) {
        return InstallFailed({L"installing " + Quoted(path) + L" as its component", code},
                             Reached::kComponentTried, registeredBefore, *catalog, module, loader);
    }
    code = catalog->CreateApplicationService(kComPlusApplicationId, kProviderServiceName);
    if (Failed(code)) {
        return InstallFailed(
            {std::wstring(L"creating the service ") + kProviderServiceName + L" for it", code},
            Reached::kServiceTried, registeredBefore, *catalog, module, loader);
    }
    return Success(L"installed " + Quoted(path) + L" in " + kApplication + L" " +
                   kComPlusApplicationId + L", run by the service " + kProviderServiceName);
}

RegisterOutcome UninstallHosted(const std::wstring& path, ServerModule& module,
                                ServerModuleLoader& loader, ComPlusCatalogOpener& catalogs) {
    if (!module.Exports(ServerExport::kUnregisterServer)) {
        return MissingExport(path, ServerExport::kUnregisterServer, L"nothing was uninstalled");
    }
    std::vector<StepFailure> failures;
    if (std::unique_ptr<ComPlusCatalog> catalog = OpenCatalog(catalogs, failures)) {
        bool found = false;
        Note(failures, L"looking for " + kApplication,
             catalog->FindApplication(kComPlusApplicationId, found));
        if (found) RemoveHosting(*catalog, failures);
    }
    Note(failures, L"DllUnregisterServer of " + Quoted(path),
         module.Call(ServerExport::kUnregisterServer));
    if (failures.empty()) {
        return Success(L"uninstalled " + Quoted(path) + L": " + kApplication +
                       L", its service and the DLL's registration are gone");
    }
    return Failure(failures.front().code, L"uninstalling " + Quoted(path) + L": " +
                                              Describe(failures, loader) +
                                              L"; everything else was removed");
}

}  // namespace marl::installer

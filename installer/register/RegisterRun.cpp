#include "installer/register/RegisterRun.h"

#include "installer/register/ComPlusRun.h"
#include "installer/register/RegisterOutcomeText.h"

namespace marl::installer {

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring CodeWithText(ResultCode code, ServerModuleLoader& loader) {
    std::wstring text = loader.DescribeResult(code);
    if (text.empty()) return HexCode(code);
    return HexCode(code) + L" (" + text + L")";
}

RegisterOutcome Success(std::wstring message) {
    RegisterOutcome outcome;
    outcome.message = kTool + message;
    return outcome;
}

RegisterOutcome Failure(ResultCode code, std::wstring message) {
    RegisterOutcome outcome;
    outcome.exitCode = Failed(code) ? code : kUnexpected;
    outcome.message = kTool + message;
    outcome.isError = true;
    return outcome;
}

RegisterOutcome MissingExport(const std::wstring& path, ServerExport which,
                              const std::wstring& consequence) {
    const ResultCode code = ResultFromSystemError(kErrorProcNotFound);
    return Failure(code, Quoted(path) + L" does not export " + ServerExportName(which) + L" (" +
                             HexCode(code) + L"); " + consequence);
}

std::optional<RegisterOutcome> CheckBothExports(const std::wstring& path, ServerModule& module,
                                                const std::wstring& nothingDone) {
    if (!module.Exports(ServerExport::kRegisterServer)) {
        return MissingExport(path, ServerExport::kRegisterServer, nothingDone);
    }
    if (!module.Exports(ServerExport::kUnregisterServer)) {
        return MissingExport(path, ServerExport::kUnregisterServer,
                             nothingDone + L", since a failed registration could not be undone");
    }
    return std::nullopt;
}

namespace {

RegisterOutcome Register(const std::wstring& path, ServerModule& module,
                         ServerModuleLoader& loader) {
    if (auto missing = CheckBothExports(path, module, L"nothing was registered")) return *missing;
    const bool registeredBefore = loader.ProviderRegistered();
    const ResultCode registered = module.Call(ServerExport::kRegisterServer);
    if (!Failed(registered)) return Success(L"registered " + Quoted(path));

    const std::wstring failed = L"DllRegisterServer of " + Quoted(path) + L" failed with " +
                                CodeWithText(registered, loader);
    if (registeredBefore) {
        return Failure(registered,
                       failed + L"; the registration that was in place before was left as it is");
    }
    const ResultCode undone = module.Call(ServerExport::kUnregisterServer);
    if (!Failed(undone)) {
        return Failure(registered, failed + L"; what it had registered was removed again");
    }
    return Failure(registered, failed + L", and DllUnregisterServer failed with " +
                                   CodeWithText(undone, loader) +
                                   L", so parts of the registration may remain");
}

RegisterOutcome Unregister(const std::wstring& path, ServerModule& module,
                           ServerModuleLoader& loader) {
    if (!module.Exports(ServerExport::kUnregisterServer)) {
        return MissingExport(path, ServerExport::kUnregisterServer, L"nothing was unregistered");
    }
    const ResultCode unregistered = module.Call(ServerExport::kUnregisterServer);
    if (!Failed(unregistered)) return Success(L"unregistered " + Quoted(path));
    return Failure(unregistered, L"DllUnregisterServer of " + Quoted(path) + L" failed with " +
                                     CodeWithText(unregistered, loader));
}

}  // namespace

std::wstring HexCode(ResultCode code) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    const auto value = static_cast<std::uint32_t>(code);
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xFu];
    return text;
}

RegisterOutcome RunRegisterCommand(const RegisterCommand& command, ServerModuleLoader& loader,
                                   ComPlusCatalogOpener& catalogs) {
    if (!command.error.empty()) {
        return Failure(kInvalidArgument, command.error + L". " + RegisterUsage());
    }
    if (command.action == RegisterAction::kHelp) {
        RegisterOutcome outcome;
        outcome.message = RegisterUsage();
        return outcome;
    }
    const std::wstring path = loader.AbsolutePath(command.dllPath);
    LoadedServer loaded = loader.Load(path);
    if (!loaded.module) {
        // A loader that could not say why still fails the run.
        const ResultCode code =
            loaded.systemError != 0 ? ResultFromSystemError(loaded.systemError) : kUnexpected;
        std::wstring reason = L"error " + std::to_wstring(loaded.systemError);
        if (!loaded.errorText.empty()) reason += L": " + loaded.errorText;
        return Failure(
            code, L"cannot load " + Quoted(path) + L" (" + reason + L", " + HexCode(code) + L")");
    }
    switch (command.action) {
        case RegisterAction::kRegister:
            return Register(path, *loaded.module, loader);
        case RegisterAction::kInstall:
            return InstallHosted(path, *loaded.module, loader, catalogs);
        case RegisterAction::kUninstall:
            return UninstallHosted(path, *loaded.module, loader, catalogs);
        default:
            return Unregister(path, *loaded.module, loader);
    }
}

}  // namespace marl::installer

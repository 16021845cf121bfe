#include "installer/register/RegisterRun.h"

#include <gtest/gtest.h>

#include "installer/register/testing/FakeServerModule.h"

namespace marl::installer {
namespace {

using testing::FakeServerLoader;

constexpr ResultCode kVssVeto = static_cast<ResultCode>(0x80042306u);
constexpr ResultCode kAccessDenied = static_cast<ResultCode>(0x80070005u);
constexpr ResultCode kFalse = 1;  // S_FALSE: a success
constexpr ResultCode kProcNotFound = static_cast<ResultCode>(0x8007007Fu);

const std::wstring kLoad = L"load C:\\here\\p.dll";
const std::wstring kReg = L"DllRegisterServer";
const std::wstring kUnreg = L"DllUnregisterServer";
const std::wstring kUnload = L"unload";
const std::wstring kAsked = L"registered?";

constexpr ResultCode kObjectErrors = static_cast<ResultCode>(0x80110401u);  // COMADMIN_E_
constexpr ResultCode kClassNotRegistered = static_cast<ResultCode>(0x80040154u);
const std::wstring kApp = L"{D4A99159-36FD-4045-9EBF-3E28CA72EB12}";
const std::wstring kOpen = L"open catalog";
const std::wstring kFind = L"find " + kApp;
const std::wstring kCreate = L"create " + kApp + L" Marl VSS Provider";
const std::wstring kComponent = L"component " + kApp + L" C:\\here\\p.dll";
const std::wstring kService = L"service " + kApp + L" marlvssprovider";
const std::wstring kShutdown = L"shutdown " + kApp;
const std::wstring kDeleteService = L"delete service " + kApp;
const std::wstring kRemove = L"remove " + kApp;
// An earlier installation's application with its service.
void Installed(FakeServerLoader& f) {
    f.registeredBefore = true;
    f.complus.applicationThere = true;
    f.complus.serviceThere = true;
}

struct RunCase {
    const char* name;
    RegisterAction action;
    void (*script)(FakeServerLoader&);
    ResultCode exitCode;
    std::vector<std::wstring> events;
    std::wstring message;
};

const std::vector<RunCase>& RunCases() {
    static const std::vector<RunCase> cases = {
        {"registered",
         RegisterAction::kRegister,
         [](FakeServerLoader&) {},
         kOk,
         {kLoad, kAsked, kReg, kUnload},
         L"MarlVssRegister: registered \"C:\\here\\p.dll\""},
        {"S_FALSE is a success",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) { f.results[ServerExport::kRegisterServer] = kFalse; },
         kOk,
         {kLoad, kAsked, kReg, kUnload},
         L"MarlVssRegister: registered \"C:\\here\\p.dll\""},
        {"refused registration is undone",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) { f.results[ServerExport::kRegisterServer] = kVssVeto; },
         kVssVeto,
         {kLoad, kAsked, kReg, kUnreg, kUnload},
         L"MarlVssRegister: DllRegisterServer of \"C:\\here\\p.dll\" failed with 0x80042306; "
         L"what it had registered was removed again"},
        {"failed undo is reported, the registration's code kept",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) {
             f.results[ServerExport::kRegisterServer] = kVssVeto;
             f.results[ServerExport::kUnregisterServer] = kAccessDenied;
             f.texts[kAccessDenied] = L"Access is denied.";
         },
         kVssVeto,
         {kLoad, kAsked, kReg, kUnreg, kUnload},
         L"MarlVssRegister: DllRegisterServer of \"C:\\here\\p.dll\" failed with 0x80042306, and "
         L"DllUnregisterServer failed with 0x80070005 (Access is denied.), so parts of the "
         L"registration may remain"},
        {"failure after an earlier registration undoes nothing",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) {
             f.registeredBefore = true;
             f.results[ServerExport::kRegisterServer] = kVssVeto;
         },
         kVssVeto,
         {kLoad, kAsked, kReg, kUnload},
         L"MarlVssRegister: DllRegisterServer of \"C:\\here\\p.dll\" failed with 0x80042306; "
         L"the registration that was in place before was left as it is"},
        {"no DllRegisterServer",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) { f.exports = {ServerExport::kUnregisterServer}; },
         kProcNotFound,
         {kLoad, kUnload},
         L"MarlVssRegister: \"C:\\here\\p.dll\" does not export DllRegisterServer (0x8007007F); "
         L"nothing was registered"},
        {"no DllUnregisterServer: not registered, a failure could not be undone",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) { f.exports = {ServerExport::kRegisterServer}; },
         kProcNotFound,
         {kLoad, kUnload},
         L"MarlVssRegister: \"C:\\here\\p.dll\" does not export DllUnregisterServer (0x8007007F); "
         L"nothing was registered, since a failed registration could not be undone"},
        {"not loaded",
         RegisterAction::kRegister,
         [](FakeServerLoader& f) {
             f.loadError = 126;
             f.loadErrorText = L"The specified module could not be found.";
         },
         static_cast<ResultCode>(0x8007007Eu),
         {kLoad},
         L"MarlVssRegister: cannot load \"C:\\here\\p.dll\" (error 126: The specified module "
         L"could not be found., 0x8007007E)"},
        {"not loaded, no text",
         RegisterAction::kUnregister,
         [](FakeServerLoader& f) { f.loadError = 193; },
         static_cast<ResultCode>(0x800700C1u),
         {kLoad},
         L"MarlVssRegister: cannot load \"C:\\here\\p.dll\" (error 193, 0x800700C1)"},
        {"unregistered",
         RegisterAction::kUnregister,
         [](FakeServerLoader&) {},
         kOk,
         {kLoad, kUnreg, kUnload},
         L"MarlVssRegister: unregistered \"C:\\here\\p.dll\""},
        {"unregister needs no DllRegisterServer",
         RegisterAction::kUnregister,
         [](FakeServerLoader& f) { f.exports = {ServerExport::kUnregisterServer}; },
         kOk,
         {kLoad, kUnreg, kUnload},
         L"MarlVssRegister: unregistered \"C:\\here\\p.dll\""},
        {"failed unregistration",
         RegisterAction::kUnregister,
         [](FakeServerLoader& f) {
             f.results[ServerExport::kUnregisterServer] = kAccessDenied;
             f.texts[kAccessDenied] = L"Access is denied.";
         },
         kAccessDenied,
         {kLoad, kUnreg, kUnload},
         L"MarlVssRegister: DllUnregisterServer of \"C:\\here\\p.dll\" failed with 0x80070005 "
         L"(Access is denied.)"},
        {"unregister without the export",
         RegisterAction::kUnregister,
         [](FakeServerLoader& f) { f.exports = {ServerExport::kRegisterServer}; },
         kProcNotFound,
         {kLoad, kUnload},
         L"MarlVssRegister: \"C:\\here\\p.dll\" does not export DllUnregisterServer (0x8007007F); "
         L"nothing was unregistered"},
        {"installed: application, component, service",
         RegisterAction::kInstall,
         [](FakeServerLoader&) {},
         kOk,
         {kLoad, kAsked, kOpen, kFind, kCreate, kComponent, kService, kUnload},
         L"MarlVssRegister: installed \"C:\\here\\p.dll\" in the COM+ application \"Marl VSS "
         L"Provider\" {D4A99159-36FD-4045-9EBF-3E28CA72EB12}, run by the service marlvssprovider"},
        {"installed again: the earlier application is replaced",
         RegisterAction::kInstall,
         Installed,
         kOk,
         {kLoad, kAsked, kOpen, kFind, kShutdown, kDeleteService, kRemove, kCreate, kComponent,
          kService, kUnload},
         L"MarlVssRegister: installed \"C:\\here\\p.dll\" in the COM+ application \"Marl VSS "
         L"Provider\" {D4A99159-36FD-4045-9EBF-3E28CA72EB12}, run by the service marlvssprovider"},
        {"an earlier application without its service is replaced too",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) { f.complus.applicationThere = true; },
         kOk,
         {kLoad, kAsked, kOpen, kFind, kShutdown, kDeleteService, kRemove, kCreate, kComponent,
          kService, kUnload},
         L"MarlVssRegister: installed \"C:\\here\\p.dll\" in the COM+ application \"Marl VSS "
         L"Provider\" {D4A99159-36FD-4045-9EBF-3E28CA72EB12}, run by the service marlvssprovider"},
        {"refused component: application removed, registration undone",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) { f.complus.results[L"component"] = kObjectErrors; },
         kObjectErrors,
         {kLoad, kAsked, kOpen, kFind, kCreate, kComponent, kRemove, kUnreg, kUnload},
         L"MarlVssRegister: installing \"C:\\here\\p.dll\" as its component failed with "
         L"0x80110401; what it had done was undone"},
        {"failed service: service, application and registration undone",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) {
             f.complus.results[L"service"] = kAccessDenied;
             f.texts[kAccessDenied] = L"Access is denied.";
         },
         kAccessDenied,
         {kLoad, kAsked, kOpen, kFind, kCreate, kComponent, kService, kDeleteService, kRemove,
          kUnreg, kUnload},
         L"MarlVssRegister: creating the service marlvssprovider for it failed with 0x80070005 "
         L"(Access is denied.); what it had done was undone"},
        {"failure after an earlier installation keeps the earlier registration",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) {
             Installed(f);
             f.complus.results[L"service"] = kAccessDenied;
         },
         kAccessDenied,
         {kLoad, kAsked, kOpen, kFind, kShutdown, kDeleteService, kRemove, kCreate, kComponent,
          kService, kDeleteService, kRemove, kUnload},
         L"MarlVssRegister: creating the service marlvssprovider for it failed with 0x80070005; "
         L"what it had done was undone, the provider's registration that was in place before was "
         L"left as it is"},
        {"failed undo is reported, the failing step's code kept",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) {
             f.complus.results[L"component"] = kObjectErrors;
             f.complus.results[L"remove"] = kAccessDenied;
         },
         kObjectErrors,
         {kLoad, kAsked, kOpen, kFind, kCreate, kComponent, kRemove, kUnreg, kUnload},
         L"MarlVssRegister: installing \"C:\\here\\p.dll\" as its component failed with "
         L"0x80110401, and undoing it failed: removing the COM+ application \"Marl VSS "
         L"Provider\" failed with 0x80070005, so parts of the installation may remain"},
        {"no catalog: nothing installed",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) { f.complus.openResult = kClassNotRegistered; },
         kClassNotRegistered,
         {kLoad, kAsked, kOpen, kUnload},
         L"MarlVssRegister: opening the COM+ catalog failed with 0x80040154; nothing was "
         L"installed"},
        {"earlier application that cannot be removed: nothing installed",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) {
             f.complus.applicationThere = true;
             f.complus.results[L"remove"] = kAccessDenied;
         },
         kAccessDenied,
         {kLoad, kAsked, kOpen, kFind, kShutdown, kDeleteService, kRemove, kUnload},
         L"MarlVssRegister: removing the earlier COM+ application \"Marl VSS Provider\" failed "
         L"with 0x80070005; nothing was installed"},
        {"application not created: nothing to undo",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) { f.complus.results[L"create"] = kAccessDenied; },
         kAccessDenied,
         {kLoad, kAsked, kOpen, kFind, kCreate, kUnload},
         L"MarlVssRegister: creating the COM+ application \"Marl VSS Provider\" failed with "
         L"0x80070005; nothing was installed"},
        {"install without DllUnregisterServer: a failure could not be undone",
         RegisterAction::kInstall,
         [](FakeServerLoader& f) { f.exports = {ServerExport::kRegisterServer}; },
         kProcNotFound,
         {kLoad, kUnload},
         L"MarlVssRegister: \"C:\\here\\p.dll\" does not export DllUnregisterServer (0x8007007F); "
         L"nothing was installed, since a failed registration could not be undone"},
        {"uninstalled: service, application, registration",
         RegisterAction::kUninstall,
         Installed,
         kOk,
         {kLoad, kOpen, kFind, kShutdown, kDeleteService, kRemove, kUnreg, kUnload},
         L"MarlVssRegister: uninstalled \"C:\\here\\p.dll\": the COM+ application \"Marl VSS "
         L"Provider\", its service and the DLL's registration are gone"},
        {"uninstall without an application only unregisters",
         RegisterAction::kUninstall,
         [](FakeServerLoader&) {},
         kOk,
         {kLoad, kOpen, kFind, kUnreg, kUnload},
         L"MarlVssRegister: uninstalled \"C:\\here\\p.dll\": the COM+ application \"Marl VSS "
         L"Provider\", its service and the DLL's registration are gone"},
        {"uninstall goes on after a failed step",
         RegisterAction::kUninstall,
         [](FakeServerLoader& f) {
             Installed(f);
             f.complus.results[L"delete service"] = kAccessDenied;
         },
         kAccessDenied,
         {kLoad, kOpen, kFind, kShutdown, kDeleteService, kRemove, kUnreg, kUnload},
         L"MarlVssRegister: uninstalling \"C:\\here\\p.dll\": deleting the service "
         L"marlvssprovider failed with 0x80070005; everything else was removed"},
        {"uninstall without a catalog still unregisters",
         RegisterAction::kUninstall,
         [](FakeServerLoader& f) { f.complus.openResult = kClassNotRegistered; },
         kClassNotRegistered,
         {kLoad, kOpen, kUnreg, kUnload},
         L"MarlVssRegister: uninstalling \"C:\\here\\p.dll\": opening the COM+ catalog failed "
         L"with 0x80040154; everything else was removed"},
    };
    return cases;
}

TEST(RegisterRun, CallsTheExportsAndReportsTheOutcome) {
    for (const RunCase& c : RunCases()) {
        SCOPED_TRACE(c.name);
        FakeServerLoader loader;
        c.script(loader);
        RegisterCommand command;
        command.action = c.action;
        command.dllPath = L"p.dll";
        const RegisterOutcome outcome = RunRegisterCommand(command, loader, loader.catalogs);
        EXPECT_EQ(HexCode(outcome.exitCode), HexCode(c.exitCode));
        EXPECT_EQ(outcome.isError, c.exitCode != kOk);
        EXPECT_EQ(loader.events, c.events);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.message.find_first_of(L"\r\n"), std::wstring::npos);
    }
}

TEST(RegisterRun, LoaderThatGivesNoReasonStillFails) {
    struct : FakeServerLoader {
        LoadedServer Load(const std::wstring&) override { return {}; }
    } silent;
    RegisterCommand command;
    command.action = RegisterAction::kRegister;
    command.dllPath = L"p.dll";
    const RegisterOutcome outcome = RunRegisterCommand(command, silent, silent.catalogs);
    EXPECT_EQ(HexCode(outcome.exitCode), L"0x8000FFFF");
    EXPECT_TRUE(outcome.isError);
    EXPECT_EQ(outcome.message,
              L"MarlVssRegister: cannot load \"C:\\here\\p.dll\" (error 0, 0x8000FFFF)");
}

TEST(RegisterRun, BadCommandLineLoadsNothing) {
    FakeServerLoader loader;
    const RegisterOutcome outcome =
        RunRegisterCommand(ParseRegisterCommand({L"/u", L"p.dll"}), loader, loader.catalogs);
    EXPECT_EQ(HexCode(outcome.exitCode), L"0x80070057");
    EXPECT_TRUE(outcome.isError);
    EXPECT_EQ(outcome.message,
              L"MarlVssRegister: unknown switch /u. Usage: MarlVssRegister.exe "
              L"/register|/unregister|/install|/uninstall <dll path>");
    EXPECT_TRUE(loader.events.empty());
}

TEST(RegisterRun, HelpPrintsTheUsageAndSucceeds) {
    FakeServerLoader loader;
    const RegisterOutcome outcome =
        RunRegisterCommand(ParseRegisterCommand({L"/?"}), loader, loader.catalogs);
    EXPECT_EQ(outcome.exitCode, kOk);
    EXPECT_FALSE(outcome.isError);
    EXPECT_EQ(outcome.message, RegisterUsage());
    EXPECT_TRUE(loader.events.empty());
}

}  // namespace
}  // namespace marl::installer

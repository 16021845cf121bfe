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
        const RegisterOutcome outcome = RunRegisterCommand(command, loader);
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
    const RegisterOutcome outcome = RunRegisterCommand(command, silent);
    EXPECT_EQ(HexCode(outcome.exitCode), L"0x8000FFFF");
    EXPECT_TRUE(outcome.isError);
    EXPECT_EQ(outcome.message,
              L"MarlVssRegister: cannot load \"C:\\here\\p.dll\" (error 0, 0x8000FFFF)");
}

TEST(RegisterRun, BadCommandLineLoadsNothing) {
    FakeServerLoader loader;
    const RegisterOutcome outcome =
        RunRegisterCommand(ParseRegisterCommand({L"/u", L"p.dll"}), loader);
    EXPECT_EQ(HexCode(outcome.exitCode), L"0x80070057");
    EXPECT_TRUE(outcome.isError);
    EXPECT_EQ(outcome.message,
              L"MarlVssRegister: unknown switch /u. Usage: MarlVssRegister.exe "
              L"/register|/unregister <dll path>");
    EXPECT_TRUE(loader.events.empty());
}

TEST(RegisterRun, HelpPrintsTheUsageAndSucceeds) {
    FakeServerLoader loader;
    const RegisterOutcome outcome = RunRegisterCommand(ParseRegisterCommand({L"/?"}), loader);
    EXPECT_EQ(outcome.exitCode, kOk);
    EXPECT_FALSE(outcome.isError);
    EXPECT_EQ(outcome.message, RegisterUsage());
    EXPECT_TRUE(loader.events.empty());
}

}  // namespace
}  // namespace marl::installer

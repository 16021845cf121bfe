#include "installer/register/RegisterCommand.h"

#include <gtest/gtest.h>

namespace marl::installer {
namespace {

struct ParseCase {
    const char* name;
    std::vector<std::wstring> args;
    RegisterAction action;
    std::wstring path;
    std::wstring error;  // empty: valid
};

TEST(RegisterCommand, ParsesEachForm) {
    const std::vector<ParseCase> cases = {
        {"register",
         {L"/register", L"C:\\a b\\p.dll"},
         RegisterAction::kRegister,
         L"C:\\a b\\p.dll",
         L""},
        {"unregister", {L"/unregister", L"p.dll"}, RegisterAction::kUnregister, L"p.dll", L""},
        {"dash and case", {L"-REGISTER", L"p.dll"}, RegisterAction::kRegister, L"p.dll", L""},
        {"mixed case", {L"/UnRegister", L"p.dll"}, RegisterAction::kUnregister, L"p.dll", L""},
        {"install", {L"/install", L"p.dll"}, RegisterAction::kInstall, L"p.dll", L""},
        {"uninstall", {L"-UNINSTALL", L"p.dll"}, RegisterAction::kUninstall, L"p.dll", L""},
        {"install without a path",
         {L"/install"},
         RegisterAction::kHelp,
         L"",
         L"no DLL path after /install"},
        {"help", {L"/?"}, RegisterAction::kHelp, L"", L""},
        {"help word", {L"-help"}, RegisterAction::kHelp, L"", L""},
        {"nothing", {}, RegisterAction::kHelp, L"", L"no action given"},
        {"path first",
         {L"p.dll", L"/register"},
         RegisterAction::kHelp,
         L"",
         L"the first argument must be a switch: /register, /unregister, /install or /uninstall"},
        {"bare slash",
         {L"/", L"p.dll"},
         RegisterAction::kHelp,
         L"",
         L"the first argument must be a switch: /register, /unregister, /install or /uninstall"},
        {"regsvr32's switch", {L"/u", L"p.dll"}, RegisterAction::kHelp, L"", L"unknown switch /u"},
        {"no path", {L"/register"}, RegisterAction::kHelp, L"", L"no DLL path after /register"},
        {"empty path",
         {L"/unregister", L""},
         RegisterAction::kHelp,
         L"",
         L"no DLL path after /unregister"},
        {"two paths",
         {L"/register", L"a.dll", L"b.dll"},
         RegisterAction::kHelp,
         L"",
         L"more than one DLL path after /register"},
        {"help with more",
         {L"/?", L"p.dll"},
         RegisterAction::kHelp,
         L"",
         L"/? takes no other argument"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const RegisterCommand command = ParseRegisterCommand(c.args);
        EXPECT_EQ(command.error, c.error);
        if (!c.error.empty()) continue;
        EXPECT_EQ(command.action, c.action);
        EXPECT_EQ(command.dllPath, c.path);
    }
}

}  // namespace
}  // namespace marl::installer

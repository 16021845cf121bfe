#include "installer/register/RegisterCommand.h"

#include <cwctype>

namespace marl::installer {
namespace {

std::wstring Lower(const std::wstring& text) {
    std::wstring lower = text;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return lower;
}

bool IsSwitch(const std::wstring& arg) {
    return arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-');
}

RegisterCommand Invalid(std::wstring error) {
    RegisterCommand command;
    command.error = std::move(error);
    return command;
}

}  // namespace

const wchar_t* RegisterUsage() {
    return L"Usage: MarlVssRegister.exe /register|/unregister|/install|/uninstall <dll path>";
}

RegisterCommand ParseRegisterCommand(const std::vector<std::wstring>& args) {
    if (args.empty()) return Invalid(L"no action given");
    const std::wstring& first = args[0];
    if (!IsSwitch(first))
        return Invalid(
            L"the first argument must be a switch: /register, /unregister, /install or /uninstall");
    const std::wstring name = Lower(first.substr(1));

    RegisterCommand command;
    if (name == L"?" || name == L"help") {
        if (args.size() > 1) return Invalid(L"/? takes no other argument");
        return command;
    }
    if (name == L"register") {
        command.action = RegisterAction::kRegister;
    } else if (name == L"unregister") {
        command.action = RegisterAction::kUnregister;
    } else if (name == L"install") {
        command.action = RegisterAction::kInstall;
    } else if (name == L"uninstall") {
        command.action = RegisterAction::kUninstall;
    } else {
        return Invalid(L"unknown switch " + first);
    }
    if (args.size() < 2 || args[1].empty()) return Invalid(L"no DLL path after " + first);
    if (args.size() > 2) return Invalid(L"more than one DLL path after " + first);
    command.dllPath = args[1];
    return command;
}

}  // namespace marl::installer

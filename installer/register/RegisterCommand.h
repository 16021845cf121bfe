#pragma once
// The command line of MarlVssRegister.exe:
//
//   MarlVssRegister.exe /register <dll path>
//   MarlVssRegister.exe /unregister <dll path>
//   MarlVssRegister.exe /install <dll path>
//   MarlVssRegister.exe /uninstall <dll path>
//   MarlVssRegister.exe /?
//
// A switch may start with "/" or "-" and is matched without regard to case.
// Exactly one switch and, except after "/?", exactly one path. Pure; safe on
// any thread.
#include <string>
#include <vector>

namespace marl::installer {

enum class RegisterAction { kRegister, kUnregister, kInstall, kUninstall, kHelp };

struct RegisterCommand {
    RegisterAction action = RegisterAction::kHelp;
    std::wstring dllPath;
    // Empty when the command line is valid; otherwise what is wrong with it,
    // as one sentence without a final full stop.
    std::wstring error;
};

// `args` are the arguments after the program name.
RegisterCommand ParseRegisterCommand(const std::vector<std::wstring>& args);

// "Usage: MarlVssRegister.exe /register|/unregister|/install|/uninstall <dll path>".
const wchar_t* RegisterUsage();

}  // namespace marl::installer

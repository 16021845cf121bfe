#pragma once
// The Windows ServerModuleLoader: LoadLibraryExW with the DLL's own folder
// searched first for its dependencies, GetProcAddress for the two exports,
// FormatMessageW for error texts. Load failures never show a system error
// box (an unattended installation must not wait for a click).
#include <memory>

#include "installer/register/ServerModule.h"

namespace marl::installer {

std::unique_ptr<ServerModuleLoader> MakeSystemServerLoader();

}  // namespace marl::installer

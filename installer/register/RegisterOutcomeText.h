#pragma once
// The wording every action of MarlVssRegister.exe shares (RegisterRun.cpp,
// ComPlusRun.cpp): one line, prefixed "MarlVssRegister: ", naming the DLL in
// quotes and each code in hex with the system's text where it has one.
#include <optional>
#include <string>

#include "installer/register/RegisterRun.h"

namespace marl::installer {

inline constexpr const wchar_t* kTool = L"MarlVssRegister: ";

std::wstring Quoted(const std::wstring& path);
// "0x80070005 (Access is denied.)", or the bare code when the system has no
// text for it.
std::wstring CodeWithText(ResultCode code, ServerModuleLoader& loader);
RegisterOutcome Success(std::wstring message);
// A failure with `code` as exit code (E_UNEXPECTED when `code` is no failure).
RegisterOutcome Failure(ResultCode code, std::wstring message);
RegisterOutcome MissingExport(const std::wstring& path, ServerExport which,
                              const std::wstring& consequence);
// The failure when `module` lacks either export (a registration that could
// not be undone is not started), else nothing. `nothingDone` ends the message.
std::optional<RegisterOutcome> CheckBothExports(const std::wstring& path, ServerModule& module,
                                                const std::wstring& nothingDone);

}  // namespace marl::installer

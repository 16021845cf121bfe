#pragma once
// What MarlVssRegister.exe does with a parsed command line.
//
// /register: loads the DLL, calls DllRegisterServer; when that fails, calls
// DllUnregisterServer at once so that nothing of a half registration stays
// (COM class entries written before VSS refused the provider, say), and
// reports the failure. When the provider was already registered before the
// run, a failure is reported and nothing is undone: the undo would remove the
// registration the host had. A DLL that lacks DllUnregisterServer is not
// registered at all, since a failure could not be undone.
// /unregister: loads the DLL and calls DllUnregisterServer.
// /install and /uninstall: the provider hosted as a COM+ server application
// with its Windows service, through the COM+ catalog (ComPlusRun.h).
//
// The exit code is the result: 0 after a success, otherwise the failing
// HRESULT (DllRegisterServer's, DllUnregisterServer's, the load failure's as
// HRESULT_FROM_WIN32, 0x8007007F for a missing export, E_INVALIDARG for a bad
// command line), so that an installer's log shows the code even where the
// message is not kept.
//
// The message is one line without a line end: on stdout after a success (and
// for /?), on stderr otherwise. Every failure message names the DLL and the
// code in hex. No exception leaves RunRegisterCommand except std::bad_alloc.
#include <string>

#include "installer/register/ComPlusCatalog.h"
#include "installer/register/RegisterCommand.h"
#include "installer/register/ServerModule.h"

namespace marl::installer {

struct RegisterOutcome {
    ResultCode exitCode = kOk;
    std::wstring message;
    bool isError = false;
};

// `catalogs` is opened only by /install and /uninstall.
RegisterOutcome RunRegisterCommand(const RegisterCommand& command, ServerModuleLoader& loader,
                                   ComPlusCatalogOpener& catalogs);

// "0x80042306": a code as eight upper-case hex digits.
std::wstring HexCode(ResultCode code);

}  // namespace marl::installer

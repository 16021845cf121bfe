#pragma once
// Registration of the type library "MarlVssProviderLib", a TYPELIB resource of
// the DLL, as ATL would do it: LoadTypeLibEx with REGKIND_REGISTER on the
// module's path (which writes TypeLib\{id} and the interface entries), and
// UnRegisterTypeLib with the library's own id, version, locale and kind.
//
// Failure: the HRESULT of the OLE call that failed. Unregistering a library
// that is not registered is S_OK. Needs no COM initialisation.
#include <windows.h>

#include <string>

namespace marl::com {

HRESULT RegisterModuleTypeLib(const std::wstring& modulePath);
HRESULT UnregisterModuleTypeLib(const std::wstring& modulePath);

}  // namespace marl::com

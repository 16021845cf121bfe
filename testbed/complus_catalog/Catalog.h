#pragma once
// The stand-in COM+ administration catalog's objects (test-only): the
// catalog (ICOMAdminCatalog2), the Applications collection
// (ICatalogCollection) and its application objects (ICatalogObject). Every
// call is recorded in the CatalogStore; what the catalog is given is checked
// against the documented collection names, property names, value types and
// arguments, and anything else is refused (E_INVALIDARG, or the COMADMIN_E_
// code the documentation names). Calls the installer has no use for answer
// E_NOTIMPL and are recorded as "unsupported <method>".
//
// Installing a component loads the DLL and calls its DllRegisterServer, as
// the real catalog does; creating an application's service creates a real
// service in Wine's service manager that runs the surrogate.
#include <comadmin.h>
#include <objbase.h>
#include <windows.h>

namespace marl::testcatalog {

// A new catalog answering `riid`; `module` is the stand-in's DLL, beside
// which the surrogate program lies.
HRESULT CreateCatalog(HINSTANCE module, REFIID riid, void** ppv);

}  // namespace marl::testcatalog

#pragma once
// The COM registration of the provider class under HKEY_CLASSES_ROOT: what an
// ATL module's two registry scripts would write (the module's application id,
// and the class with its ProgIDs), as plain data and two functions.
//
// Registration removes CLSID\{class id} whole first, so nothing of an older
// registration survives below it, then writes every entry. Unregistration
// removes the class key, both ProgID keys and both application-id keys with
// everything below them; a key that is already gone is not an error. The keys
// AppID and CLSID themselves are never removed.
//
// Failure: a registry call that fails stops registration, and its Win32 error
// is returned as an HRESULT; unregistration still tries every key and returns
// the first failure. Not thread-safe (registration runs once, from
// regsvr32 or an installer).
#include <windows.h>

#include <string>
#include <vector>

namespace marl::com {

struct RegistryEntry {
    std::wstring key;        // below HKEY_CLASSES_ROOT
    std::wstring valueName;  // empty: the key's default value
    std::wstring value;      // REG_SZ
};

// Every entry registration writes, in order; `modulePath` is the DLL's full
// path (the InprocServer32 value).
std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath);

// The keys unregistration removes, each with everything below it.
std::vector<std::wstring> RegistrationKeys();

HRESULT WriteClassRegistration(const std::wstring& modulePath);
HRESULT RemoveClassRegistration();

}  // namespace marl::com

#pragma once
// What the stand-in VSS coordinator remembers, kept in the registry of the
// Wine prefix (HKEY_LOCAL_MACHINE\Software\Marl\TestVssCoordinator) so that a
// later process, a test reading back what regsvr32 did, sees it:
//
//   Providers\{provider id}  ClassId, Name, Type (DWORD), Version, VersionId
//   Calls                    "0001", "0002", ...: one text per IVssAdmin call
//   FailWith (DWORD)         when present, RegisterProvider and
//                            UnregisterProvider answer this and change nothing
//                            (the call is still logged)
//
// Test-only code: used by the stand-in DLL and by the tests that drive it.
// Not thread-safe; every function opens and closes its own keys.
#include <windows.h>

#include <string>
#include <vector>

namespace marl::testcoordinator {

struct ProviderRecord {
    GUID providerId{};
    GUID classId{};
    std::wstring name;
    DWORD type = 0;
    std::wstring version;
    GUID versionId{};
};

// Registry path below HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kStoreKey[] = L"Software\\Marl\\TestVssCoordinator";

// Braced upper-case text of a GUID, and back (false for a malformed text).
std::wstring GuidText(const GUID& guid);
bool ParseGuid(const std::wstring& text, GUID& guid);

HRESULT SaveProvider(const ProviderRecord& record);
// S_OK when it was removed, S_FALSE when there was none.
HRESULT RemoveProvider(const GUID& providerId);
std::vector<ProviderRecord> LoadProviders();

// Appends one line to Calls.
void LogCall(const std::wstring& line);
std::vector<std::wstring> LoggedCalls();

// The failure switch; S_OK clears it.
void SetFailure(HRESULT hr);
HRESULT Failure();

// Forgets every provider, call and failure.
void ClearStore();

}  // namespace marl::testcoordinator

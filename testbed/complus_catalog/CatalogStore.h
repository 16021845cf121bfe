#pragma once
// What the stand-in COM+ catalog remembers, in the registry of the Wine prefix
// (HKEY_LOCAL_MACHINE\Software\Marl\TestComPlusCatalog), so that the
// installer's processes, the surrogate service and the test see one catalog:
//
//   Applications\{id}             one key per saved application: a value per
//                                 property set (texts REG_SZ, numbers and
//                                 flags REG_DWORD), and "Service", the name of
//                                 its service once one was created
//   Applications\{id}\Components  "0001", ...: the DLLs installed into it
//   Calls                         "0001", ...: one text per call, in order
//
// Test-only. Not thread-safe; every function opens and closes its own keys.
#include <windows.h>

#include <string>
#include <vector>

namespace marl::testcatalog {

inline constexpr wchar_t kStoreKey[] = L"Software\\Marl\\TestComPlusCatalog";

// A property value as the catalog keeps it: a text, or a number (Long and
// Bool properties).
struct PropertyValue {
    bool isText = true;
    std::wstring text;
    DWORD number = 0;
};

struct ApplicationRecord {
    std::wstring id;  // braced, as given
    std::vector<std::pair<std::wstring, PropertyValue>> properties;
};

std::vector<ApplicationRecord> LoadApplications();
HRESULT SaveApplication(const ApplicationRecord& record);
void RemoveApplicationRecord(const std::wstring& id);

// The saved application whose id or name is `idOrName` (ids compared without
// regard to case), in `id`; false when there is none.
bool FindApplication(const std::wstring& idOrName, std::wstring& id);

void AddComponent(const std::wstring& id, const std::wstring& dll);
// Whether any application holds `dll` (compared without regard to case).
bool ComponentInstalled(const std::wstring& dll);

void SetService(const std::wstring& id, const std::wstring& service);
std::wstring Service(const std::wstring& id);  // "" when none
void ClearService(const std::wstring& id);

void LogCall(const std::wstring& line);

}  // namespace marl::testcatalog

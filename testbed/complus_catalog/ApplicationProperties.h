#pragma once
// The properties of the Applications collection's objects as the COM+
// administration documentation lists them, with their types and access, so
// that the stand-in catalog refuses a misspelt name or a value of the wrong
// type the way the real catalog does (test-only).
#include <string>

namespace marl::testcatalog {

enum class PropertyType { kText, kLong, kBool };
enum class PropertyAccess { kReadWrite, kReadOnly, kWriteOnce, kWriteOnly };

struct PropertyInfo {
    const wchar_t* name;
    PropertyType type;
    PropertyAccess access;
};

// The documented property `name` (exact spelling), or null.
const PropertyInfo* FindApplicationProperty(const std::wstring& name);

}  // namespace marl::testcatalog

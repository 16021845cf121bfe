#pragma once
// The product's identifiers (ProductIds.h) as GUID values and registry texts,
// and the ids of the VSS coordinator this module registers with.
//
// Header-only and free of side effects: the DLL, its tests, the harness and the
// coordinator stand-in all include it, so every one of them names the same
// class and provider.
#include <objbase.h>
#include <windows.h>

#include "common/ProductVersion.h"
#include "provider/com/ProductIds.h"

namespace marl::com {

namespace detail {

constexpr unsigned HexDigit(char c) {
    return c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
           : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                  : throw "not a hexadecimal digit";
}

constexpr unsigned long long Hex(const char* text, int from, int count) {
    unsigned long long value = 0;
    for (int i = 0; i < count; ++i) value = value * 16 + HexDigit(text[from + i]);
    return value;
}

constexpr unsigned char Byte(const char* text, int from) {
    return static_cast<unsigned char>(Hex(text, from, 2));
}

}  // namespace detail

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" to a GUID, at compile time: a
// malformed text does not compile.
template <size_t N>
constexpr GUID GuidFromText(const char (&t)[N]) {
    static_assert(N == 37, "a GUID text has 36 characters");
    using detail::Byte;
    using detail::Hex;
    return (t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
               ? throw "malformed GUID text"
               : GUID{static_cast<unsigned long>(Hex(t, 0, 8)),
                      static_cast<unsigned short>(Hex(t, 9, 4)),
                      static_cast<unsigned short>(Hex(t, 14, 4)),
                      {Byte(t, 19), Byte(t, 21), Byte(t, 24), Byte(t, 26), Byte(t, 28), Byte(t, 30),
                       Byte(t, 32), Byte(t, 34)}};
}

inline constexpr GUID kClsidQProvider = GuidFromText(MARL_CLSID_QPROVIDER_TEXT);
inline constexpr GUID kVssProviderId = GuidFromText(MARL_VSS_PROVIDER_ID_TEXT);
inline constexpr GUID kVssProviderVersionId = GuidFromText(MARL_VSS_PROVIDER_VERSION_ID_TEXT);
inline constexpr GUID kTypeLibId = GuidFromText(MARL_TYPELIB_ID_TEXT);
inline constexpr GUID kAppId = GuidFromText(MARL_APPID_TEXT);

// The braced forms the registry holds.
#define MARL_WIDE_TEXT_(text) L##text
#define MARL_WIDE_TEXT(text) MARL_WIDE_TEXT_(text)
#define MARL_BRACED_W(text) L"{" MARL_WIDE_TEXT(text) L"}"
inline constexpr wchar_t kClsidQProviderBraced[] = MARL_BRACED_W(MARL_CLSID_QPROVIDER_TEXT);
inline constexpr wchar_t kTypeLibIdBraced[] = MARL_BRACED_W(MARL_TYPELIB_ID_TEXT);
inline constexpr wchar_t kAppIdBraced[] = MARL_BRACED_W(MARL_APPID_TEXT);
#undef MARL_BRACED_W
#undef MARL_WIDE_TEXT
#undef MARL_WIDE_TEXT_

// The VSS coordinator (the service's COM class) and its administration
// interface, through which providers are registered.
inline constexpr GUID kClsidVssCoordinator = GuidFromText("E579AB5F-1CC4-44B4-BED9-DE0991FF0623");
inline constexpr GUID kIidIVssAdmin = GuidFromText("77ED5996-2F63-11D3-8A39-00C04F72D8E3");
inline constexpr wchar_t kClsidVssCoordinatorBraced[] = L"{E579AB5F-1CC4-44B4-BED9-DE0991FF0623}";

// The COM+ administration catalog (COMAdmin.COMAdminCatalog), through which
// the installer hosts the provider as a COM+ server application.
inline constexpr GUID kClsidComAdminCatalog = GuidFromText("F618C514-DFB8-11D1-A2CF-00805FC79235");
inline constexpr wchar_t kClsidComAdminCatalogBraced[] = L"{F618C514-DFB8-11D1-A2CF-00805FC79235}";

// What VSS is told about the provider.
inline constexpr wchar_t kVssProviderName[] = L"Marl HW Provider";
inline constexpr const wchar_t* kVssProviderVersion = marl::kProductVersion;

}  // namespace marl::com

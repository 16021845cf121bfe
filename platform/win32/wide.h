#pragma once
// Conversions between the system's narrow texts and Windows' wide ones.
#include <windows.h>

#include <string>

namespace marl::platform {

// Narrow texts in this system are in the active code page.
inline std::wstring Widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

}  // namespace marl::platform

#pragma once
// The registry below HKEY_LOCAL_MACHINE as the stand-ins' store: what a
// stand-in records there outlives its process, so that a test reads back what
// regsvr32, msiexec or a service did. Test-only; not thread-safe.
#include <windows.h>

#include <string>
#include <vector>

namespace marl::standin {

// An open key below HKEY_LOCAL_MACHINE that closes itself; Get() is null
// when it could not be opened (or created).
class StoreKey {
  public:
    StoreKey(const std::wstring& path, bool create) {
        LONG error =
            create ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &m_key, nullptr)
                   : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &m_key);
        if (error != ERROR_SUCCESS) m_key = nullptr;
    }
    ~StoreKey() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
    }
    StoreKey(const StoreKey&) = delete;
    StoreKey& operator=(const StoreKey&) = delete;
    HKEY Get() const { return m_key; }

    bool SetText(const wchar_t* name, const std::wstring& value) const {
        DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(m_key, name, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                bytes) == ERROR_SUCCESS;
    }
    bool SetNumber(const wchar_t* name, DWORD value) const {
        return ::RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value) == ERROR_SUCCESS;
    }
    std::wstring Text(const wchar_t* name) const {
        wchar_t buffer[1024] = {};
        DWORD bytes = sizeof buffer - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                               &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            return std::wstring();
        return buffer;
    }
    bool Number(const wchar_t* name, DWORD& value) const {
        DWORD bytes = sizeof value;
        DWORD type = 0;
        return ::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                  &bytes) == ERROR_SUCCESS &&
               type == REG_DWORD;
    }
    std::vector<std::wstring> Subkeys() const {
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (::RegEnumKeyExW(m_key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        return names;
    }
    std::vector<std::wstring> ValueNames() const {
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (::RegEnumValueW(m_key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        return names;
    }

  private:
    HKEY m_key = nullptr;
};

// Appends `line` to the key `path` as the next of the values "0001", "0002",
// ...; and those values in order.
void AppendLine(const std::wstring& path, const std::wstring& line);
std::vector<std::wstring> Lines(const std::wstring& path);

}  // namespace marl::standin

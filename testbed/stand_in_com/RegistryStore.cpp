#include "RegistryStore.h"

#include <algorithm>
#include <cwchar>

namespace marl::standin {

void AppendLine(const std::wstring& path, const std::wstring& line) {
    StoreKey lines(path, true);
    if (lines.Get() == nullptr) return;
    wchar_t name[16];
    std::swprintf(name, 16, L"%04u", static_cast<unsigned>(lines.ValueNames().size() + 1));
    lines.SetText(name, line);
}

std::vector<std::wstring> Lines(const std::wstring& path) {
    std::vector<std::wstring> lines;
    StoreKey key(path, false);
    if (key.Get() == nullptr) return lines;
    std::vector<std::wstring> names = key.ValueNames();
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) lines.push_back(key.Text(name.c_str()));
    return lines;
}

}  // namespace marl::standin

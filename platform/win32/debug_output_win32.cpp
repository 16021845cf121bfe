#include <windows.h>

namespace marl::platform {

void SystemDebugOutput(const wchar_t* text) { ::OutputDebugStringW(text); }

}  // namespace marl::platform

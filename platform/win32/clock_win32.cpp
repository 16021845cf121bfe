#include <windows.h>

#include "platform/clock.h"

namespace marl::platform {

LocalTime GetLocalTimeNow() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth,  st.wDay,         st.wHour,
                     st.wMinute, st.wSecond, st.wMilliseconds};
}

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

void SleepMilliseconds(uint32_t ms) { ::Sleep(ms); }

}  // namespace marl::platform

#include "provider/com/ComModule.h"

#include "provider/VssAsync.h"

CQVssProviderModule& Module() {
    static CQVssProviderModule module;
    return module;
}

std::wstring CQVssProviderModule::ModulePath() const {
    // Long paths are rare but possible; grow the buffer until the name fits.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::wstring path(size, L'\0');
        DWORD length = ::GetModuleFileNameW(m_instance, &path[0], size);
        if (length == 0) return std::wstring();
        if (length < size) {
            path.resize(length);
            return path;
        }
    }
    return std::wstring();
}

void CQVssProviderModule::LockServer(bool lock) {
    if (lock) {
        ++m_serverLocks;
        return;
    }
    long locks = m_serverLocks.load();
    while (locks > 0 && !m_serverLocks.compare_exchange_weak(locks, locks - 1)) {
    }
}

HRESULT CQVssProviderModule::CanUnloadNow() const {
    return LockCount() == 0 && CVssAsync::LiveObjects() == 0 ? S_OK : S_FALSE;
}

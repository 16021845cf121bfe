#include "CatalogServices.h"

namespace marl::testcatalog {
namespace {

constexpr wchar_t kSurrogate[] = L"marl_complus_surrogate.exe";

// A service manager or service handle that closes itself.
class Handle {
  public:
    explicit Handle(SC_HANDLE handle) : m_handle(handle) {}
    ~Handle() {
        if (m_handle != nullptr) ::CloseServiceHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    SC_HANDLE Get() const { return m_handle; }

  private:
    SC_HANDLE m_handle;
};

HRESULT LastError() { return HRESULT_FROM_WIN32(::GetLastError()); }

std::wstring SurrogatePath(HINSTANCE catalogModule) {
    wchar_t path[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(catalogModule, path, MAX_PATH * 4);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + kSurrogate;
}

}  // namespace

HRESULT CreateSurrogateService(HINSTANCE catalogModule, const std::wstring& service,
                               const std::wstring& displayName, DWORD startType, DWORD errorControl,
                               const std::wstring& applicationId) {
    Handle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.Get() == nullptr) return LastError();
    const std::wstring command =
        L"\"" + SurrogatePath(catalogModule) + L"\" " + service + L" " + applicationId;
    // No account: LocalSystem.
    Handle created(::CreateServiceW(manager.Get(), service.c_str(), displayName.c_str(),
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType,
                                    errorControl, command.c_str(), nullptr, nullptr, nullptr,
                                    nullptr, nullptr));
    return created.Get() != nullptr ? S_OK : LastError();
}

HRESULT StopServiceAndWait(const std::wstring& service) {
    Handle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr) return LastError();
    Handle opened(
        ::OpenServiceW(manager.Get(), service.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (opened.Get() == nullptr) return LastError();
    SERVICE_STATUS status{};
    if (!::ControlService(opened.Get(), SERVICE_CONTROL_STOP, &status) &&
        ::GetLastError() == ERROR_SERVICE_NOT_ACTIVE) {
        return S_OK;
    }
    for (int i = 0; i < 100; ++i) {
        if (::QueryServiceStatus(opened.Get(), &status) &&
            status.dwCurrentState == SERVICE_STOPPED) {
            return S_OK;
        }
        ::Sleep(100);
    }
    return HRESULT_FROM_WIN32(ERROR_SERVICE_REQUEST_TIMEOUT);
}

HRESULT DeleteServiceNamed(const std::wstring& service) {
    Handle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr) return LastError();
    Handle opened(::OpenServiceW(manager.Get(), service.c_str(), DELETE));
    if (opened.Get() == nullptr) {
        return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? S_OK : LastError();
    }
    return ::DeleteService(opened.Get()) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE
               ? S_OK
               : LastError();
}

}  // namespace marl::testcatalog

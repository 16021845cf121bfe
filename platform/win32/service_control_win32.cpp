// Service control through the Windows Service Control Manager.
#include <windows.h>

#include "platform/service_control.h"
#include "platform/win32/wide.h"

namespace marl::platform {
namespace {

class ScmServiceControl : public ServiceControl {
  public:
    ServiceHandle OpenManager(uint32_t access) override {
        return Result(OpenSCManagerW(nullptr, nullptr, access));
    }
    ServiceHandle OpenNamedService(ServiceHandle manager, const std::string& name,
                                   uint32_t access) override {
        return Result(OpenServiceW(static_cast<SC_HANDLE>(manager), Widen(name).c_str(), access));
    }
    bool Stop(ServiceHandle service) override {
        SERVICE_STATUS status{};
        return Result(
            ControlService(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status));
    }
    bool QueryState(ServiceHandle service, uint32_t& state) override {
        SERVICE_STATUS status{};
        if (!Result(QueryServiceStatus(static_cast<SC_HANDLE>(service), &status))) return false;
        state = status.dwCurrentState;
        return true;
    }
    bool Start(ServiceHandle service) override {
        return Result(StartServiceW(static_cast<SC_HANDLE>(service), 0, nullptr));
    }
    void CloseHandle(ServiceHandle handle) override {
        if (handle) CloseServiceHandle(static_cast<SC_HANDLE>(handle));
    }
    uint32_t LastError() const override { return m_lastError; }

  private:
    ServiceHandle Result(SC_HANDLE handle) {
        m_lastError = handle ? 0 : GetLastError();
        return handle;
    }
    bool Result(BOOL ok) {
        m_lastError = ok ? 0 : GetLastError();
        return ok != FALSE;
    }
    uint32_t m_lastError = 0;
};

}  // namespace

std::unique_ptr<ServiceControl> MakeSystemServiceControl() {
    return std::make_unique<ScmServiceControl>();
}

}  // namespace marl::platform

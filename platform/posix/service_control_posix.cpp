// There is no Windows service manager here: opening it fails with the code
// Windows gives for an unsupported request, and the caller logs it as such.
#include "platform/service_control.h"

namespace marl::platform {
namespace {

class NoServiceControl : public ServiceControl {
  public:
    ServiceHandle OpenManager(uint32_t) override { return Fail(); }
    ServiceHandle OpenNamedService(ServiceHandle, const std::string&, uint32_t) override {
        return Fail();
    }
    bool Stop(ServiceHandle) override { return Fail() != nullptr; }
    bool QueryState(ServiceHandle, uint32_t&) override { return Fail() != nullptr; }
    bool Start(ServiceHandle) override { return Fail() != nullptr; }
    void CloseHandle(ServiceHandle) override {}
    uint32_t LastError() const override { return m_lastError; }

  private:
    ServiceHandle Fail() {
        m_lastError = kServiceErrorNotSupported;
        return nullptr;
    }
    uint32_t m_lastError = 0;
};

}  // namespace

std::unique_ptr<ServiceControl> MakeSystemServiceControl() {
    return std::make_unique<NoServiceControl>();
}

}  // namespace marl::platform

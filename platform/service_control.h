#pragma once
// The service-control seam: open the service manager and one service, stop,
// query and start it. Shaped like the Windows Service Control Manager API so
// that callers log the system's own error numbers in both builds.
//
// Backends: the Service Control Manager in the Windows build
// (win32/service_control_win32.cpp). The POSIX build has no service manager:
// OpenManager fails with kServiceErrorNotSupported (50, ERROR_NOT_SUPPORTED).
// Tests drive callers through a scripted implementation of this interface.
//
// Handles are opaque; nullptr means "not opened". Every handle returned must be
// given to CloseHandle exactly once (the service before its manager).
//
// Error numbers: each failing call sets LastError to the Windows system error
// code (1060 ERROR_SERVICE_DOES_NOT_EXIST, 1062 ERROR_SERVICE_NOT_ACTIVE, ...).
//
// Thread safety: one object and its handles belong to one thread at a time.
#include <cstdint>
#include <memory>
#include <string>

namespace marl::platform {

using ServiceHandle = void*;

constexpr uint32_t kServiceAllAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS
constexpr uint32_t kServiceStopped = 1;          // SERVICE_STOPPED
constexpr uint32_t kServiceErrorNotSupported = 50;

class ServiceControl {
  public:
    virtual ~ServiceControl() = default;

    // The local service manager.
    virtual ServiceHandle OpenManager(uint32_t access) = 0;
    virtual ServiceHandle OpenNamedService(ServiceHandle manager, const std::string& name,
                                           uint32_t access) = 0;
    // Sends the stop control; does not wait for the service to stop.
    virtual bool Stop(ServiceHandle service) = 0;
    // The current state (1 stopped, 2 start pending, 3 stop pending, 4 running).
    virtual bool QueryState(ServiceHandle service, uint32_t& state) = 0;
    // Starts the service with no arguments.
    virtual bool Start(ServiceHandle service) = 0;
    virtual void CloseHandle(ServiceHandle handle) = 0;

    // The system error code of the last failed call.
    virtual uint32_t LastError() const = 0;
};

std::unique_ptr<ServiceControl> MakeSystemServiceControl();

}  // namespace marl::platform

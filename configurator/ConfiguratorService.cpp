// Restarting the provider's service so that a new provider object reads the
// new settings.
#include "configurator/ConfiguratorInternal.h"
#include "configurator/QVssConfigurator.h"

namespace {

constexpr char kFunction[] = "CQConfigurator::RestartService";
constexpr char kServiceName[] = "marlvssprovider";
constexpr int kStopQueryLimit = 10;

}  // namespace

bool CQConfigurator::RestartService() {
    marl::platform::ServiceControl& scm = *m_env.services;
    CONF_LOG(kFunction, QLOG_INFO, "Trying to restart marlvssprovider service");
    marl::platform::ServiceHandle manager = scm.OpenManager(marl::platform::kServiceAllAccess);
    if (!manager) {
        CONF_LOG(kFunction, QLOG_ERROR, "Failed opening control service manager: %lu",
                 static_cast<unsigned long>(scm.LastError()));
        return false;
    }
    marl::platform::ServiceHandle service =
        scm.OpenNamedService(manager, kServiceName, marl::platform::kServiceAllAccess);
    if (!service) {
        CONF_LOG(kFunction, QLOG_ERROR, "Failed opening service handler: %lu",
                 static_cast<unsigned long>(scm.LastError()));
        scm.CloseHandle(manager);
        return false;
    }
    CONF_LOG(kFunction, QLOG_INFO, "Stopping service");
    if (!scm.Stop(service)) {
        // A service that is not running fails here and is simply started.
        CONF_LOG(kFunction, QLOG_INFO, "Stopping service rc: %lu",
                 static_cast<unsigned long>(scm.LastError()));
    }
    CONF_LOG(kFunction, QLOG_INFO, "Waiting for service to stop");
    bool stopped = false;
    for (int attempt = 1;; ++attempt) {
        CONF_LOG(kFunction, QLOG_INFO, "Querying service status");
        uint32_t state = 0;
        if (!scm.QueryState(service, state)) {
            CONF_LOG(kFunction, QLOG_ERROR, "Failed querying service status: %lu",
                     static_cast<unsigned long>(scm.LastError()));
        } else if (state == marl::platform::kServiceStopped) {
            stopped = true;
            break;
        }
        CONF_LOG(kFunction, QLOG_INFO, "Service is not stopped after %d/%d querying attempts",
                 attempt, kStopQueryLimit);
        if (attempt >= kStopQueryLimit) break;
        m_env.sleep(1000);
    }
    bool started = false;
    if (stopped) {
        CONF_LOG(kFunction, QLOG_INFO, "Service is stopped");
        CONF_LOG(kFunction, QLOG_INFO, "Starting service");
        started = scm.Start(service);
        if (started) {
            CONF_LOG(kFunction, QLOG_INFO, "Started service");
        } else {
            CONF_LOG(kFunction, QLOG_ERROR, "Failed starting service: %lu",
                     static_cast<unsigned long>(scm.LastError()));
        }
    }
    scm.CloseHandle(manager);
    scm.CloseHandle(service);
    return started;
}

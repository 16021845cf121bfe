#pragma once
// Test support: a service manager with one scripted service, recording every
// call so that tests can check the order of operations and that each handle
// was closed once.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/service_control.h"

namespace marl::testing {

struct ServiceScript {
    uint32_t managerError = 0;    // non-zero: OpenManager fails with it
    bool serviceExists = true;    // false: OpenNamedService fails with 1060
    uint32_t state = 4;           // running
    bool stopsOnRequest = true;   // false: the service ignores the stop control
    int queriesUntilStopped = 1;  // a stopping service reports stopped at this query
    uint32_t queryError = 0;      // non-zero: every query fails with it
    uint32_t startError = 0;      // non-zero: Start fails with it
};

class ScriptedServices : public marl::platform::ServiceControl {
  public:
    explicit ScriptedServices(ServiceScript script = {}) : m_script(script) {}

    const std::vector<std::string>& Calls() const { return m_calls; }
    int OpenHandles() const { return m_open; }
    int Starts() const { return m_starts; }

    marl::platform::ServiceHandle OpenManager(uint32_t access) override {
        m_calls.push_back("OpenManager " + Hex(access));
        if (m_script.managerError) return Fail(m_script.managerError);
        ++m_open;
        return &m_managerToken;
    }
    marl::platform::ServiceHandle OpenNamedService(marl::platform::ServiceHandle manager,
                                                   const std::string& name,
                                                   uint32_t access) override {
        m_calls.push_back("OpenNamedService " + name + " " + Hex(access));
        if (manager != &m_managerToken) return Fail(6);
        if (!m_script.serviceExists) return Fail(1060);
        ++m_open;
        return &m_serviceToken;
    }
    bool Stop(marl::platform::ServiceHandle service) override {
        m_calls.push_back("Stop");
        if (service != &m_serviceToken) return Fail(6) != nullptr;
        if (m_script.state == marl::platform::kServiceStopped) return Fail(1062) != nullptr;
        if (m_script.stopsOnRequest) m_stopRequested = true;
        m_lastError = 0;
        return true;
    }
    bool QueryState(marl::platform::ServiceHandle service, uint32_t& state) override {
        m_calls.push_back("Query");
        if (service != &m_serviceToken) return Fail(6) != nullptr;
        if (m_script.queryError) return Fail(m_script.queryError) != nullptr;
        if (m_stopRequested && ++m_queries >= m_script.queriesUntilStopped)
            m_script.state = marl::platform::kServiceStopped;
        else if (m_stopRequested)
            m_script.state = 3;  // stop pending
        state = m_script.state;
        return true;
    }
    bool Start(marl::platform::ServiceHandle service) override {
        m_calls.push_back("Start");
        if (service != &m_serviceToken) return Fail(6) != nullptr;
        if (m_script.startError) return Fail(m_script.startError) != nullptr;
        m_script.state = 4;
        m_stopRequested = false;
        ++m_starts;
        return true;
    }
    void CloseHandle(marl::platform::ServiceHandle handle) override {
        m_calls.push_back(handle == &m_managerToken ? "Close manager" : "Close service");
        --m_open;
    }
    uint32_t LastError() const override { return m_lastError; }

  private:
    static std::string Hex(uint32_t v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", v);
        return buf;
    }
    marl::platform::ServiceHandle Fail(uint32_t error) {
        m_lastError = error;
        return nullptr;
    }

    ServiceScript m_script;
    std::vector<std::string> m_calls;
    uint32_t m_lastError = 0;
    bool m_stopRequested = false;
    int m_queries = 0;
    int m_open = 0;
    int m_starts = 0;
    int m_managerToken = 0;
    int m_serviceToken = 0;
};

}  // namespace marl::testing

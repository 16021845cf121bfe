#pragma once
// A scripted COM+ catalog for the hosting policy's tests: each call appends
// an event to the owner's list (shared with FakeServerLoader, so that a test
// sees DLL exports and catalog calls in one order), answers the result the
// test set for it (S_OK otherwise) and keeps whether the application exists.
// Not thread-safe.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "installer/register/ComPlusCatalog.h"

namespace marl::installer::testing {

struct FakeComPlusState {
    std::vector<std::wstring>* events = nullptr;
    // Open's result; a failure opens no catalog.
    ResultCode openResult = kOk;
    // Results by event name: "find", "create", "component", "service",
    // "shutdown", "delete service", "remove".
    std::map<std::wstring, ResultCode> results;
    bool applicationThere = false;
    bool serviceThere = false;
};

class FakeComPlusCatalog : public ComPlusCatalog {
  public:
    explicit FakeComPlusCatalog(FakeComPlusState& state) : m_state(state) {}

    ResultCode FindApplication(const std::wstring& appId, bool& found) override {
        const ResultCode code = Event(L"find", appId);
        found = m_state.applicationThere;
        return code;
    }
    ResultCode CreateServerApplication(const std::wstring& appId,
                                       const std::wstring& name) override {
        const ResultCode code = Event(L"create", appId + L" " + name);
        if (code >= 0) m_state.applicationThere = true;
        return code;
    }
    ResultCode InstallComponent(const std::wstring& appId, const std::wstring& dll) override {
        return Event(L"component", appId + L" " + dll);
    }
    ResultCode CreateApplicationService(const std::wstring& appId,
                                        const std::wstring& name) override {
        const ResultCode code = Event(L"service", appId + L" " + name);
        if (code >= 0) m_state.serviceThere = true;
        return code;
    }
    ResultCode ShutdownApplication(const std::wstring& appId) override {
        return Event(L"shutdown", appId);
    }
    ResultCode DeleteApplicationService(const std::wstring& appId) override {
        ResultCode code = Event(L"delete service", appId);
        if (code >= 0 && !m_state.serviceThere) code = kComPlusServiceNotInstalled;
        if (code >= 0) m_state.serviceThere = false;
        return code;
    }
    ResultCode RemoveApplication(const std::wstring& appId) override {
        const ResultCode code = Event(L"remove", appId);
        if (code >= 0) m_state.applicationThere = false;
        return code;
    }

  private:
    ResultCode Event(const std::wstring& name, const std::wstring& detail) {
        m_state.events->push_back(name + L" " + detail);
        auto it = m_state.results.find(name);
        return it == m_state.results.end() ? kOk : it->second;
    }

    FakeComPlusState& m_state;
};

class FakeComPlusOpener : public ComPlusCatalogOpener {
  public:
    explicit FakeComPlusOpener(FakeComPlusState& state) : m_state(state) {}
    ResultCode Open(std::unique_ptr<ComPlusCatalog>& catalog) override {
        m_state.events->push_back(L"open catalog");
        if (m_state.openResult < 0) return m_state.openResult;
        catalog = std::make_unique<FakeComPlusCatalog>(m_state);
        return kOk;
    }

  private:
    FakeComPlusState& m_state;
};

}  // namespace marl::installer::testing

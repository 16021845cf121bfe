#pragma once
// A scripted ServerModuleLoader for the registration policy's tests. Each
// event (load, unload, export called, and through `catalogs` every COM+
// catalog call) is appended to `events`, so that a test can check what was
// called and in which order. Not thread-safe.
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "installer/register/ServerModule.h"
#include "installer/register/testing/FakeComPlusCatalog.h"

namespace marl::installer::testing {

class FakeServerLoader : public ServerModuleLoader {
  public:
    // Load fails with this error number when it is not 0.
    std::uint32_t loadError = 0;
    std::wstring loadErrorText;
    std::set<ServerExport> exports = {ServerExport::kRegisterServer,
                                      ServerExport::kUnregisterServer};
    std::map<ServerExport, ResultCode> results;
    // Texts DescribeResult knows.
    std::map<ResultCode, std::wstring> texts;
    std::vector<std::wstring> events;
    // What ProviderRegistered answers.
    bool registeredBefore = false;
    // The COM+ catalog as the test scripts it, and its opener.
    FakeComPlusState complus{&events};
    FakeComPlusOpener catalogs{complus};

    std::wstring AbsolutePath(const std::wstring& path) override { return L"C:\\here\\" + path; }

    LoadedServer Load(const std::wstring& path) override {
        events.push_back(L"load " + path);
        LoadedServer loaded;
        if (loadError != 0) {
            loaded.systemError = loadError;
            loaded.errorText = loadErrorText;
            return loaded;
        }
        loaded.module = std::make_unique<Module>(*this);
        return loaded;
    }

    std::wstring DescribeResult(ResultCode code) override {
        auto it = texts.find(code);
        return it == texts.end() ? std::wstring() : it->second;
    }

    bool ProviderRegistered() override {
        events.push_back(L"registered?");
        return registeredBefore;
    }

  private:
    class Module : public ServerModule {
      public:
        explicit Module(FakeServerLoader& owner) : m_owner(owner) {}
        ~Module() override { m_owner.events.push_back(L"unload"); }
        bool Exports(ServerExport which) const override { return m_owner.exports.count(which) > 0; }
        ResultCode Call(ServerExport which) override {
            m_owner.events.push_back(ServerExportName(which));
            auto it = m_owner.results.find(which);
            return it == m_owner.results.end() ? kOk : it->second;
        }

      private:
        FakeServerLoader& m_owner;
    };
};

}  // namespace marl::installer::testing

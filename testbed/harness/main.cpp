// marl_vss_harness: stands in for the VSS coordinator and drives a provider
// object through whole shadow-copy lifecycles (see HarnessUsage).
#include <filesystem>
#include <functional>
#include <iostream>

#include "HarnessOptions.h"
#include "HarnessSession.h"
#include "RedirectingHttpClient.h"
#include "platform/install_folder.h"

#ifdef _WIN32
#include "ComProviderCalls.h"
#endif

using namespace marl::harness;

namespace {

bool RunStep(HarnessSession& session, const std::string& step, const HarnessOptions& o) {
    if (step == "create") return session.Create(o.serials, o.vendor);
    if (step == "abort") return session.Abort(o.serials, o.vendor);
    if (step == "notify") return session.Notify(o.notifyFlags);
    if (step == "mask") return session.Notify(VSS_ONLUNSTATECHANGE_DO_MASK_LUNS);
    bool created = !session.TargetSerials().empty();
    if (step == "delete") return created ? session.Delete() : session.Delete(o.snapshotSerials);
    if (step == "resync")
        return created ? session.Resync() : session.Resync(o.snapshotSerials, o.serials);
    return false;
}

// The steps against one provider; the number of calls that failed. `tally`
// counts the provider's array exchanges when the harness can see them.
int RunSession(ProviderCalls& provider, const HarnessOptions& o,
               std::function<ExchangeTally()> tally = nullptr) {
    HarnessSession session(provider, std::cout);
    if (tally) session.CountExchanges(std::move(tally));
    for (const std::string& step : o.steps) {
        if (!RunStep(session, step, o)) {
            std::cout << "step '" << step << "' failed; the remaining steps are skipped\n";
            break;
        }
    }
    session.PrintSummary();
    return session.Failures();
}

// The provider's destructor unloads it at the end, as VSS releasing it would.
int RunInProcess(const HarnessOptions& o) {
    CQProvider provider(RedirectingFactory({o.httpsPort, o.httpPort}));
    DirectCalls calls(provider);
    return RunSession(calls, o, RedirectedExchanges);
}

#ifdef _WIN32
int RunThroughCom(const HarnessOptions& o) {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::cout << "CoInitializeEx -> " << ResultText(hr) << "\n";
        return 1;
    }
    int failures = 1;
    if (auto provider = ComProviderCalls::Create(std::cout)) failures = RunSession(*provider, o);
    ::CoUninitialize();
    return failures;
}
#endif

int RunSteps(const HarnessOptions& o) {
#ifdef _WIN32
    if (o.com) return RunThroughCom(o) == 0 ? 0 : 1;
#endif
    return RunInProcess(o) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    HarnessOptions options;
    std::string error;
    if (!ParseHarnessOptions(argc, argv, options, error)) {
        std::cerr << "marl_vss_harness: " << error << "\n\n" << HarnessUsage();
        return 2;
    }
    if (options.help) {
        std::cout << HarnessUsage();
        return 0;
    }
    // With --com the DLL's own installation folder is the one that counts.
    if (!options.installFolder.empty()) marl::platform::SetInstallFolder(options.installFolder);
    if (options.writeConfig) {
        const std::string folder = marl::platform::InstallFolder();
        std::error_code ignored;  // a folder that cannot be made fails the write below
        std::filesystem::create_directories(folder, ignored);
        if (!WriteConfigFile(folder, options.config, error)) {
            std::cerr << "marl_vss_harness: " << error << "\n";
            return 1;
        }
        std::cout << "wrote " << folder << "marl_vss_conf.txt\n";
    }
    if (options.steps.empty()) return 0;
    return RunSteps(options);
}

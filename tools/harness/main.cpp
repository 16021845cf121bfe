// marl_vss_harness: stands in for the VSS coordinator and drives a provider
// object through whole shadow-copy lifecycles (see HarnessUsage).
#include <iostream>

#include "HarnessOptions.h"
#include "HarnessSession.h"
#include "RedirectingHttpClient.h"
#include "platform/install_folder.h"

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

int RunSteps(const HarnessOptions& o) {
    int failures = 0;
    {
        CQProvider provider(RedirectingFactory({o.httpsPort, o.httpPort}));
        HarnessSession session(provider, std::cout);
        for (const std::string& step : o.steps) {
            if (!RunStep(session, step, o)) {
                std::cout << "step '" << step << "' failed; the remaining steps are skipped\n";
                break;
            }
        }
        session.PrintSummary();
        failures = session.Failures();
    }  // the provider's destructor unloads it, as VSS releasing it would
    return failures == 0 ? 0 : 1;
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
    marl::platform::SetInstallFolder(options.installFolder);
    if (options.writeConfig) {
        if (!WriteConfigFile(marl::platform::InstallFolder(), options.config, error)) {
            std::cerr << "marl_vss_harness: " << error << "\n";
            return 1;
        }
        std::cout << "wrote " << marl::platform::InstallFolder() << "marl_vss_conf.txt\n";
    }
    if (options.steps.empty()) return 0;
    return RunSteps(options);
}

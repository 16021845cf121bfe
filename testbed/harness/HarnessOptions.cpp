#include "HarnessOptions.h"

#include <cstdlib>
#include <functional>
#include <map>

namespace marl::harness {
namespace {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    for (char c : text) {
        if (c == ',') {
            if (!item.empty()) items.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    if (!item.empty()) items.push_back(item);
    return items;
}

bool ParsePort(const std::string& text, uint16_t& port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool KnownStep(const std::string& step) {
    for (const char* known : {"create", "delete", "resync", "abort", "notify", "mask"})
        if (step == known) return true;
    return false;
}

using ValueSetter = std::function<bool(HarnessOptions&, const std::string&)>;

const std::map<std::string, ValueSetter>& ValueOptions() {
    static const std::map<std::string, ValueSetter> options = {
        {"--install-folder",
         [](HarnessOptions& o, const std::string& v) {
             o.installFolder = v;
             return !v.empty();
         }},
        {"--https-port",
         [](HarnessOptions& o, const std::string& v) { return ParsePort(v, o.httpsPort); }},
        {"--http-port",
         [](HarnessOptions& o, const std::string& v) { return ParsePort(v, o.httpPort); }},
        {"--vendor",
         [](HarnessOptions& o, const std::string& v) {
             o.vendor = v;
             return true;
         }},
        {"--snapshots",
         [](HarnessOptions& o, const std::string& v) {
             o.snapshotSerials = SplitList(v);
             return true;
         }},
        {"--flags",
         [](HarnessOptions& o, const std::string& v) {
             char* end = nullptr;
             o.notifyFlags = static_cast<uint32_t>(std::strtoul(v.c_str(), &end, 0));
             return !v.empty() && *end == '\0';
         }},
        {"--array-ip",
         [](HarnessOptions& o, const std::string& v) {
             o.config.externalIp = v;
             return true;
         }},
        {"--array-host",
         [](HarnessOptions& o, const std::string& v) {
             o.config.hostName = v;
             return true;
         }},
        {"--array-user",
         [](HarnessOptions& o, const std::string& v) {
             o.config.userName = v;
             return true;
         }},
        {"--array-password",
         [](HarnessOptions& o, const std::string& v) {
             o.config.password = v;
             return true;
         }},
        {"--snap-prefix",
         [](HarnessOptions& o, const std::string& v) {
             o.config.snapPrefix = v;
             return true;
         }},
        {"--retention",
         [](HarnessOptions& o, const std::string& v) {
             o.config.retentionPolicy = v;
             return true;
         }},
        {"--log-level",
         [](HarnessOptions& o, const std::string& v) {
             o.config.logLevel = v;
             return true;
         }},
    };
    return options;
}

bool ParseFlagOption(const std::string& arg, HarnessOptions& o) {
    if (arg == "--help" || arg == "-h")
        o.help = true;
    else if (arg == "--write-config")
        o.writeConfig = true;
    else if (arg == "--no-ssl")
        o.config.supportSsl = false;
    else if (arg == "--replication")
        o.config.replicationMode = true;
    else if (arg == "--vmware")
        o.config.vmwareVm = true;
    else if (arg == "--com")
        o.com = true;
    else
        return false;
    return true;
}

bool ParsePositional(const std::string& arg, HarnessOptions& o, std::string& error) {
    if (!o.steps.empty()) {
        o.serials.push_back(arg);
        return true;
    }
    o.steps = SplitList(arg);
    for (const std::string& step : o.steps) {
        if (KnownStep(step)) continue;
        error = "unknown step '" + step + "'";
        return false;
    }
    return true;
}

// The DLL reads its configuration from the installation folder and reaches
// the array on its own ports; the harness can move neither.
bool CheckComMode(const HarnessOptions& o, std::string& error) {
#ifndef _WIN32
    (void)o;
    error = "--com needs the Windows build (it loads MarlVssProvider.dll through COM)";
#else
    if (!o.installFolder.empty())
        error = "--com: the provider DLL reads its own installation folder; drop --install-folder";
    else if (o.httpsPort != 0 || o.httpPort != 0)
        error =
            "--com: the provider DLL uses the array's ports 443 and 80; drop --https-port "
            "and --http-port";
    else if (o.steps.empty() && !o.writeConfig)
        error = "no step given";
#endif
    return error.empty();
}

}  // namespace

bool ParseHarnessOptions(int argc, const char* const* argv, HarnessOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (ParseFlagOption(arg, o)) continue;
        auto option = ValueOptions().find(arg);
        if (option != ValueOptions().end()) {
            if (i + 1 >= argc || !option->second(o, argv[i + 1])) {
                error = "bad or missing value for " + arg;
                return false;
            }
            ++i;
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            error = "unknown option " + arg;
            return false;
        }
        if (!ParsePositional(arg, o, error)) return false;
    }
    if (o.help) return true;
    if (o.com) return CheckComMode(o, error);
    if (o.installFolder.empty())
        error = "--install-folder is required";
    else if (o.steps.empty() && !o.writeConfig)
        error = "no step given";
    return error.empty();
}

const char* HarnessUsage() {
    return "usage: marl_vss_harness --install-folder DIR [options] STEP[,STEP...] [SERIAL...]\n"
           "       marl_vss_harness --com [options] STEP[,STEP...] [SERIAL...]   (Windows)\n"
           "\n"
           "Plays the VSS coordinator's part against a provider object built in this process.\n"
           "The provider reads DIR/marl_vss_conf.txt and logs to DIR/marl_vss_log.txt.\n"
           "With --com it drives the registered MarlVssProvider.dll instead, created through\n"
           "COM as VSS creates it; the DLL reads C:\\Program Files\\Marl VSS\\marl_vss_conf.txt\n"
           "(--write-config writes it there) and reaches EXTERNAL_IP on ports 443 and 80.\n"
           "Each call is printed with its HRESULT and its time; the summary gives the whole\n"
           "time and the array commands sent and connects made (not counted with --com).\n"
           "\n"
           "steps (run in the order given):\n"
           "  create   AreLunsSupported, BeginPrepareSnapshot, EndPrepareSnapshots,\n"
           "           PreCommitSnapshots, CommitSnapshots, PostCommitSnapshots,\n"
           "           Pre/PostFinalCommitSnapshots, GetTargetLuns, FillInLunInfo on each\n"
           "           target, LocateLuns, for the LUNs with the given serials\n"
           "  delete   OnLunEmpty for each target LUN of 'create' (or --snapshots)\n"
           "  resync   ResyncLuns of the target LUNs onto their sources, Wait, QueryStatus\n"
           "           (or --snapshots onto the given serials)\n"
           "  abort    AreLunsSupported, BeginPrepareSnapshot, EndPrepareSnapshots,\n"
           "           AbortSnapshots for the given serials\n"
           "  notify   OnLunStateChange of the target LUNs with --flags (default 0x100)\n"
           "  mask     OnLunStateChange with VSS_ONLUNSTATECHANGE_DO_MASK_LUNS\n"
           "\n"
           "options:\n"
           "  --https-port N, --http-port N  send the provider's connections to ports 443\n"
           "                 and 80 of the array to these ports instead (a simulator)\n"
           "  --vendor TEXT  SCSI vendor id of the source LUNs (default MARL)\n"
           "  --snapshots S1,S2,...  snapshot LUN serials for delete and resync\n"
           "  --flags N      flags of notify\n"
           "  --write-config write DIR/marl_vss_conf.txt first, from --array-ip (127.0.0.1),\n"
           "                 --array-host (vsshost1), --array-user (admin), --array-password\n"
           "                 (password, stored enciphered), --snap-prefix (harness), --retention,\n"
           "                 --no-ssl, --replication, --vmware, --log-level (INFO)\n"
           "\n"
           "exit status: 0 when every call gave what VSS expects, 1 when one did not,\n"
           "2 for a bad command line.\n";
}

}  // namespace marl::harness

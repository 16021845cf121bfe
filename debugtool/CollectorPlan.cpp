#include "debugtool/CollectorPlan.h"

#include <cstdio>

#include "platform/install_folder.h"

namespace marl::debugtool {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ScratchFile(const std::string& installFolder, const char* name) {
    return ScratchFolder(installFolder) + platform::PathSeparator() + name;
}

}  // namespace

std::vector<ArchiveItem> InstallationItems() {
    std::vector<ArchiveItem> items = {{kConfigurationEntry, kConfigurationEntry}};
    for (const char* base : {"marl_vss_log", "marl_vss_conf_log"}) {
        items.push_back({std::string(base) + ".txt", std::string(base) + ".txt"});
        for (int n = 0; n < 4; ++n) {
            std::string name = std::string(base) + "_" + std::to_string(n) + ".txt";
            items.push_back({name, name});
        }
    }
    return items;
}

std::string ScratchRelative(const char* name) {
    return std::string(kScratchFolderName) + platform::PathSeparator() + name;
}

ArchiveItem CommandOutputItem(const char* name) { return {name, ScratchRelative(name)}; }

std::string ScratchFolder(const std::string& installFolder) {
    return installFolder + kScratchFolderName;
}

std::string DiskShadowCommand(const std::string& installFolder) {
    return "diskshadow /s diskshadow_cmd.txt /l " +
           Quoted(ScratchFile(installFolder, kDiskShadowLog));
}

std::string EventLogCommand(const std::string& installFolder) {
    // Two spaces after "Application", as support's instructions have it.
    return "wevtutil qe Application  /rd:true /f:text /q:" +
           Quoted(
               "*[System[TimeCreated[timediff(@SystemTime) >= 30000] and "
               "TimeCreated[timediff(@SystemTime) <= 172800000]]]") +
           " > " + Quoted(ScratchFile(installFolder, kEventLogOutput));
}

std::string SystemInfoCommand(const std::string& installFolder) {
    return "msinfo32 /report " + Quoted(ScratchFile(installFolder, kSystemInfoOutput));
}

std::string ArchiveName(const platform::LocalTime& t) {
    char name[64];
    std::snprintf(name, sizeof name, "Snap_VSS_%04d%02d%02d-%02d.%02d.%02d.zip", t.year, t.month,
                  t.day, t.hour, t.minute, t.second);
    return name;
}

}  // namespace marl::debugtool

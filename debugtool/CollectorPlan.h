#pragma once
// The fixed names of a support-archive run: the entries in the order they
// are archived, the scratch folder and the three diagnostic command lines.
// Pure functions of the installation folder and the clock; no I/O.
#include <string>
#include <vector>

#include "common/ConfigFormat.h"
#include "platform/clock.h"

namespace marl::debugtool {

struct ArchiveItem {
    std::string entryName;
    // Relative to the installation folder (the current directory of a run).
    std::string source;
};

constexpr const char* kScratchFolderName = "Snap_VSS";
constexpr const char* kConfigurationEntry = marl::common::kConfigFileName;
constexpr const char* kDiskShadowLog = "diskshadow_log.txt";
constexpr const char* kEventLogOutput = "wevtutil_log.txt";
constexpr const char* kSystemInfoOutput = "msinfo_log.txt";

// The configuration file, then the provider's log and its four generations,
// then the configurator's log and its four generations.
std::vector<ArchiveItem> InstallationItems();
// "Snap_VSS" + separator + name: a command's output in the scratch folder.
std::string ScratchRelative(const char* name);
ArchiveItem CommandOutputItem(const char* name);

// `installFolder` ends with the platform's separator.
std::string ScratchFolder(const std::string& installFolder);
std::string DiskShadowCommand(const std::string& installFolder);
std::string EventLogCommand(const std::string& installFolder);
std::string SystemInfoCommand(const std::string& installFolder);

// "Snap_VSS_%04d%02d%02d-%02d.%02d.%02d.zip"
std::string ArchiveName(const platform::LocalTime& t);

}  // namespace marl::debugtool

#include "debugtool/CollectorPlan.h"

#include <gtest/gtest.h>

#include "platform/install_folder.h"

namespace marl::debugtool {
namespace {

TEST(CollectorPlan, EntriesInTheirArchiveOrder) {
    std::vector<std::string> names;
    for (const ArchiveItem& i : InstallationItems()) {
        EXPECT_EQ(i.entryName, i.source);
        names.push_back(i.entryName);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "marl_vss_conf.txt", "marl_vss_log.txt", "marl_vss_log_0.txt",
                  "marl_vss_log_1.txt", "marl_vss_log_2.txt", "marl_vss_log_3.txt",
                  "marl_vss_conf_log.txt", "marl_vss_conf_log_0.txt", "marl_vss_conf_log_1.txt",
                  "marl_vss_conf_log_2.txt", "marl_vss_conf_log_3.txt"}));
    ArchiveItem out = CommandOutputItem(kEventLogOutput);
    EXPECT_EQ(out.entryName, "wevtutil_log.txt");
    EXPECT_EQ(out.source, std::string("Snap_VSS") + platform::PathSeparator() + "wevtutil_log.txt");
}

#ifdef _WIN32
TEST(CollectorPlan, CommandLinesForTheInstallationFolder) {
    const std::string folder = "C:\\Program Files\\Marl VSS\\";
    EXPECT_EQ(ScratchFolder(folder), "C:\\Program Files\\Marl VSS\\Snap_VSS");
    EXPECT_EQ(DiskShadowCommand(folder),
              "diskshadow /s diskshadow_cmd.txt /l "
              "\"C:\\Program Files\\Marl VSS\\Snap_VSS\\diskshadow_log.txt\"");
    EXPECT_EQ(EventLogCommand(folder),
              "wevtutil qe Application  /rd:true /f:text "
              "/q:\"*[System[TimeCreated[timediff(@SystemTime) >= 30000] and "
              "TimeCreated[timediff(@SystemTime) <= 172800000]]]\" > "
              "\"C:\\Program Files\\Marl VSS\\Snap_VSS\\wevtutil_log.txt\"");
    EXPECT_EQ(SystemInfoCommand(folder),
              "msinfo32 /report \"C:\\Program Files\\Marl VSS\\Snap_VSS\\msinfo_log.txt\"");
    EXPECT_EQ(platform::InstallFolder(), folder);
}
#endif

TEST(CollectorPlan, ArchiveNameFromTheLocalTime) {
    platform::LocalTime t{};
    t.year = 2024;
    t.month = 3;
    t.day = 5;
    t.hour = 4;
    t.minute = 7;
    t.second = 9;
    EXPECT_EQ(ArchiveName(t), "Snap_VSS_20240305-04.07.09.zip");
}

}  // namespace
}  // namespace marl::debugtool

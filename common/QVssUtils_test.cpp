#include "common/QVssUtils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/QVssLog.h"
#include "platform/install_folder.h"
#include "platform/testing/recorder.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The real install folder has a blank in its name; so does this one.
        m_folder = marl::testing::MakeScratchFolder("launcher with blank");
        m_previousFolder = marl::platform::InstallFolder();
        marl::platform::SetInstallFolder(m_folder.string());
        CQLogger::getInstance()->ResetForTesting();
        ASSERT_TRUE(CQLogger::getInstance()->OpenLogFile((m_folder / "marl_vss_log.txt").string()));
    }
    void TearDown() override {
        CQLogger::getInstance()->ResetForTesting();
        marl::platform::SetInstallFolder(m_previousFolder);
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

    // The messages of the log's lines (the text after the header).
    Strings Messages(const std::string& level) {
        std::ifstream in(m_folder / "marl_vss_log.txt", std::ios::binary);
        Strings messages;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t tid = line.find("][TID:0x");
            if (tid == std::string::npos || line.find("[" + level + "]") == std::string::npos) {
                continue;
            }
            messages.push_back(line.substr(line.find(']', tid + 1) + 1));
        }
        return messages;
    }

    fs::path m_folder;
    std::string m_previousFolder;
};

TEST_F(LauncherTest, EachOperationStartsTheHelperWithItsCommandLine) {
    const struct {
        std::function<int()> call;
        const char* announcement;
        const char* tail;
        Strings args;
    } cases[] = {
        {[] { return execute_qvcenter_scsi_rescan(); },
         "setting scsi rescan",
         " --operation scsi_rescan",
         {"--operation", "scsi_rescan"}},
        {[] { return execute_qvcenter_set_rdm(" 6001405AB,6001405CD"); },
         "setting rdm for  6001405AB,6001405CD",
         " --operation set_rdm --scsi_sn 6001405AB,6001405CD",
         {"--operation", "set_rdm", "--scsi_sn", "6001405AB,6001405CD"}},
        {[] { return execute_qvcenter_remove_rdm(" 6001405EF"); },
         "removing rdm for  6001405EF",
         " --operation remove_rdm --scsi_sn 6001405EF",
         {"--operation", "remove_rdm", "--scsi_sn", "6001405EF"}},
        {[] { return execute_qvcenter_set_rdm("6001405AB"); },
         "setting rdm for 6001405AB",
         " --operation set_rdm --scsi_sn6001405AB",
         {"--operation", "set_rdm", "--scsi_sn6001405AB"}},
    };
    const std::string helper = marl::platform::HelperPath();
    marl::testing::InstallRecorder(helper);
    size_t run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        EXPECT_NE(c.call(), 0);
        auto runs = marl::testing::ReadRecordedRuns(helper);
        ASSERT_EQ(runs.size(), ++run);
        Strings expected = c.args;
        expected.insert(expected.begin(), helper);
        EXPECT_EQ(runs.back(), expected);

        Strings info = Messages("INFO");
        ASSERT_GE(info.size(), 4u);
        Strings last(info.end() - 4, info.end());
        EXPECT_EQ(last, (Strings{c.announcement, "starting process: \"" + helper + "\"" + c.tail,
                                 "Succeeded to call CreateProcess", "execute_qvcenter succeeded"}));
    }
    EXPECT_TRUE(Messages("ERROR").empty());
}

TEST_F(LauncherTest, MissingHelperIsLoggedWithFileNotFoundAndGivesZero) {
    fs::create_directories(fs::path(marl::platform::HelperPath()).parent_path());
    EXPECT_EQ(execute_qvcenter_set_rdm(" 6001405AB"), 0);
    EXPECT_EQ(Messages("ERROR"),
              (Strings{"Failed to call CreateProcess", "Failed to call CreateProcess (2)"}));
    for (const std::string& m : Messages("INFO")) {
        EXPECT_EQ(m.find("Succeeded"), std::string::npos);
        EXPECT_EQ(m.find("execute_qvcenter succeeded"), std::string::npos);
    }
}

}  // namespace

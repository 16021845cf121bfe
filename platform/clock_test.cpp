#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/debug_output.h"
#include "platform/install_folder.h"

namespace marl::platform {
namespace {

TEST(Clock, LocalTimeFieldsAreInRange) {
    LocalTime t = GetLocalTimeNow();
    EXPECT_GE(t.year, 2000);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.minute, 59);
    EXPECT_LE(t.second, 60);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
}

TEST(Clock, ThreadIdsDifferBetweenThreadsAndProcessIdIsStable) {
    uint32_t mine = CurrentThreadId();
    uint32_t other = 0;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(mine, other);
    EXPECT_EQ(CurrentProcessId(), CurrentProcessId());
    EXPECT_NE(CurrentProcessId(), 0u);
}

TEST(DebugOutput, SinkReceivesTextAndCanBeRemoved) {
    std::wstring seen;
    SetDebugOutputSink([&](const std::wstring& s) { seen += s; });
    OutputDebugText(L"Entering: X\n");
    auto previous = SetDebugOutputSink(nullptr);
    OutputDebugText(L"dropped");
    EXPECT_EQ(seen, L"Entering: X\n");
    EXPECT_TRUE(static_cast<bool>(previous));
}

TEST(InstallFolder, SetterAppendsSeparatorAndHelperLivesBelow) {
    std::string before = InstallFolder();
    SetInstallFolder("somewhere");
    EXPECT_EQ(InstallFolder(), std::string("somewhere") + PathSeparator());
    EXPECT_EQ(HelperPath().rfind(InstallFolder() + "QVCenter", 0), 0u);
    SetInstallFolder(before);
    EXPECT_EQ(InstallFolder(), before);
}

}  // namespace
}  // namespace marl::platform

// The restart against Windows' own service manager (Wine's, in a prefix this
// test has to itself): a stand-in service under the provider's name records
// each start and, told to, ignores the stop control.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "configurator/QVssConfigurator.h"
#include "configurator/testing/ConfiguratorFixture.h"
#include "platform/clock.h"

namespace {

using marl::testing::Dialogue;
using marl::testing::ReadText;
namespace fs = std::filesystem;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string ServiceProgram() {
    std::string path = MARL_TEST_SERVICE;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    return path;
}

// Creates "marlvssprovider" running the stand-in; deletes it (and ends a
// process that would not stop) when the test is over.
class TestService {
  public:
    TestService(const fs::path& record, bool ignoreStop) {
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        std::wstring command = L"\"" + Wide(ServiceProgram()) + L"\" \"" + record.wstring() +
                               L"\"" + (ignoreStop ? L" ignore-stop" : L"");
        m_service =
            CreateServiceW(m_manager, L"marlvssprovider", L"marlvssprovider", SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    ~TestService() {
        if (m_service) {
            SERVICE_STATUS_PROCESS status{};
            DWORD needed = 0;
            if (QueryServiceStatusEx(m_service, SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
                status.dwProcessId != 0) {
                SERVICE_STATUS s{};
                ControlService(m_service, SERVICE_CONTROL_STOP, &s);
                if (HANDLE p =
                        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId)) {
                    if (WaitForSingleObject(p, 3000) != WAIT_OBJECT_0) TerminateProcess(p, 1);
                    CloseHandle(p);
                }
            }
            DeleteService(m_service);
            CloseServiceHandle(m_service);
        }
        if (m_manager) CloseServiceHandle(m_manager);
        // Wait, bounded, until the manager has forgotten the deleted service.
        for (int i = 0; i < 50; ++i) {
            SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
            SC_HANDLE s = OpenServiceW(m, L"marlvssprovider", SERVICE_QUERY_STATUS);
            if (s) CloseServiceHandle(s);
            CloseServiceHandle(m);
            if (!s) break;
            Sleep(100);
        }
    }
    bool Created() const { return m_service != nullptr; }

    // Starts it and waits, bounded, for it to run. A first start right after
    // the service was created sometimes fails under Wine; it is retried.
    bool StartAndWait() {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (StartServiceW(m_service, 0, nullptr) ||
                GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) {
                if (WaitFor(SERVICE_RUNNING)) return true;
            }
            Sleep(500);
        }
        return false;
    }
    bool WaitFor(DWORD state) {
        for (int i = 0; i < 100; ++i) {
            SERVICE_STATUS s{};
            if (QueryServiceStatus(m_service, &s) && s.dwCurrentState == state) return true;
            Sleep(100);
        }
        return false;
    }

  private:
    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};

// Lines of the record, read until it holds `count` of them (bounded).
std::string WaitForRecord(const fs::path& record, size_t count) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text = ReadText(record);
        if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= count) break;
        Sleep(100);
    }
    return text;
}

struct Restart {
    Dialogue dialogue;
    std::unique_ptr<marl::platform::ServiceControl> scm =
        marl::platform::MakeSystemServiceControl();
    bool Run() {
        ConfiguratorEnvironment env = dialogue.Environment();
        env.services = scm.get();
        env.sleep = marl::platform::SleepMilliseconds;
        CQConfigurator object(false, env);  // no file: only the restart below runs
        return object.RestartService();
    }
};

TEST(ConfiguratorWineService, RestartStopsAndStartsTheService) {
    Restart r;
    fs::path record = r.dialogue.File("starts.txt");
    TestService service(record, false);
    ASSERT_TRUE(service.Created()) << GetLastError();
    ASSERT_TRUE(service.StartAndWait());
    ASSERT_EQ(WaitForRecord(record, 1), "start\n");
    EXPECT_TRUE(r.Run());
    EXPECT_EQ(WaitForRecord(record, 3), "start\nstop\nstart\n");
    EXPECT_TRUE(service.WaitFor(SERVICE_RUNNING));
    std::vector<std::string> log = r.dialogue.Log();
    EXPECT_EQ(log.back(), "INFO Started service");
    EXPECT_THAT(log, ::testing::Contains("INFO Service is stopped"));
}

TEST(ConfiguratorWineService, StoppedServiceIsStarted) {
    Restart r;
    fs::path record = r.dialogue.File("starts.txt");
    TestService service(record, false);
    ASSERT_TRUE(service.Created());
    EXPECT_TRUE(r.Run());
    EXPECT_EQ(WaitForRecord(record, 1), "start\n");
    EXPECT_THAT(r.dialogue.Log(), ::testing::Contains("INFO Stopping service rc: 1062"));
}

TEST(ConfiguratorWineService, ServiceIgnoringTheStopIsNotStarted) {
    Restart r;
    fs::path record = r.dialogue.File("starts.txt");
    TestService service(record, true);
    ASSERT_TRUE(service.Created());
    ASSERT_TRUE(service.StartAndWait());
    ASSERT_EQ(WaitForRecord(record, 1), "start\n");
    EXPECT_FALSE(r.Run());
    std::vector<std::string> log = r.dialogue.Log();
    EXPECT_EQ(log.back(), "INFO Service is not stopped after 10/10 querying attempts");
    EXPECT_EQ(std::count(log.begin(), log.end(), "INFO Querying service status"), 10);
    EXPECT_THAT(log, ::testing::Not(::testing::Contains("INFO Starting service")));
    EXPECT_EQ(ReadText(record), "start\nstop ignored\n");
}

TEST(ConfiguratorWineService, WithoutTheService) {
    Restart r;
    EXPECT_FALSE(r.Run());
    EXPECT_EQ(r.dialogue.Log().back(), "ERROR Failed opening service handler: 1060");
}

}  // namespace

#pragma once
// Test support: start a program without waiting for it (posix_spawn), so that
// several processes can run at once, and collect its exit code later.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace marl::platform::testing {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { Wait(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& args) {
        std::vector<std::string> words{program};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    // The exit code (128 + signal for a killed child); -1 when there is none.
    int Wait() {
        if (m_pid <= 0) return m_exitCode;
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_exitCode;
    }

  private:
    pid_t m_pid = -1;
    int m_exitCode = -1;
};

}  // namespace marl::platform::testing

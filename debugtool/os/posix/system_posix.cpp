#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "debugtool/os/debug_os.h"

extern char** environ;

namespace marl::debugtool::os {

bool CreateFolder(const std::string& path, uint32_t* error) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    *error = static_cast<uint32_t>(errno);
    return false;
}

uint32_t ChangeFolder(const std::string& path) {
    return ::chdir(path.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

uint32_t DeleteOneFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

uint32_t RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

LocalTime CurrentLocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

bool RunThroughInterpreter(const std::string& commandLine) {
    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    std::string command = commandLine;
    char* argv[] = {shell, dashC, &command[0], nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, shell, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

}  // namespace marl::debugtool::os

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/process.h"
#include "platform/utf8.h"

extern char** environ;

namespace marl::platform {

namespace {

// The started process must still be waited for and its handles closed, so a
// failing callback (it only logs) may not unwind past the wait.
void NotifyStarted(const std::function<void()>& onStarted) {
    if (!onStarted) return;
    try {
        onStarted();
    } catch (...) {
    }
}

// Arguments reach exec as UTF-8, each wide character as it is: nothing is
// replaced, so the program gets exactly what it was given.
std::string Utf8(const std::wstring& w) {
    std::string out;
    for (wchar_t wc : w) AppendUtf8(out, static_cast<uint32_t>(wc));
    return out;
}

// Callers log and compare Windows system error codes; give them the ones
// CreateProcessW reports for the same failures.
uint32_t WindowsErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return 2;  // ERROR_FILE_NOT_FOUND
        case ENOTDIR:
            return 3;  // ERROR_PATH_NOT_FOUND
        case EACCES:
        case EPERM:
            return 5;  // ERROR_ACCESS_DENIED
        case ENOMEM:
            return 8;  // ERROR_NOT_ENOUGH_MEMORY
        case ENOEXEC:
            return 193;  // ERROR_BAD_EXE_FORMAT
        default:
            return static_cast<uint32_t>(error);
    }
}

void WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Starts args[0] (searched in PATH when it has no "/") with `args` and waits
// for it to end.
ProcessRun SpawnAndWait(std::vector<std::string>& args, const std::function<void()>& onStarted) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // As on Windows (handles not inherited), the program gets only the
    // standard streams.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    pid_t pid = 0;
    // glibc reports a failed exec through the result, so a missing program is
    // seen here and not as an exit status of the child.
    int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);

    ProcessRun run;
    if (rc != 0) {
        run.error = WindowsErrorOf(rc);
        return run;
    }
    run.started = true;
    NotifyStarted(onStarted);
    WaitFor(pid);
    return run;
}

}  // namespace

ProcessRun RunProcessAndWait(std::wstring& commandLine, const std::function<void()>& onStarted) {
    std::vector<std::string> args;
    for (const std::wstring& a : SplitCommandLine(commandLine)) args.push_back(Utf8(a));
    return SpawnAndWait(args, onStarted);
}

ProcessRun RunThroughInterpreter(const std::string& commandLine) {
    std::vector<std::string> args = {"/bin/sh", "-c", commandLine};
    return SpawnAndWait(args, {});
}

}  // namespace marl::platform

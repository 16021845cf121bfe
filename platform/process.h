#pragma once
// Start a program from a command line and wait for it to end.
//
// The command line follows the Windows conventions: the program is the first
// token (in double quotes when it holds blanks) and the rest are arguments,
// split as the Microsoft C runtime splits them. Windows: CreateProcessW with no
// application name, handles not inherited, creation flags 0, the caller's
// environment and folder, then an unlimited wait. POSIX: posix_spawn of the
// first token with the split arguments, then waitpid.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace marl::platform {

struct ProcessRun {
    bool started = false;    // the process was created (and has ended)
    uint32_t error = 0;      // system error code when it was not started
                             // (2 for a program that does not exist)
};

// The command line is writable because CreateProcessW may modify it.
// `onStarted`, when given, runs once the process exists and before the wait,
// so that a caller can record the start of a program that may never end.
ProcessRun RunProcessAndWait(std::wstring& commandLine,
                             const std::function<void()>& onStarted = {});

// Runs one command line through the command interpreter ("cmd.exe /c" with
// cmd.exe from the system folder on Windows, so that a program of the same
// name in the current directory is not started in its place; "/bin/sh -c"
// elsewhere) and waits for it to end, the same way as RunProcessAndWait. The
// narrow line is widened as WidenPath of files.h does. The interpreter shares
// this process's console; its exit status is not reported.
ProcessRun RunThroughInterpreter(const std::string& commandLine);

// The arguments of a command line as the Microsoft C runtime splits them
// (argv[0] included). Exposed for the POSIX backend and its tests.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

}  // namespace marl::platform

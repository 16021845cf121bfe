// A stand-in for one of the Windows diagnostic programs the support-archive
// collector runs through the command interpreter (diskshadow, wevtutil,
// msinfo32; which one is fixed when it is built, MARL_STAND_IN_TOOL).
//
// It appends its command line, exactly as it received it (GetCommandLineW on
// Windows; the arguments joined by single spaces elsewhere), followed by a
// line feed, to <its own path>.cmdline, and writes the output the real
// program would:
//   diskshadow  the log named after "/l": "DiskShadow stand-in log\r\n"
//   msinfo32    the report named after "/report": "System information stand-in\r\n"
//   wevtutil    the event text on standard output (the collector redirects it)
// Exits 0.
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string OwnPath(char** argv) {
#ifdef _WIN32
    (void)argv;
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
#else
    // argv[0] is the name as the shell found it on the PATH, not a path.
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv[0]);
#endif
}

std::string CommandLine(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    const wchar_t* w = ::GetCommandLineW();
    std::string out;
    for (; *w; ++w) out += *w < 0x80 ? static_cast<char>(*w) : '?';
    return out;
#else
    std::string out;
    for (int i = 0; i < argc; ++i) out += (i ? " " : "") + std::string(argv[i]);
    return out;
#endif
}

// The argument after `option`, or nullptr.
const char* After(int argc, char** argv, const char* option) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0) return argv[i + 1];
    }
    return nullptr;
}

bool WriteText(const char* path, const char* text) {
    if (!path) return false;
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::fputs(text, f);
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string record = OwnPath(argv);
#ifdef _WIN32
    size_t dot = record.rfind('.');
    if (dot != std::string::npos) record.erase(dot);
#endif
    record += ".cmdline";
    if (std::FILE* f = std::fopen(record.c_str(), "ab")) {
        std::string line = CommandLine(argc, argv) + "\n";
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
    const std::string tool = MARL_STAND_IN_TOOL;
    if (tool == "diskshadow") {
        return WriteText(After(argc, argv, "/l"), "DiskShadow stand-in log\r\n") ? 0 : 1;
    }
    if (tool == "msinfo32") {
        return WriteText(After(argc, argv, "/report"), "System information stand-in\r\n") ? 0 : 1;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // the text carries its own CR LF
#endif
    std::fputs("Event[0]:\r\n  Log Name: Application\r\n  Source: stand-in\r\n", stdout);
    return 0;
}

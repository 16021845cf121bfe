#pragma once
// Test support of the collector's suite: scratch folders, files, a reader of
// the central directory, the outside archive check (Python's zipfile and
// Info-ZIP's unzip) and the start of helper programs. Header only.
//
// Under Wine the suite cannot start Linux programs, so CheckArchive writes a
// manifest that the ctest entry debugtool_archive_check verifies afterwards;
// natively it runs the checker at once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace marl::debugtool::testing {

namespace fs = std::filesystem;

// A path the build knows by its host form, as this build sees it.
inline std::string TargetPath(const std::string& hostPath) {
#ifdef _WIN32
    if (!hostPath.empty() && hostPath[0] == '/') return "Z:" + hostPath;
#endif
    return hostPath;
}

inline fs::path CheckFolder() { return fs::path(TargetPath(MARL_CHECK_DIR)).make_preferred(); }

// Under Wine: empties the check folder of an earlier run's manifests and
// folders, so that the check after this run judges this run only.
inline void ClearCheckFolder() {
#ifdef _WIN32
    std::error_code ec;
    fs::remove_all(CheckFolder(), ec);
#endif
}

// A fresh, empty folder whose name holds no "." (the logger cuts file names
// at the first "."). Under Wine it lies below the check folder, so that the
// native checker finds the archives made in it.
inline fs::path MakeTestFolder(const std::string& tag) {
#ifdef _WIN32
    fs::path base = CheckFolder();
#else
    fs::path base = fs::temp_directory_path();
#endif
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = base / ("marl_" + tag + "_" + std::to_string(rd()));
        std::error_code ec;
        fs::create_directories(base, ec);
        if (fs::create_directory(p, ec)) return p;
    }
    throw std::runtime_error("no test folder");
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline uint32_t Le16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8);
}
inline uint32_t Le32(const std::string& b, size_t at) {
    return Le16(b, at) | (Le16(b, at + 2) << 16);
}

// One central directory record, as read back from an archive's bytes.
struct CentralRecord {
    uint32_t madeBy = 0, needed = 0, flags = 0, method = 0, dosTime = 0, dosDate = 0;
    uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
    uint32_t externalAttributes = 0, localHeaderOffset = 0;
    std::string name, extra;
};

// The records of an archive without a comment; throws when the end record or
// a header is not where it must be.
inline std::vector<CentralRecord> ReadCentralDirectory(const std::string& b) {
    if (b.size() < 22 || Le32(b, b.size() - 22) != 0x06054b50) throw std::runtime_error("no end");
    size_t end = b.size() - 22;
    uint32_t count = Le16(b, end + 10), size = Le32(b, end + 12), offset = Le32(b, end + 16);
    if (offset + static_cast<uint64_t>(size) != end) throw std::runtime_error("bad directory");
    std::vector<CentralRecord> records;
    size_t at = offset;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 46 > end || Le32(b, at) != 0x02014b50) throw std::runtime_error("bad header");
        CentralRecord r;
        r.madeBy = Le16(b, at + 4);
        r.needed = Le16(b, at + 6);
        r.flags = Le16(b, at + 8);
        r.method = Le16(b, at + 10);
        r.dosTime = Le16(b, at + 12);
        r.dosDate = Le16(b, at + 14);
        r.crc = Le32(b, at + 16);
        r.compressedSize = Le32(b, at + 20);
        r.uncompressedSize = Le32(b, at + 24);
        uint32_t nameLength = Le16(b, at + 28), extraLength = Le16(b, at + 30);
        r.externalAttributes = Le32(b, at + 38);
        r.localHeaderOffset = Le32(b, at + 42);
        r.name = b.substr(at + 46, nameLength);
        r.extra = b.substr(at + 46 + nameLength, extraLength);
        records.push_back(r);
        at += 46 + nameLength + extraLength + Le16(b, at + 32);
    }
    return records;
}

inline std::vector<std::string> EntryNames(const fs::path& archive) {
    std::vector<std::string> names;
    for (const CentralRecord& r : ReadCentralDirectory(ReadBytes(archive))) names.push_back(r.name);
    return names;
}

struct ExpectedEntry {
    std::string name;
    fs::path source;  // the bytes the entry must extract to
};

// ASCII texts only: the tests keep their names plain.
inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Has the outside readers check `archive` (entries exactly these, in this
// order, each extracting to its source's bytes). Returns the problems found
// (empty: all well); under Wine the check is deferred (see above). `cleanup`
// (when given) is removed once the check passed.
inline std::string CheckArchive(const fs::path& archive, const std::vector<ExpectedEntry>& entries,
                                const fs::path& cleanup = {}) {
    static int serial = 0;
    fs::path manifest = CheckFolder() / ("archive_" + std::to_string(++serial) + "_" +
                                         std::to_string(std::random_device()()) + ".manifest");
    fs::create_directories(CheckFolder());
    {
        std::ofstream m(manifest, std::ios::binary);
        m << "archive\t" << archive.string() << "\n";
        for (const ExpectedEntry& e : entries)
            m << "entry\t" << e.name << "\t" << e.source.string() << "\n";
#ifdef _WIN32
        if (!cleanup.empty()) m << "cleanup\t" << cleanup.string() << "\n";
#endif
    }
#ifdef _WIN32
    return std::string();
#else
    fs::path report = manifest.string() + ".out";
    std::string command = "python3 " + Quote(MARL_ARCHIVE_CHECKER) + " " +
                          Quote(manifest.string()) + " >" + Quote(report.string()) + " 2>&1";
    int rc = std::system(command.c_str());
    std::string out = ReadBytes(report);
    std::error_code ec;
    fs::remove(report, ec);
    fs::remove(manifest, ec);
    if (rc != 0) return out;
    if (!cleanup.empty()) fs::remove_all(cleanup, ec);
    return std::string();
#endif
}

// Runs `program` with `args`, the folder `pathFirst` (if not empty) put first
// on its PATH, its standard output into `output` (standard error into
// `output` + ".err"); returns its exit code (-1
// when it could not be started).
inline int RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& pathFirst, const fs::path& output) {
#ifdef _WIN32
    std::wstring line = L"\"" + fs::path(program).wstring() + L"\"";
    for (const std::string& a : args) {
        std::wstring arg = fs::path(a).wstring();
        // Backslashes before the closing quote are doubled, or the C
        // runtime would read the last one as escaping the quote.
        size_t slashes = arg.size() - arg.find_last_not_of(L'\\') - 1;
        line += L" \"" + arg + std::wstring(slashes, L'\\') + L"\"";
    }
    // The environment block: ours, with PATH replaced.
    std::wstring block;
    wchar_t* env = ::GetEnvironmentStringsW();
    std::wstring oldPath;
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
        std::wstring var = p;
        if (_wcsnicmp(var.c_str(), L"PATH=", 5) == 0) {
            oldPath = var.substr(5);
            continue;
        }
        block += var;
        block.push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(env);
    std::wstring path =
        pathFirst.empty() ? oldPath : fs::path(pathFirst).wstring() + L";" + oldPath;
    block += L"PATH=" + path;
    block.push_back(L'\0');
    block.push_back(L'\0');

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = ::CreateFileW(output.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = ::CreateFileW((output.wstring() + L".err").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    BOOL started = ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE,
                                    CREATE_UNICODE_ENVIRONMENT, &block[0], nullptr, &si, &pi);
    ::CloseHandle(out);
    ::CloseHandle(err);
    ::CloseHandle(in);
    if (!started) return -1;
    ::WaitForSingleObject(pi.hProcess, 300000);
    DWORD code = 0;
    int rc = ::GetExitCodeProcess(pi.hProcess, &code) && code != STILL_ACTIVE
                 ? static_cast<int>(code)
                 : -1;
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    return rc;
#else
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    std::vector<std::string> vars;
    std::string oldPath;
    for (char** e = environ; *e; ++e) {
        std::string var = *e;
        if (var.compare(0, 5, "PATH=") == 0) {
            oldPath = var.substr(5);
        } else {
            vars.push_back(var);
        }
    }
    vars.push_back("PATH=" + (pathFirst.empty() ? oldPath : pathFirst + ":" + oldPath));
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string errors = output.string() + ".err";
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}

}  // namespace marl::debugtool::testing

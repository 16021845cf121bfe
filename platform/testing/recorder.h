#pragma once
// Test support around the argument recorder (record_args.cpp): where it was
// built, copying it where a program is expected, reading what it recorded,
// and scratch folders. Header only; used by the platform and common suites.
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace marl::testing {

namespace fs = std::filesystem;

// The build knows the recorder by a host path; under Wine a path beginning
// with "/" is reached through drive Z:.
inline std::string RecorderBuildPath() {
    std::string path = MARL_RECORD_ARGS;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
    return path;
}

// A fresh, empty folder below the system's temporary folder. Its name holds
// no "." (the log's rotation cuts file names at the first ".").
inline fs::path MakeScratchFolder(const std::string& tag) {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = fs::temp_directory_path() / ("marl_" + tag + "_" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directories(p, ec)) return p;
    }
    throw std::runtime_error("no scratch folder");
}

// Copies the recorder to `target` (an executable path) and returns it.
inline fs::path InstallRecorder(const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(RecorderBuildPath(), target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    return target;
}

// One entry per run of the recorder at `program`, each the argv it received.
inline std::vector<std::vector<std::string>> ReadRecordedRuns(const fs::path& program) {
    std::vector<std::vector<std::string>> runs;
    std::ifstream in(program.string() + ".args", std::ios::binary);
    std::string word;
    while (in >> word && word == "argc") {
        int argc = 0;
        in >> argc;
        in.get();  // line end
        std::vector<std::string> argv;
        for (int i = 0; i < argc && in; ++i) {
            size_t length = 0;
            in >> length;
            in.get();  // ':'
            std::string arg(length, '\0');
            in.read(&arg[0], static_cast<std::streamsize>(length));
            in.get();  // line end
            argv.push_back(arg);
        }
        runs.push_back(argv);
    }
    return runs;
}

// ASCII texts only: the tests keep their paths and arguments plain.
inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
inline std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

}  // namespace marl::testing

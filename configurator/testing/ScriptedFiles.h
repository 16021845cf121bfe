#pragma once
// Test support: the system's file calls, each one recorded by the names of the
// files it touched ("create secret marl_vss_conf_out.txt",
// "make secret marl_vss_conf.txt", "flush", "close", "remove marl_vss_conf.bck",
// "rename marl_vss_conf.txt marl_vss_conf.bck"), and the ones a script names
// made to fail without touching anything, so that tests can show the order of
// the calls and what the run does when a disk fails it or another program
// holds a file.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_operations.h"

namespace marl::testing {

struct FileScript {
    bool flushFails = false;  // FlushToDisk fails (the stream is left as it was)
    // By recorded call ("rename FROM TO", "make secret NAME"): the call fails
    // with this error number.
    std::map<std::string, int> errors;
};

class ScriptedFiles : public marl::platform::FileOperations {
  public:
    void SetScript(FileScript script) { m_script = std::move(script); }
    const std::vector<std::string>& Calls() const { return m_calls; }

    std::FILE* Create(const std::string& path, marl::platform::FileAccess access,
                      int* error) override {
        const bool secret = access == marl::platform::FileAccess::Secret;
        m_calls.push_back(std::string("create ") + (secret ? "secret " : "") + Name(path));
        return m_system->Create(path, access, error);
    }
    bool MakeSecret(const std::string& path, int* error) override {
        std::string call = "make secret " + Name(path);
        m_calls.push_back(call);
        return !Failed(call, error) && m_system->MakeSecret(path, error);
    }
    bool FlushToDisk(std::FILE* stream) override {
        m_calls.push_back("flush");
        return !m_script.flushFails && m_system->FlushToDisk(stream);
    }
    bool Close(std::FILE* stream) override {
        m_calls.push_back("close");
        return m_system->Close(stream);
    }
    bool Remove(const std::string& path) override {
        m_calls.push_back("remove " + Name(path));
        return m_system->Remove(path);
    }
    bool Rename(const std::string& from, const std::string& to, int* error) override {
        std::string call = "rename " + Name(from) + " " + Name(to);
        m_calls.push_back(call);
        return !Failed(call, error) && m_system->Rename(from, to, error);
    }

  private:
    bool Failed(const std::string& call, int* error) const {
        auto failing = m_script.errors.find(call);
        if (failing == m_script.errors.end()) return false;
        *error = failing->second;
        return true;
    }
    static std::string Name(const std::string& path) {
        return std::filesystem::path(path).filename().string();
    }

    FileScript m_script;
    std::vector<std::string> m_calls;
    std::unique_ptr<marl::platform::FileOperations> m_system =
        marl::platform::MakeSystemFileOperations();
};

}  // namespace marl::testing

#pragma once
// Test support for CQProvider (unit and integration tests): a scratch
// installation folder holding the configuration file and the provider's log,
// the log read back line by line, and LUN records owned the way VSS owns
// them. Test-only.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/QVssLog.h"
#include "common/testing/LogLine.h"
#include "platform/install_folder.h"
#include "provider/array/LunInfoMemory.h"
#include "vss/VssTypes.h"

namespace marl::testing {

using ProviderLogLine = LogLine;

// A fresh installation folder for each provider under test: the provider's
// constructor reads the configuration file here and opens its log here.
class ProviderScratch {
  public:
    ProviderScratch() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        // No "." anywhere: the logger derives rotation names from the first one.
        for (const std::filesystem::path& root :
             {std::filesystem::temp_directory_path(), std::filesystem::current_path()}) {
            if (root.string().find('.') != std::string::npos) continue;
            m_folder = root / ("marlprovider" + std::to_string(random()) + "x" +
                               std::to_string(counter++));
            if (std::filesystem::create_directories(m_folder)) break;
            m_folder.clear();
        }
        if (m_folder.empty()) throw std::runtime_error("no scratch folder without a dot");
        marl::platform::SetInstallFolder(m_folder.string());
        CQLogger::getInstance()->ResetForTesting();
    }
    ~ProviderScratch() {
        CQLogger::getInstance()->ResetForTesting();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    ProviderScratch(const ProviderScratch&) = delete;
    ProviderScratch& operator=(const ProviderScratch&) = delete;

    std::string Folder() const { return marl::platform::InstallFolder(); }

    // Lines "KEY = [value]" as the configurator writes them; every log module
    // at TRACE unless the text says otherwise.
    void WriteConfig(const std::string& text) {
        std::ofstream(m_folder / "marl_vss_conf.txt") << text;
    }
    static std::string ConfigText(bool vmware = false, const std::string& extra = "") {
        return std::string("EXTERNAL_IP = [127.0.0.1]\nHOST_NAME = [vsshost1]\n") +
               "USERNAME = [admin]\nSNAP_PREFIX = [unit]\nSUPPORT_SSL = [True]\n" +
               "VMWARE_VM = [" + (vmware ? "True" : "False") + "]\n" +
               "REPLICATION_MODE = [False]\nLOG_LEVEL_PROVIDER = [TRACE]\n" +
               "LOG_LEVEL_JSON = [TRACE]\n" + extra;
    }

    std::vector<ProviderLogLine> Lines() const {
        return ReadLogFile(m_folder / "marl_vss_log.txt");
    }
    // Messages of one function ("CQProvider::X"), optionally of one level.
    std::vector<std::string> MessagesOf(const std::string& function,
                                        const std::string& level = "") const {
        std::vector<std::string> out;
        for (const ProviderLogLine& l : Lines())
            if (l.function == function && (level.empty() || l.level == level))
                out.push_back(l.message);
        return out;
    }
    bool Logged(const std::string& level, const std::string& function,
                const std::string& message) const {
        for (const ProviderLogLine& l : Lines())
            if (l.level == level && l.function == function && l.message == message) return true;
        return false;
    }
    size_t Count(const std::string& message) const {
        size_t n = 0;
        for (const ProviderLogLine& l : Lines()) n += l.message == message ? 1 : 0;
        return n;
    }

  private:
    std::filesystem::path m_folder;
};

// LUN records that own their texts the way VSS does (task memory), freed
// with everything the provider left in them.
class LunRecords {
  public:
    LunRecords() = default;
    explicit LunRecords(size_t count) : m_luns(count) {
        for (VDS_LUN_INFORMATION& lun : m_luns) std::memset(&lun, 0, sizeof lun);
    }
    LunRecords(std::initializer_list<std::string> serials, const char* vendor = "MARL") {
        for (const std::string& serial : serials) Add(serial, vendor);
    }
    ~LunRecords() {
        for (VDS_LUN_INFORMATION& lun : m_luns) FreeLunInfo(lun);
    }
    LunRecords(const LunRecords&) = delete;
    LunRecords& operator=(const LunRecords&) = delete;

    // Frees everything and holds `count` zeroed records.
    void Reset(size_t count) {
        for (VDS_LUN_INFORMATION& lun : m_luns) FreeLunInfo(lun);
        m_luns.assign(count, VDS_LUN_INFORMATION{});
        for (VDS_LUN_INFORMATION& lun : m_luns) std::memset(&lun, 0, sizeof lun);
    }
    VDS_LUN_INFORMATION& Add(const std::string& serial, const char* vendor = "MARL") {
        VDS_LUN_INFORMATION lun;
        std::memset(&lun, 0, sizeof lun);
        lun.m_version = 1;
        lun.m_BusType = VDSBusTypeiScsi;
        lun.m_szVendorId = DupCoTaskString(vendor);
        lun.m_szProductId = DupCoTaskString("NXA");
        lun.m_szProductRevision = DupCoTaskString("0001");
        lun.m_szSerialNumber = DupCoTaskString(serial.c_str());
        m_luns.push_back(lun);
        return m_luns.back();
    }
    VDS_LUN_INFORMATION* Data() { return m_luns.empty() ? nullptr : m_luns.data(); }
    VDS_LUN_INFORMATION& operator[](size_t i) { return m_luns[i]; }
    LONG Count() const { return static_cast<LONG>(m_luns.size()); }
    size_t Size() const { return m_luns.size(); }
    std::string Serial(size_t i) const {
        return m_luns[i].m_szSerialNumber ? m_luns[i].m_szSerialNumber : "";
    }

  private:
    std::vector<VDS_LUN_INFORMATION> m_luns;
};

inline VSS_ID TestSetId(uint32_t n) {
    VSS_ID id{};
    id.Data1 = n;
    id.Data4[7] = 0x5A;
    return id;
}

}  // namespace marl::testing

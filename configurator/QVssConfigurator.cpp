// The run: open the files, two passes over the keys, replace the file,
// restart the service.
#include "configurator/QVssConfigurator.h"

#include <cerrno>
#include <cstdio>

#include "common/ConfigReader.h"
#include "configurator/ConfiguratorChecks.h"
#include "configurator/ConfiguratorInternal.h"

namespace {

constexpr char kFunction[] = "CQConfigurator::CQConfigurator";
constexpr char kBackupName[] = "marl_vss_conf.bck";
constexpr char kOutputName[] = "marl_vss_conf_out.txt";
constexpr char kLogName[] = "marl_vss_conf_log.txt";

}  // namespace

// vCenter keys are handled only while VMWARE_VM is "True", the SSO address
// only while VCENTER_DISABLESSO is "False" as well.
enum class Block { Always, VCenter, VCenterSso };

// What the dialogue adds to each key of the file format; in the format's
// order. The key's kind chooses its questions: a password's, a log level's
// (asked only in debug mode) or those of a value, which a flag answers with
// True or False.
struct CQConfigurator::KeyEntry {
    marl::common::ConfigKey key;
    Check check;
    bool flagWhenMissing;
    Block block;
    std::string CQConfigurator::*value;
};

using C = CQConfigurator;
using K = marl::common::ConfigKey;
const C::KeyEntry C::kKeys[] = {
    {K::ExternalIp, verify_ipaddress, false, Block::Always, &C::m_externalIp},
    {K::HostName, verify_hostname, false, Block::Always, &C::m_hostName},
    {K::UserName, verify_username, false, Block::Always, &C::m_userName},
    {K::Password, nullptr, false, Block::Always, &C::m_password},
    {K::SnapPrefix, nullptr, false, Block::Always, &C::m_snapPrefix},
    {K::RetentionPolicy, nullptr, false, Block::Always, &C::m_retentionPolicy},
    {K::SupportSsl, nullptr, true, Block::Always, &C::m_supportSsl},
    {K::VmwareVm, nullptr, true, Block::Always, &C::m_vmwareVm},
    {K::VCenterUrl, nullptr, false, Block::VCenter, &C::m_vcenterUrl},
    {K::VCenterUserName, nullptr, false, Block::VCenter, &C::m_vcenterUserName},
    {K::VCenterPassword, nullptr, false, Block::VCenter, &C::m_vcenterPassword},
    {K::VCenterIgnoreCert, nullptr, true, Block::VCenter, &C::m_vcenterIgnoreCert},
    {K::VCenterDisableSso, nullptr, true, Block::VCenter, &C::m_vcenterDisableSso},
    {K::VCenterSsoUrl, nullptr, false, Block::VCenterSso, &C::m_vcenterSsoUrl},
    // A missing REPLICATION_MODE is asked for as text and stored as typed.
    {K::ReplicationMode, nullptr, false, Block::Always, &C::m_replicationMode},
    {K::LogLevelProvider, nullptr, false, Block::Always, &C::m_logLevelProvider},
    {K::LogLevelJson, nullptr, false, Block::Always, &C::m_logLevelJson},
    {K::LogLevelConfigurator, nullptr, false, Block::Always, &C::m_logLevelConfigurator},
};

namespace {

// Indices into kKeys. The first pass looks at REPLICATION_MODE before
// VMWARE_VM; the second asks for VMWARE_VM first, so that the vCenter block
// can depend on the answer.
constexpr int kFirstPassOrder[] = {0, 1, 2, 3, 4, 5, 6, 14, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17};
constexpr int kSecondPassOrder[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

}  // namespace

CQConfigurator::CQConfigurator(bool debug, const ConfiguratorEnvironment& env)
    : m_env(env), m_logger(env.logger), m_debug(debug) {
    Run();
}

std::string CQConfigurator::Path(const char* name) const { return m_env.folder + name; }

void CQConfigurator::Run() {
    const std::string input = Path(marl::common::kConfigFileName);
    marl::common::ConfigFile in(m_env.folder);
    int outError = 0;
    std::FILE* out =
        m_env.files->Create(Path(kOutputName), marl::platform::FileAccess::Secret, &outError);
    m_logger->OpenLogFile(Path(kLogName));
    CONF_LOG(kFunction, QLOG_INFO, "Start parsing conf-file: %s", input.c_str());
    MakeSecret(input);
    MakeSecret(Path(kBackupName));
    if (!in.IsOpen() || !out) {
        int rc = !in.IsOpen() ? in.OpenError() : outError;
        Print("cannot open config file: rc = " + std::to_string(rc) + "\n");
        CONF_LOG(kFunction, QLOG_ERROR, "cannot open config file: rc =%d", rc);
        if (out) m_env.files->Close(out);
        m_outcome = ConfiguratorOutcome::OpenFailed;
        return;
    }
    try {
        FirstPass(in, out);
        SecondPass(out);
    } catch (const ConsoleInputEnded&) {
        StopForEndOfInput(out, in);
        return;
    }
    in.Close();
    // On the disk before the renames: after a power cut the renamed file must
    // hold the settings, not the empty file the rename found.
    bool written = !std::ferror(out) && m_env.files->FlushToDisk(out);
    written = m_env.files->Close(out) && written;
    if (!written) {
        Print("Could not write " + Path(kOutputName) + "; " + input +
              " was not changed and the service was not restarted.\n");
        CONF_LOG(kFunction, QLOG_ERROR, "Failed writing '%s'; configuration file not changed",
                 Path(kOutputName).c_str());
        m_outcome = ConfiguratorOutcome::WriteFailed;
        return;
    }
    m_logger->SetLogLevel("CONFIGURATOR", m_logLevelConfigurator);
    m_outcome = ReplaceConfigFile();
    if (m_outcome != ConfiguratorOutcome::Replaced) return;
    m_restarted = RestartService();
}

void CQConfigurator::FirstPass(marl::common::ConfigFile& in, std::FILE* out) {
    static_assert(sizeof kKeys / sizeof kKeys[0] == marl::common::kConfigKeyCount,
                  "every key of the file has its questions");
    std::string line;
    while (in.ReadLine(line)) {
        CONF_LOG(kFunction, QLOG_INFO, "curline: %s", MaskPasswordLine(line).c_str());
        for (int index : kFirstPassOrder) {
            const KeyEntry& entry = kKeys[index];
            if (!InBlock(entry)) continue;
            if (Offer(out, line, entry, Pass::First)) {
                m_met[index] = true;
                break;
            }
        }
    }
}

void CQConfigurator::SecondPass(std::FILE* out) {
    for (int index : kSecondPassOrder) {
        const KeyEntry& entry = kKeys[index];
        if (m_met[index] || !InBlock(entry)) continue;
        Offer(out, marl::common::ConfigKeyText(entry.key), entry, Pass::Second);
    }
}

bool CQConfigurator::InBlock(const KeyEntry& entry) const {
    switch (entry.block) {
        case Block::Always:
            return true;
        case Block::VCenter:
            return m_vmwareVm == marl::common::FlagText(true);
        case Block::VCenterSso:
            return m_vmwareVm == marl::common::FlagText(true) &&
                   m_vcenterDisableSso == marl::common::FlagText(false);
    }
    return false;
}

bool CQConfigurator::Offer(std::FILE* out, const std::string& line, const KeyEntry& entry,
                           Pass pass) {
    std::string& value = this->*entry.value;
    const marl::common::ConfigKeyInfo& info = marl::common::ConfigKeyOf(entry.key);
    switch (info.kind) {
        case marl::common::ConfigValueKind::Text:
        case marl::common::ConfigValueKind::Flag: {
            bool isFlag = pass == Pass::First ? info.kind == marl::common::ConfigValueKind::Flag
                                              : entry.flagWhenMissing;
            return ChangeParam(out, line, info.text, value, entry.check, isFlag);
        }
        case marl::common::ConfigValueKind::Secret:
            return ChangePassword(out, line, info.text, value);
        case marl::common::ConfigValueKind::LogLevel:
            return ChangeDebugParam(out, line, info.text, value);
    }
    return false;
}

void CQConfigurator::StopForEndOfInput(std::FILE* out, marl::common::ConfigFile& in) {
    m_env.files->Close(out);
    in.Close();
    m_env.files->Remove(Path(kOutputName));
    Print(
        "\nInput ended before all questions were answered: " + Path(marl::common::kConfigFileName) +
        " was not changed and the service was not restarted.\n");
    CONF_LOG(kFunction, QLOG_ERROR,
             "Input ended during the dialogue; configuration file not changed");
    m_outcome = ConfiguratorOutcome::InputEnded;
}

// The old file becomes the backup and the new one takes its name. When that
// fails (another program holds a file without delete sharing, say), the old
// file is put back and the answers stay in the output file; when even that
// fails, there is no configuration file and the administrator must be told
// where both versions are.
ConfiguratorOutcome CQConfigurator::ReplaceConfigFile() {
    const std::string input = Path(marl::common::kConfigFileName);
    const std::string backup = Path(kBackupName);
    const std::string output = Path(kOutputName);
    marl::platform::FileOperations& files = *m_env.files;
    files.Remove(backup);
    int rc = 0;
    if (!files.Rename(input, backup, &rc)) {
        ReportFailedRename(input, backup, rc);
        return ConfiguratorOutcome::ReplaceFailed;
    }
    if (files.Rename(output, input, &rc)) return ConfiguratorOutcome::Replaced;
    ReportFailedRename(output, input, rc);
    if (files.Rename(backup, input, &rc)) return ConfiguratorOutcome::ReplaceFailed;
    ReportFailedRestore(rc);
    return ConfiguratorOutcome::RestoreFailed;
}

void CQConfigurator::ReportFailedRename(const std::string& from, const std::string& to, int rc) {
    CONF_LOG(kFunction, QLOG_ERROR, "Failed renaming '%s' to '%s': rc =%d", from.c_str(),
             to.c_str(), rc);
    Print("Could not rename " + from + " to " + to + " (rc = " + std::to_string(rc) +
          "): the new settings are kept in " + Path(kOutputName) +
          ", and the service was not restarted.\n");
}

// The log names the two files without their folder: the line names it
// already, and a line longer than the logger's limit would lose the names.
void CQConfigurator::ReportFailedRestore(int rc) {
    const std::string input = Path(marl::common::kConfigFileName);
    const std::string backup = Path(kBackupName);
    const std::string output = Path(kOutputName);
    CONF_LOG(kFunction, QLOG_ERROR,
             "Failed renaming '%s' back to '%s': rc =%d; the old settings are in %s, the new "
             "ones in %s",
             backup.c_str(), input.c_str(), rc, kBackupName, kOutputName);
    Print("Could not rename " + backup + " back to " + input + " (rc = " + std::to_string(rc) +
          "): the old settings are in " + backup + " and the new ones in " + output + ".\n");
}

// The stored passwords can be deciphered by whoever reads the file, so only
// the system and the administrators may; files written before that rule get
// it here. A file that is not there is nothing to protect.
void CQConfigurator::MakeSecret(const std::string& path) {
    int rc = 0;
    if (m_env.files->MakeSecret(path, &rc) || rc == ENOENT) return;
    CONF_LOG(kFunction, QLOG_ERROR, "Failed protecting '%s': rc =%d", path.c_str(), rc);
}

void CQConfigurator::Print(const std::string& text) { m_env.console->Write(text); }

void CQConfigurator::WriteLine(std::FILE* out, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
}

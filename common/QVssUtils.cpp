#include "common/QVssUtils.h"

#include "common/QVssLog.h"
#include "platform/install_folder.h"
#include "platform/process.h"

static constexpr char kLogUnit[] = "QVssUtils";

namespace {

// Serials and the install folder are plain ASCII; each byte becomes one
// wide character.
std::wstring WidenByCharacter(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) wide += static_cast<wchar_t>(c);
    return wide;
}

std::wstring HelperCommand(const wchar_t* operation) {
    return L"\"" + WidenByCharacter(marl::platform::HelperPath()) + L"\"" + operation;
}

}  // namespace

int execute_qvcenter_scsi_rescan() {
    QVSS_LOG("execute_qvcenter_scsi_rescan", "PROVIDER", QLOG_INFO, "setting scsi rescan");
    std::wstring commandLine = HelperCommand(L" --operation scsi_rescan");
    return execute_qvcenter(commandLine);
}

int execute_qvcenter_set_rdm(std::string scsiSerials) {
    QVSS_LOG("execute_qvcenter_set_rdm", "PROVIDER", QLOG_INFO, "setting rdm for %s",
             scsiSerials.c_str());
    std::wstring commandLine =
        HelperCommand(L" --operation set_rdm --scsi_sn") + WidenByCharacter(scsiSerials);
    return execute_qvcenter(commandLine);
}

int execute_qvcenter_remove_rdm(std::string scsiSerials) {
    QVSS_LOG("execute_qvcenter_remove_rdm", "PROVIDER", QLOG_INFO, "removing rdm for %s",
             scsiSerials.c_str());
    std::wstring commandLine =
        HelperCommand(L" --operation remove_rdm --scsi_sn") + WidenByCharacter(scsiSerials);
    return execute_qvcenter(commandLine);
}

int execute_qvcenter(std::wstring& commandLine) {
    QVSS_LOG("execute_qvcenter", "PROVIDER", QLOG_INFO, "starting process: %S",
             commandLine.c_str());
    // Logged before the wait: a helper that never ends leaves this line as
    // the last word in the log.
    marl::platform::ProcessRun run = marl::platform::RunProcessAndWait(commandLine, [] {
        QVSS_LOG("execute_qvcenter", "PROVIDER", QLOG_INFO, "Succeeded to call CreateProcess");
    });
    if (!run.started) {
        QVSS_LOG("execute_qvcenter", "PROVIDER", QLOG_ERROR, "Failed to call CreateProcess");
        QVSS_LOG("execute_qvcenter", "PROVIDER", QLOG_ERROR, "Failed to call CreateProcess (%d)",
                 static_cast<int>(run.error));
        return 0;
    }
    QVSS_LOG("execute_qvcenter", "PROVIDER", QLOG_INFO, "execute_qvcenter succeeded");
    return 1;
}

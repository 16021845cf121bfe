// CQProvider: construction, destruction, the notifications and the methods
// the provider does not implement.
#include <mutex>
#include <utility>

#include "common/ConfigReader.h"
#include "common/QVssLog.h"
#include "common/QVssUtils.h"
#include "platform/install_folder.h"
#include "provider/CQProvider.h"
#include "provider/QProviderGuard.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssMethodFrame.h"

static constexpr char kLogUnit[] = "QProvider";

using marl::provider::ExitLines;
using marl::provider::Locking;
using marl::provider::NoEntryLine;
using marl::provider::RunVssMethod;
using marl::provider::VssMethod;

// Start-up order: the configuration file is opened, the log opened and the
// version logged (the log opens whether or not the file did), then the file is
// read into the settings and the log levels it names are applied.
CQProvider::CQProvider() : CQProvider([] { return marl::platform::CreateHttpClient(); }) {}

CQProvider::CQProvider(marl::platform::HttpClientFactory factory)
    : m_array(StartUp(), std::move(factory), *this) {}

ProviderSettings CQProvider::StartUp() {
    CQLogger* logger = CQLogger::getInstance();
    const std::string folder = marl::platform::InstallFolder();
    marl::common::ConfigFile config(folder);
    logger->OpenLogFile(folder + "marl_vss_log.txt");
    QVSS_LOG("CQProvider::CQProvider", "PROVIDER", QLOG_INFO, "Provider Version: %S",
             marl::provider::kProviderVersion);
    return ReadProviderSettings(*logger, config);
}

CQProvider::~CQProvider() { OnUnload(TRUE); }

void CQProvider::RunHelperRemoveRdm(const std::string& scsiSerials) {
    execute_qvcenter_remove_rdm(scsiSerials);
}

HRESULT CQProvider::OnLoad(IUnknown*) {
    FuncTrace trace(L"CQProvider::OnLoad");
    return S_OK;
}

// The set in progress, unless it is finished or already thrown away, is
// discarded; the provider is then ready for a new set.
HRESULT CQProvider::OnUnload(BOOL) {
    static constexpr VssMethod kMethod{"CQProvider::OnUnload", Locking::BeforeEntry,
                                       ExitLines::DebuggerOnly};
    FuncTrace trace(L"CQProvider::OnUnload");
    return RunVssMethod(
        kMethod, m_cs, NoEntryLine(),
        [&] {
            if (m_state != VSS_SS_UNKNOWN && m_state != VSS_SS_CREATED && m_state != VSS_SS_ABORTED)
                DeleteAbortedSnapshots();
            return S_OK;
        },
        [&](HRESULT hr) {
            m_state = VSS_SS_UNKNOWN;
            return hr;
        });
}

HRESULT CQProvider::GetProviderCapabilities(ULONGLONG*) {
    FuncTrace trace(L"CQProvider::GetProviderCapabilities");
    return E_NOTIMPL;
}

HRESULT CQProvider::OnReuseLuns(VDS_LUN_INFORMATION*, VDS_LUN_INFORMATION*, DWORD) {
    static constexpr VssMethod kMethod{"CQProvider::OnReuseLuns", Locking::None,
                                       ExitLines::LogOnly};
    FuncTrace trace(L"CQProvider::OnReuseLuns");
    return RunVssMethod(kMethod, m_cs, NoEntryLine(), [] { return E_NOTIMPL; });
}

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

static constexpr char kLogUnit[] = "QProvider";

using qprovider::RunGuarded;

// Start-up order: the configuration file is opened, the log opened and the
// version logged (the log opens whether or not the file did), then the file is
// read into the settings and the log levels it names are applied.
CQProvider::CQProvider() : CQArrayClient(ProviderSettings{}) { StartUp(); }

CQProvider::CQProvider(marl::platform::HttpClientFactory factory)
    : CQArrayClient(ProviderSettings{}, std::move(factory)) {
    StartUp();
}

void CQProvider::StartUp() {
    CQLogger* logger = CQLogger::getInstance();
    const std::string folder = marl::platform::InstallFolder();
    ConfigFile config(folder);
    logger->OpenLogFile(folder + "marl_vss_log.txt");
    QVSS_LOG("CQProvider::CQProvider", "PROVIDER", QLOG_INFO, "Provider Version: %S",
             qprovider::kProviderVersion);
    m_settings = ReadProviderSettings(*logger, config);
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
    static constexpr char kFn[] = "CQProvider::OnUnload";
    FuncTrace trace(L"CQProvider::OnUnload");
    HRESULT hr = RunGuarded(kFn, [&] {
        std::lock_guard<std::recursive_mutex> lock(m_cs);
        HRESULT result = S_OK;
        if (m_state != VSS_SS_UNKNOWN && m_state != VSS_SS_CREATED && m_state != VSS_SS_ABORTED) {
            result = RunGuarded(kFn, [&] {
                DeleteAbortedSnapshots();
                return S_OK;
            });
        }
        m_state = VSS_SS_UNKNOWN;
        result = qprovider::ToVssResult(kFn, result);
        DebugOutputFormatted(L"returning 0x%08x\n", static_cast<unsigned>(result));
        return result;
    });
    return qprovider::ToVssResult(kFn, hr);
}

HRESULT CQProvider::GetProviderCapabilities(ULONGLONG*) {
    FuncTrace trace(L"CQProvider::GetProviderCapabilities");
    return E_NOTIMPL;
}

HRESULT CQProvider::OnReuseLuns(VDS_LUN_INFORMATION*, VDS_LUN_INFORMATION*, DWORD) {
    static constexpr char kFn[] = "CQProvider::OnReuseLuns";
    FuncTrace trace(L"CQProvider::OnReuseLuns");
    return RunGuarded(kFn, [&] {
        QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE, "returning 0x%08x", static_cast<unsigned>(E_NOTIMPL));
        return E_NOTIMPL;
    });
}

// Which LUNs belong to the array: AreLunsSupported for source LUNs,
// FillInLunInfo (IsLunSupported) for the snapshot LUNs this provider made.
#include <cstring>
#include <mutex>
#include <string>

#include "common/QVssLog.h"
#include "provider/CQProvider.h"
#include "provider/QProviderGuard.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssMethodFrame.h"
#include "provider/array/LunInfoMemory.h"

static constexpr char kLogUnit[] = "QProvider";

using marl::provider::ExitLines;
using marl::provider::Locking;
using marl::provider::RunVssMethod;
using marl::provider::Text;
using marl::provider::VssMethod;

namespace {

bool IsArrayVendor(const char* vendorId) {
    return vendorId != nullptr && std::strcmp(vendorId, marl::provider::kArrayVendorId) == 0;
}

// VSS's serial buffer is only as long as its text: a longer replacement gets
// a buffer of its own and the old one is freed.
void ReplaceSerial(VDS_LUN_INFORMATION& lun, const std::string& serial) {
    if (lun.m_szSerialNumber != nullptr && serial.size() <= std::strlen(lun.m_szSerialNumber)) {
        std::memcpy(lun.m_szSerialNumber, serial.c_str(), serial.size() + 1);
        return;
    }
    marl::array::ReplaceCoTaskString(lun.m_szSerialNumber, serial.c_str());
}

// At most `count` bytes, up to the first zero byte.
std::string BytesAsText(const BYTE* bytes, ULONG count) {
    std::string text;
    for (ULONG i = 0; i < count && bytes[i] != 0; ++i) text += static_cast<char>(bytes[i]);
    return text;
}

}  // namespace

HRESULT CQProvider::CheckLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported) {
    static constexpr char kFn[] = "CQProvider::AreLunsSupported";
    if (count > 0 && luns == nullptr) return VSS_E_PROVIDER_VETO;
    for (LONG i = 0; i < count; ++i) {
        if (!IsArrayVendor(luns[i].m_szVendorId)) {
            QVSS_LOG(kFn, "PROVIDER", QLOG_WARN,
                     "MarlVssProvider does not support volume/s in snapshot set");
            return S_OK;
        }
    }
    marl::array::LunInfoList volumes;
    uint32_t rc = m_array.GetAllQLuns(volumes);
    if (rc != 0) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR,
                 "MarlVssProvider could not get volumes from NXA: 0x%08x",
                 static_cast<unsigned>(rc));
        return VSS_E_PROVIDER_VETO;
    }
    for (LONG i = 0; i < count; ++i) {
        std::string serial = Text(luns[i].m_szSerialNumber);
        LunInfo* volume = m_array.FindQLunBySn(volumes, serial);
        if (volume == nullptr) {
            // A replica's serial maps back to its volume through the peer
            // serial. The peer lookup reads the volume list fetched above, so
            // a failing replica fetch changes nothing and is only logged.
            marl::array::LunInfoList replicas;
            uint32_t repRc = m_array.GetAllQLunsReplicas(replicas);
            if (repRc != 0)
                QVSS_LOG(kFn, "PROVIDER", QLOG_WARN,
                         "GetAllQLunsReplicas returned 0x%08x; looking up peer serials in the "
                         "volume list",
                         static_cast<unsigned>(repRc));
            volume = m_array.FindQLunByRepSn(volumes, serial);
            if (volume == nullptr) {
                QVSS_LOG(kFn, "PROVIDER", QLOG_WARN,
                         "MarlVssProvider did not find the volume in NXA");
                return S_OK;
            }
            ReplaceSerial(luns[i], volume->sn);
        }
        if (volume->cgName == marl::provider::kNoGroup) {
            *supported = TRUE;
            QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR,
                     "MarlVssProvider does not support snapshots for volumes not in consistency "
                     "group");
            return VSS_E_PROVIDER_VETO;
        }
    }
    QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "returning with pbIsSupported = true");
    *supported = TRUE;
    return S_OK;
}

HRESULT CQProvider::AreLunsSupported(LONG lLunCount, LONG, VSS_PWSZ*,
                                     VDS_LUN_INFORMATION* pLunInformation, BOOL* pbIsSupported) {
    static constexpr VssMethod kMethod{"CQProvider::AreLunsSupported", Locking::BeforeEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::AreLunsSupported");
    BOOL ignored = FALSE;
    BOOL* supported = pbIsSupported != nullptr ? pbIsSupported : &ignored;
    *supported = FALSE;
    return RunVssMethod(
        kMethod, m_cs, [&] { QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering"); },
        [&] { return CheckLunsSupported(lLunCount, pLunInformation, supported); });
}

HRESULT CQProvider::FillInLunInfo(VSS_PWSZ, VDS_LUN_INFORMATION* pLunInfo, BOOL* pbIsSupported) {
    static constexpr VssMethod kMethod{"CQProvider::FillInLunInfo", Locking::BeforeEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::FillInLunInfo");
    BOOL ignored = FALSE;
    BOOL* supported = pbIsSupported != nullptr ? pbIsSupported : &ignored;
    *supported = FALSE;
    return RunVssMethod(
        kMethod, m_cs, [&] { QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering"); },
        [&] {
            if (pLunInfo != nullptr && IsLunSupported(pLunInfo)) {
                *supported = TRUE;
                pLunInfo->m_BusType = VDSBusTypeScsi;
            } else {
                QVSS_LOG(kMethod.function, "PROVIDER", QLOG_DEBUG, "LUN is not supported");
            }
            return S_OK;
        });
}

// A snapshot LUN of this provider carries a vendor-id storage identifier that
// begins with the provider's name (GetTargetLuns writes it).
bool CQProvider::IsLunSupported(VDS_LUN_INFORMATION* pLunInfo) {
    static constexpr char kFn[] = "CQProvider::IsLunSupported";
    QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE, "entering");
    const void* p = pLunInfo;
    const char* vendor = Text(pLunInfo->m_szVendorId);
    if (!IsArrayVendor(pLunInfo->m_szVendorId)) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "info: %p vendor %s", p, vendor);
        return false;
    }
    const VDS_STORAGE_DEVICE_ID_DESCRIPTOR& ids = pLunInfo->m_deviceIdDescriptor;
    if (ids.m_cIdentifiers == 0 || ids.m_rgIdentifiers == nullptr) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "info: %p vendor %s m_cIdentifiers = %d ", p, vendor,
                 static_cast<int>(ids.m_cIdentifiers));
        return false;
    }
    const int lenName = static_cast<int>(marl::provider::kProviderNameLength);
    for (ULONG i = 0; i < ids.m_cIdentifiers; ++i) {
        const VDS_STORAGE_IDENTIFIER& id = ids.m_rgIdentifiers[i];
        const int index = static_cast<int>(i);
        if (id.m_Type != VDSStorageIdTypeVendorId) {
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "info: %p vendor %s i=%d : type = %d", p, vendor,
                     index, static_cast<int>(id.m_Type));
            continue;
        }
        if (id.m_cbIdentifier <= marl::provider::kProviderNameLength ||
            id.m_rgbIdentifier == nullptr) {
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG,
                     "info: %p vendor %s i=%d : m_cbIdentifier = %d, lenName = %d, type = %d, "
                     "codeSet = %d ",
                     p, vendor, index, static_cast<int>(id.m_cbIdentifier), lenName,
                     static_cast<int>(id.m_Type), static_cast<int>(id.m_CodeSet));
            continue;
        }
        if (std::memcmp(id.m_rgbIdentifier, marl::provider::kProviderName, lenName) == 0) {
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "info: %p vendor %s i=%d - returning True!", p,
                     vendor, index);
            return true;
        }
        std::string shown = BytesAsText(id.m_rgbIdentifier, id.m_cbIdentifier);
        QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG,
                 "info: %p vendor %s i=%d : strncmp((const char *)storId.m_rgbIdentifier, "
                 "providerName, lenName)!=0  m_rgbIdentifier=%s",
                 p, vendor, index, shown.c_str());
    }
    QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "info: %p vendor %s - returning False!", p, vendor);
    return false;
}

#include "HarnessLuns.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "provider/array/LunInfoMemory.h"

namespace marl::harness {

LunSet::LunSet(size_t count) : m_luns(count) {
    for (VDS_LUN_INFORMATION& lun : m_luns) std::memset(&lun, 0, sizeof lun);
}

LunSet LunSet::FromSerials(const std::vector<std::string>& serials, const std::string& vendor) {
    LunSet set(serials.size());
    for (size_t i = 0; i < serials.size(); ++i) {
        VDS_LUN_INFORMATION& lun = set.m_luns[i];
        lun.m_version = VER_VDS_LUN_INFORMATION;
        lun.m_DeviceType = 0;  // direct-access block device
        lun.m_bCommandQueueing = TRUE;
        lun.m_BusType = VDSBusTypeiScsi;
        lun.m_szVendorId = DupCoTaskString(vendor.c_str());
        lun.m_szProductId = DupCoTaskString("NXA");
        lun.m_szProductRevision = DupCoTaskString("0001");
        lun.m_szSerialNumber = DupCoTaskString(serials[i].c_str());
    }
    return set;
}

LunSet LunSet::CopyOf(const VDS_LUN_INFORMATION* luns, size_t count) {
    LunSet set(count);
    for (size_t i = 0; i < count; ++i) CopyLunInfo(set.m_luns[i], luns[i]);
    return set;
}

LunSet::~LunSet() { FreeAll(); }

LunSet::LunSet(LunSet&& other) noexcept : m_luns(std::move(other.m_luns)) { other.m_luns.clear(); }

LunSet& LunSet::operator=(LunSet&& other) noexcept {
    if (this != &other) {
        FreeAll();
        m_luns = std::move(other.m_luns);
        other.m_luns.clear();
    }
    return *this;
}

void LunSet::FreeAll() {
    for (VDS_LUN_INFORMATION& lun : m_luns) FreeLunInfo(lun);
    m_luns.clear();
}

std::vector<std::string> LunSet::Serials() const {
    std::vector<std::string> serials;
    for (const VDS_LUN_INFORMATION& lun : m_luns)
        serials.push_back(lun.m_szSerialNumber != nullptr ? lun.m_szSerialNumber : "");
    return serials;
}

namespace {

const char* Shown(const char* text) { return text != nullptr ? text : "(none)"; }

std::string Hex(const BYTE* bytes, size_t count) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// A provider identifier reads as its 16-byte name and the GUID after it.
std::string DescribeIdentifier(const VDS_STORAGE_IDENTIFIER& id) {
    char head[64];
    std::snprintf(head, sizeof head,
                  "type %d, code set %d, %u bytes: ", static_cast<int>(id.m_Type),
                  static_cast<int>(id.m_CodeSet), static_cast<unsigned>(id.m_cbIdentifier));
    if (id.m_rgbIdentifier == nullptr) return std::string(head) + "(none)";
    if (id.m_cbIdentifier > 16) {
        std::string name(reinterpret_cast<const char*>(id.m_rgbIdentifier), 16);
        return head +
               ("\"" + name + "\" + " + Hex(id.m_rgbIdentifier + 16, id.m_cbIdentifier - 16));
    }
    return head + Hex(id.m_rgbIdentifier, id.m_cbIdentifier);
}

}  // namespace

std::string DescribeLun(const VDS_LUN_INFORMATION& lun) {
    char head[512];
    std::snprintf(head, sizeof head, "serial=%s vendor=%s product=%s revision=%s bus=%d",
                  Shown(lun.m_szSerialNumber), Shown(lun.m_szVendorId), Shown(lun.m_szProductId),
                  Shown(lun.m_szProductRevision), static_cast<int>(lun.m_BusType));
    std::string text = head;
    const VDS_STORAGE_DEVICE_ID_DESCRIPTOR& ids = lun.m_deviceIdDescriptor;
    for (ULONG i = 0; i < ids.m_cIdentifiers && ids.m_rgIdentifiers != nullptr; ++i)
        text +=
            " id[" + std::to_string(i) + "]={" + DescribeIdentifier(ids.m_rgIdentifiers[i]) + "}";
    return text;
}

std::string ResultText(HRESULT hr) {
    const char* name = "";
    if (hr == S_OK)
        name = " S_OK";
    else if (hr == VSS_E_PROVIDER_VETO)
        name = " VSS_E_PROVIDER_VETO";
    else if (hr == E_OUTOFMEMORY)
        name = " E_OUTOFMEMORY";
    else if (hr == E_NOTIMPL)
        name = " E_NOTIMPL";
    char text[48];
    std::snprintf(text, sizeof text, "0x%08x%s", static_cast<unsigned>(hr), name);
    return text;
}

}  // namespace marl::harness

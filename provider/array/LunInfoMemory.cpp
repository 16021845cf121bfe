#include "provider/array/LunInfoMemory.h"

#include <cstring>

#include "platform/com_memory.h"

namespace {

template <class T>
void FreeAndClear(T*& block) {
    marl::platform::ComTaskMemFree(block);
    block = nullptr;
}

void FreeIdentifiers(VDS_STORAGE_DEVICE_ID_DESCRIPTOR& descriptor) {
    if (descriptor.m_rgIdentifiers != nullptr) {
        for (ULONG i = 0; i < descriptor.m_cIdentifiers; ++i)
            FreeAndClear(descriptor.m_rgIdentifiers[i].m_rgbIdentifier);
    }
    FreeAndClear(descriptor.m_rgIdentifiers);
    descriptor.m_cIdentifiers = 0;
}

void FreeInterconnects(VDS_LUN_INFORMATION& lun) {
    if (lun.m_rgInterconnects != nullptr) {
        for (ULONG i = 0; i < lun.m_cInterconnects; ++i) {
            FreeAndClear(lun.m_rgInterconnects[i].m_pbPort);
            FreeAndClear(lun.m_rgInterconnects[i].m_pbAddress);
        }
    }
    FreeAndClear(lun.m_rgInterconnects);
    lun.m_cInterconnects = 0;
}

}  // namespace

void FreeLunInfo(VDS_LUN_INFORMATION& lun) {
    FreeAndClear(lun.m_szVendorId);
    FreeAndClear(lun.m_szProductId);
    FreeAndClear(lun.m_szProductRevision);
    FreeAndClear(lun.m_szSerialNumber);
    FreeIdentifiers(lun.m_deviceIdDescriptor);
    FreeInterconnects(lun);
}

void CopyLunInfo(VDS_LUN_INFORMATION& dest, const VDS_LUN_INFORMATION& source) {
    std::memset(&dest, 0, sizeof dest);
    dest.m_version = source.m_version;
    dest.m_DeviceType = source.m_DeviceType;
    dest.m_DeviceTypeModifier = source.m_DeviceTypeModifier;
    dest.m_bCommandQueueing = source.m_bCommandQueueing;
    dest.m_BusType = source.m_BusType;
    dest.m_diskSignature = source.m_diskSignature;
    dest.m_szVendorId = DupCoTaskString(source.m_szVendorId);
    dest.m_szProductId = DupCoTaskString(source.m_szProductId);
    dest.m_szProductRevision = DupCoTaskString(source.m_szProductRevision);
    dest.m_szSerialNumber = DupCoTaskString(source.m_szSerialNumber);
}

char* DupCoTaskString(const char* text) {
    if (text == nullptr) return nullptr;
    size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(marl::platform::ComTaskMemAlloc(size));
    if (copy == nullptr) throw static_cast<HRESULT>(E_OUTOFMEMORY);
    std::memcpy(copy, text, size);
    return copy;
}

void marl::array::ReplaceCoTaskString(char*& slot, const char* text) {
    char* copy = DupCoTaskString(text);
    marl::platform::ComTaskMemFree(slot);
    slot = copy;
}

// The pieces under the VSS methods: the guard, the VSS-result filter, the
// helper-serial rule, the task-memory copies of LUN records, the time stamp.
#include "provider/QProviderGuard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/com_memory.h"
#include "provider/QProviderHelpers.h"
#include "provider/array/LunInfoMemory.h"
#include "provider/array/SnapTimestamp.h"

namespace {

TEST(QProviderGuard, EveryKindOfThrowBecomesAResultAndNothingEscapes) {
    struct Case {
        const char* name;
        void (*thrower)();
        HRESULT expected;
    };
    const Case cases[] = {
        {"veto", [] { throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO); }, VSS_E_PROVIDER_VETO},
        {"oom code", [] { throw static_cast<HRESULT>(E_OUTOFMEMORY); }, E_OUTOFMEMORY},
        {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {"runtime_error", [] { throw std::runtime_error("boom"); }, VSS_E_PROVIDER_VETO},
        {"out_of_range", [] { throw std::out_of_range("past the end"); }, VSS_E_PROVIDER_VETO},
        {"a string", [] { throw "text"; }, VSS_E_PROVIDER_VETO},
        {"a double", [] { throw 1.5; }, VSS_E_PROVIDER_VETO},
    };
    for (const Case& c : cases) {
        HRESULT hr = marl::provider::RunGuarded("Test", [&]() -> HRESULT {
            c.thrower();
            return S_OK;
        });
        EXPECT_EQ(hr, c.expected) << c.name;
    }
    EXPECT_EQ(marl::provider::RunGuarded("Test", [] { return E_NOTIMPL; }), E_NOTIMPL);
}

TEST(QProviderGuard, OnlyTheProvidersOwnCodesReachVss) {
    for (HRESULT known : {S_OK, VSS_E_PROVIDER_VETO, E_OUTOFMEMORY, E_NOTIMPL})
        EXPECT_EQ(marl::provider::ToVssResult("Test", known), known);
    // Array and transport statuses, and anything else, become the veto.
    for (uint32_t foreign : {1u, 0x8000401Du, 12029u, 0x80004005u, 0xFFFFFFFFu})
        EXPECT_EQ(marl::provider::ToVssResult("Test", static_cast<HRESULT>(foreign)),
                  VSS_E_PROVIDER_VETO)
            << foreign;
}

TEST(QProviderHelpers, OnlyLettersAndDigitsGoOnTheHelperCommandLine) {
    struct Case {
        const char* serial;
        bool safe;
    };
    for (Case c : {Case{"6001405ab000001", true}, Case{"ABCdef09", true}, Case{"", false},
                   Case{"a b", false}, Case{"a\"b", false}, Case{"a,b", false}, Case{"--op", false},
                   Case{"a\tb", false}, Case{"a&b", false}, Case{"\xc3\xa9t\xc3\xa9", false}})
        EXPECT_EQ(marl::provider::IsHelperSafeSerial(c.serial), c.safe) << c.serial;
    std::string list = " ";
    EXPECT_TRUE(marl::provider::AppendHelperSerial(list, "sn1", "Test"));
    EXPECT_FALSE(marl::provider::AppendHelperSerial(list, "", "Test"));
    EXPECT_FALSE(marl::provider::AppendHelperSerial(list, "x y", "Test"));
    EXPECT_TRUE(marl::provider::AppendHelperSerial(list, "sn2", "Test"));
    EXPECT_EQ(list, " sn1,sn2");
}

TEST(QProviderHelpers, SetIdsAreLoggedAsLowerCaseHexWithoutBraces) {
    GUID g = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
    EXPECT_EQ(marl::provider::GuidToString(g), "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9");
}

TEST(SnapTimestamp, TenDigitsOfMonthDayHourMinuteSecond) {
    std::string stamp = MakeSnapTimestamp();
    ASSERT_EQ(stamp.size(), 10u);
    for (char c : stamp) EXPECT_TRUE(c >= '0' && c <= '9') << stamp;
    int month = std::stoi(stamp.substr(0, 2));
    EXPECT_GE(month, 1);
    EXPECT_LE(month, 12);
    char small[6];
    MakeSnapTimestamp(small, sizeof small);
    EXPECT_EQ(std::strlen(small), 5u);  // cut to the buffer, still terminated
}

VDS_LUN_INFORMATION SourceLun() {
    VDS_LUN_INFORMATION lun;
    std::memset(&lun, 0, sizeof lun);
    lun.m_version = 1;
    lun.m_DeviceType = 5;
    lun.m_DeviceTypeModifier = 6;
    lun.m_bCommandQueueing = TRUE;
    lun.m_BusType = VDSBusTypeiScsi;
    lun.m_diskSignature.Data1 = 0xDEADBEEF;
    lun.m_szVendorId = DupCoTaskString("MARL");
    lun.m_szSerialNumber = DupCoTaskString("6001405ab000001");
    return lun;
}

TEST(LunInfoMemory, CopyHasItsOwnTextsAndNoIdentifiers) {
    VDS_LUN_INFORMATION source = SourceLun();
    VDS_LUN_INFORMATION copy;
    std::memset(&copy, 0xCD, sizeof copy);
    CopyLunInfo(copy, source);
    EXPECT_EQ(copy.m_version, 1u);
    EXPECT_EQ(copy.m_DeviceType, 5);
    EXPECT_EQ(copy.m_DeviceTypeModifier, 6);
    EXPECT_EQ(copy.m_bCommandQueueing, TRUE);
    EXPECT_EQ(copy.m_BusType, VDSBusTypeiScsi);
    EXPECT_EQ(copy.m_diskSignature.Data1, 0xDEADBEEFu);
    ASSERT_NE(copy.m_szVendorId, source.m_szVendorId);
    EXPECT_STREQ(copy.m_szVendorId, "MARL");
    EXPECT_STREQ(copy.m_szSerialNumber, "6001405ab000001");
    EXPECT_EQ(copy.m_szProductId, nullptr);
    EXPECT_EQ(copy.m_deviceIdDescriptor.m_cIdentifiers, 0u);
    EXPECT_EQ(copy.m_rgInterconnects, nullptr);
    FreeLunInfo(copy);
    EXPECT_EQ(copy.m_szVendorId, nullptr);
    EXPECT_EQ(copy.m_szSerialNumber, nullptr);
    FreeLunInfo(source);
    FreeLunInfo(source);  // a freed record can be freed again
}

TEST(LunInfoMemory, FreeReleasesIdentifiersAndInterconnects) {
    VDS_LUN_INFORMATION lun = SourceLun();
    lun.m_cInterconnects = 2;
    lun.m_rgInterconnects = static_cast<VDS_INTERCONNECT*>(
        marl::platform::ComTaskMemAlloc(2 * sizeof(VDS_INTERCONNECT)));
    std::memset(lun.m_rgInterconnects, 0, 2 * sizeof(VDS_INTERCONNECT));
    lun.m_rgInterconnects[1].m_pbPort = static_cast<BYTE*>(marl::platform::ComTaskMemAlloc(8));
    lun.m_rgInterconnects[1].m_pbAddress = static_cast<BYTE*>(marl::platform::ComTaskMemAlloc(8));
    lun.m_deviceIdDescriptor.m_cIdentifiers = 1;
    lun.m_deviceIdDescriptor.m_rgIdentifiers = static_cast<VDS_STORAGE_IDENTIFIER*>(
        marl::platform::ComTaskMemAlloc(sizeof(VDS_STORAGE_IDENTIFIER)));
    lun.m_deviceIdDescriptor.m_rgIdentifiers[0].m_rgbIdentifier =
        static_cast<BYTE*>(marl::platform::ComTaskMemAlloc(32));
    FreeLunInfo(lun);  // the sanitizer build reports anything left behind
    EXPECT_EQ(lun.m_cInterconnects, 0u);
    EXPECT_EQ(lun.m_rgInterconnects, nullptr);
    EXPECT_EQ(lun.m_deviceIdDescriptor.m_cIdentifiers, 0u);
    EXPECT_EQ(lun.m_deviceIdDescriptor.m_rgIdentifiers, nullptr);
}

TEST(LunInfoMemory, ShortOfMemoryThrowsTheOutOfMemoryCode) {
    marl::platform::SetComAllocGate([](size_t) { return true; });
    HRESULT thrown = S_OK;
    try {
        DupCoTaskString("text");
    } catch (HRESULT hr) {
        thrown = hr;
    }
    EXPECT_EQ(thrown, E_OUTOFMEMORY);
    EXPECT_EQ(DupCoTaskString(nullptr), nullptr);  // nothing to allocate, nothing thrown
    char* slot = nullptr;
    EXPECT_THROW(marl::array::ReplaceCoTaskString(slot, "x"), HRESULT);
    EXPECT_EQ(slot, nullptr);
    marl::platform::SetComAllocGate(nullptr);
}

}  // namespace

#include "provider/VssAsync.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> g_sleeps;
void RecordSleep(uint32_t ms) { g_sleeps.push_back(ms); }

class VssAsyncTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_sleeps.clear();
        m_previous = CVssAsync::SetSleeperForTesting(&RecordSleep);
        m_liveBefore = CVssAsync::LiveObjects();
    }
    void TearDown() override {
        CVssAsync::SetSleeperForTesting(m_previous);
        EXPECT_EQ(CVssAsync::LiveObjects(), m_liveBefore);
    }
    CVssAsync::Sleeper m_previous = nullptr;
    long m_liveBefore = 0;
};

TEST_F(VssAsyncTest, CreatedObjectHoldsExactlyTheCallersReference) {
    IVssAsync* async = CVssAsync::CreateInstanceAndStartJob();
    ASSERT_NE(async, nullptr);
    EXPECT_EQ(CVssAsync::LiveObjects(), m_liveBefore + 1);
    EXPECT_EQ(async->AddRef(), 2u);
    EXPECT_EQ(async->Release(), 1u);
    EXPECT_EQ(async->Release(), 0u);  // gone now
    EXPECT_EQ(CVssAsync::LiveObjects(), m_liveBefore);
}

TEST_F(VssAsyncTest, QueryStatusReportsCompletion) {
    IVssAsync* async = CVssAsync::CreateInstanceAndStartJob();
    ASSERT_NE(async, nullptr);
    struct Case {
        bool giveResult;
        bool giveReserved;
    };
    for (Case c : {Case{true, true}, Case{true, false}, Case{false, true}, Case{false, false}}) {
        HRESULT result = 0x1234;
        INT reserved = 77;
        EXPECT_EQ(async->QueryStatus(c.giveResult ? &result : nullptr,
                                     c.giveReserved ? &reserved : nullptr),
                  S_OK);
        EXPECT_EQ(result, c.giveResult ? 0 : 0x1234);
        EXPECT_EQ(reserved, c.giveReserved ? 100 : 77);
    }
    async->Release();
}

TEST_F(VssAsyncTest, WaitIgnoresTheTimeoutAndSleepsThreeSeconds) {
    IVssAsync* async = CVssAsync::CreateInstanceAndStartJob();
    ASSERT_NE(async, nullptr);
    for (DWORD timeout : {DWORD{0}, DWORD{5}, DWORD{0xFFFFFFFF}})
        EXPECT_EQ(async->Wait(timeout), S_OK);
    EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{3000, 3000, 3000}));
    EXPECT_EQ(async->Cancel(), S_OK);
    async->Release();
}

TEST_F(VssAsyncTest, QueryInterfaceAnswersOnlyItsInterfaces) {
    IVssAsync* async = CVssAsync::CreateInstanceAndStartJob();
    ASSERT_NE(async, nullptr);
    void* out = nullptr;
    EXPECT_EQ(async->QueryInterface(marl::vss::kIidIUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(async));
    static_cast<IUnknown*>(out)->Release();
    IID other = marl::vss::kIidIVssAsync;
    other.Data4[7] ^= 1;
    out = async;
    EXPECT_EQ(async->QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(async->QueryInterface(marl::vss::kIidIVssAsync, nullptr), E_POINTER);
    EXPECT_EQ(async->Release(), 0u);
}

}  // namespace

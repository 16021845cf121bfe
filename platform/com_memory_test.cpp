#include "platform/com_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace marl::platform {
namespace {

TEST(ComMemory, GuidTextIsLowerCaseEightFourFourFourTwelve) {
    // {507C37B4-CF5B-4E95-B0AF-14EB9767467E}, the interface id of IVssAsync.
    ComGuid g{0x507C37B4, 0xCF5B, 0x4E95, {0xB0, 0xAF, 0x14, 0xEB, 0x97, 0x67, 0x46, 0x7E}};
    EXPECT_EQ(ComGuidToString(g), "507c37b4-cf5b-4e95-b0af-14eb9767467e");
    ComGuid zero{};
    EXPECT_EQ(ComGuidToString(zero), "00000000-0000-0000-0000-000000000000");
}

TEST(ComMemory, NewGuidsAreVersionFourAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        ComGuid g{};
        ASSERT_TRUE(ComCreateGuid(&g));
        EXPECT_EQ(g.data3 >> 12, 4) << ComGuidToString(g);
        EXPECT_EQ(g.data4[0] & 0xC0, 0x80) << ComGuidToString(g);
        seen.insert(ComGuidToString(g));
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(ComMemory, AllocatedBlocksAreWritableAndFreeable) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{17}, size_t{4096}}) {
        void* p = ComTaskMemAlloc(n);
        ASSERT_NE(p, nullptr) << n;
        std::memset(p, 0xAB, n);
        ComTaskMemFree(p);
    }
    ComTaskMemFree(nullptr);
}

TEST(ComMemory, GateRefusesOnlyWhatItIsAskedToAndCanBeRemoved) {
    int asked = 0;
    SetComAllocGate([&](size_t n) {
        ++asked;
        return n == 32;
    });
    EXPECT_EQ(ComTaskMemAlloc(32), nullptr);
    void* p = ComTaskMemAlloc(31);
    EXPECT_NE(p, nullptr);
    ComTaskMemFree(p);
    EXPECT_EQ(asked, 2);
    SetComAllocGate(nullptr);
    p = ComTaskMemAlloc(32);
    EXPECT_NE(p, nullptr);
    ComTaskMemFree(p);
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace marl::platform

// The record lists' pool: blocks are reused rather than obtained anew, every
// block is aligned and distinct, and lists on several threads share the pool
// without losing or doubling a block.
#include "provider/array/RecordPool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "provider/array/ArrayRecords.h"

namespace {

using marl::records::FixedBlockPool;

TEST(FixedBlockPool, BlocksAreAlignedDistinctAndReused) {
    struct Case {
        size_t size;
        size_t alignment;
    };
    for (const Case& c : {Case{1, 1}, Case{24, 8}, Case{200, 8}, Case{64, 32}, Case{70000, 16}}) {
        SCOPED_TRACE(c.size);
        FixedBlockPool pool(c.size, c.alignment);
        std::set<void*> blocks;
        for (int i = 0; i < 1000; ++i) {
            void* block = pool.Allocate();
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % c.alignment, 0u);
            EXPECT_TRUE(blocks.insert(block).second);
            std::memset(block, 0xA5, c.size);  // the whole block is ours (ASan checks)
        }
        const size_t carved = pool.BlocksCarved();
        EXPECT_GE(carved, 1000u);
        for (void* block : blocks) pool.Free(block);
        std::set<void*> again;
        for (int i = 0; i < 1000; ++i) again.insert(pool.Allocate());
        EXPECT_EQ(again, blocks);  // the freed blocks, and no new ones
        EXPECT_EQ(pool.BlocksCarved(), carved);
        for (void* block : again) pool.Free(block);
    }
}

TEST(RecordAllocator, ListsOnSeveralThreadsKeepTheirRecords) {
    constexpr int kThreads = 4;
    constexpr int kRecords = 5000;
    std::vector<std::thread> threads;
    std::vector<bool> intact(kThreads, false);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &intact] {
            bool ok = true;
            for (int round = 0; round < 5; ++round) {
                marl::array::LunInfoList list;
                for (int i = 0; i < kRecords; ++i) {
                    LunInfo& record = list.emplace_back();
                    record.volName = "thread" + std::to_string(t) + "volume" + std::to_string(i);
                }
                int i = 0;
                for (const LunInfo& record : list) {
                    ok = ok && record.volName ==
                                   "thread" + std::to_string(t) + "volume" + std::to_string(i++);
                }
                marl::array::LunInfoList copy =
                    list;  // copies and splices go through the allocator too
                list.splice(list.end(), copy);
                ok = ok && list.size() == 2 * kRecords && copy.empty();
            }
            intact[t] = ok;
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(intact[t]) << t;
}

}  // namespace

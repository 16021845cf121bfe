// The spare reply-text buffer: a large buffer is kept for the next parse of a
// text that fits, and two parses at once never share one buffer.
#include "json/TextBuffer.h"

#include <gtest/gtest.h>

#include <string>

#include "json/JsonNode.h"

namespace {

using marl::json::detail::TextBuffer;

constexpr size_t kLarge = 1 << 20;

// The cases run in order and each leaves the larger buffer as the spare.
TEST(TextBuffer, TheLargerBufferIsKeptForATextThatFits) {
    struct Case {
        const char* label;
        size_t first;
        size_t second;
        bool reused;
    };
    const Case cases[] = {
        {"same size", kLarge, kLarge, true},
        {"smaller text", 2 * kLarge, kLarge, true},
        {"larger text", 4 * kLarge, 8 * kLarge, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const char* first = nullptr;
        {
            TextBuffer buffer = TextBuffer::Acquire(c.first);
            ASSERT_GE(buffer.Capacity(), c.first);
            first = buffer.Data();
        }
        TextBuffer second = TextBuffer::Acquire(c.second);
        EXPECT_GE(second.Capacity(), c.second);
        EXPECT_EQ(second.Data() == first, c.reused);
    }
}

TEST(TextBuffer, TwoHoldersNeverShareABuffer) {
    { TextBuffer warm = TextBuffer::Acquire(kLarge); }
    TextBuffer a = TextBuffer::Acquire(kLarge);
    TextBuffer b = TextBuffer::Acquire(kLarge);
    EXPECT_NE(a.Data(), b.Data());
    TextBuffer moved = std::move(a);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_NE(moved.Data(), b.Data());
}

// Documents parsed one after the other from a reused buffer each read their
// own text, also while an earlier document is still alive.
TEST(TextBuffer, ParsedDocumentsKeepTheirOwnText) {
    std::string padding(kLarge, ' ');
    marl::json::JsonNode first = marl::json::Parse(R"({"name":"first"})" + padding);
    { marl::json::JsonNode gone = marl::json::Parse(R"({"name":"gone"})" + padding); }
    marl::json::JsonNode second = marl::json::Parse(R"({"name":"second"})" + padding);
    EXPECT_EQ(first.begin()->AsString(), "first");
    EXPECT_EQ(second.begin()->AsString(), "second");
}

}  // namespace

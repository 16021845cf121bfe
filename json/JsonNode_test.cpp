#include "json/JsonNode.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace marl::json;

std::vector<std::string> NamesOf(const JsonNode& node) {
    std::vector<std::string> names;
    for (const JsonNode& child : node) names.emplace_back(child.Name());
    return names;
}

std::vector<std::string> TextsOf(const JsonNode& node) {
    std::vector<std::string> texts;
    for (const JsonNode& child : node) texts.push_back(child.AsString());
    return texts;
}

std::string NestedObjects(unsigned depth) {
    std::string text;
    for (unsigned i = 0; i < depth; ++i) text += "{\"a\":";
    text += "1";
    return text + std::string(depth, '}');
}

std::string Nested(unsigned depth, const char* open, const char* close) {
    std::string text;
    for (unsigned i = 0; i < depth; ++i) text += open;
    for (unsigned i = 0; i < depth; ++i) text += close;
    return text;
}

TEST(JsonParse, RejectsMalformedText) {
    const std::vector<std::string> bad = {
        "",
        "   ",
        "{",
        "}",
        "{\"a\":}",
        "{\"a\" 1}",
        "[1,]",
        "{\"a\":1,}",
        "{\"a\":1}x",
        "{\"a\":1}{}",
        "[tru]",
        "[01]",
        "[1.]",
        "[-]",
        "[\"a]",
        "[\"\x01\"]",
        "'a'",
        "[NaN]",
        "{a:1}",
        "[\"\\x\"]",
        "\"text\"",
        "42",
        "true",
        "null",
        std::string("{\"a\":1}\0", 8),
        std::string("{\"a\":\"b\0c\"}", 11),
    };
    for (const std::string& text : bad) {
        EXPECT_THROW(Parse(text), std::invalid_argument) << "text: " << text;
    }
}

TEST(JsonParse, DepthLimit) {
    EXPECT_NO_THROW(Parse(Nested(kMaxDepth, "[", "]")));
    EXPECT_NO_THROW(Parse(NestedObjects(kMaxDepth)));
    EXPECT_THROW(Parse(Nested(kMaxDepth + 1, "[", "]")), std::invalid_argument);
    EXPECT_THROW(Parse(NestedObjects(kMaxDepth + 1)), std::invalid_argument);
    // Far beyond the limit: refused without consuming stack or memory.
    EXPECT_THROW(Parse(std::string(1000000, '[')), std::invalid_argument);
    EXPECT_THROW(Parse(Nested(200000, "[", "]")), std::invalid_argument);
}

TEST(JsonParse, DepthLimitMessageNamesTheLimit) {
    try {
        Parse(Nested(kMaxDepth + 1, "[", "]"));
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("64"), std::string::npos) << e.what();
    }
}

TEST(JsonParse, SizeLimit) {
    ParseLimits limits;
    limits.maxTextBytes = 100;
    std::string text = "[\"" + std::string(96, 'x') + "\"]";
    EXPECT_EQ(Parse(text, limits).Size(), 1u);
    EXPECT_THROW(Parse(" " + text, limits), std::invalid_argument);
    // The default limit is checked before any work is done on the text.
    EXPECT_THROW(Parse(std::string(kMaxTextBytes + 1, ' ')), std::invalid_argument);
}

TEST(JsonParse, ValueCountLimitCountsValuesAndNames) {
    ParseLimits limits;
    limits.maxValues = 6;
    // Root, two names, one text, the inner array and its element: 6.
    EXPECT_EQ(Parse(R"({"a":"1","b":[2]})", limits).Size(), 2u);
    EXPECT_THROW(Parse(R"({"a":"1","b":[2,3]})", limits), std::invalid_argument);
    EXPECT_THROW(Parse(R"({"a":"1","b":[2],"c":null})", limits), std::invalid_argument);
    // The default allows a large reply: 1 Mi values.
    std::string text = "[";
    for (size_t i = 0; i < (size_t{1} << 20); ++i) text += "[],";
    text.back() = ']';
    EXPECT_EQ(Parse(text).Size(), size_t{1} << 20);
}

TEST(JsonNode, KeepsDocumentOrderAndDuplicateMembers) {
    JsonNode root = Parse(R"({"b":"1","a":"2","b":"3","":"4"})");
    EXPECT_EQ(root.Type(), JSON_NODE);
    EXPECT_EQ(root.Size(), 4u);
    EXPECT_EQ(NamesOf(root), (std::vector<std::string>{"b", "a", "b", ""}));
    EXPECT_EQ(TextsOf(root), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST(JsonNode, TypesAndStringConversion) {
    struct Case {
        const char* element;
        JsonType type;
        std::string text;
    };
    const std::vector<Case> cases = {
        {R"("abc")", JSON_STRING, "abc"},
        {R"("")", JSON_STRING, ""},
        {R"("1")", JSON_STRING, "1"},
        {R"("a\"b\\c\n")", JSON_STRING, "a\"b\\c\n"},
        {R"("\u0041\u00e9")", JSON_STRING, "A\xc3\xa9"},
        {"1.10", JSON_NUMBER, "1.10"},
        {"-0", JSON_NUMBER, "-0"},
        {"1E+5", JSON_NUMBER, "1E+5"},
        {"123456789012345678901234567890", JSON_NUMBER, "123456789012345678901234567890"},
        {"true", JSON_BOOL, "true"},
        {"false", JSON_BOOL, "false"},
        {"null", JSON_NULL, ""},
        {"[1,2]", JSON_ARRAY, ""},
        {R"({"a":"b"})", JSON_NODE, ""},
    };
    for (const Case& c : cases) {
        // Each value both as an array element and as a member, after and
        // before strings, so that its neighbours differ.
        std::string texts[] = {
            std::string("[") + c.element + "]", std::string(R"(["x\"y",)") + c.element + R"(,"z"])",
            std::string(R"({"k":)") + c.element + "}", std::string("[ \n") + c.element + " ]"};
        for (const std::string& text : texts) {
            JsonNode root = Parse(text);
            for (const JsonNode& child : root) {
                if (child.AsString() == "x\"y" || child.AsString() == "z") continue;
                EXPECT_EQ(child.Type(), c.type) << text;
                EXPECT_EQ(child.AsString(), c.text) << text;
            }
        }
    }
}

TEST(JsonNode, EmbeddedNulInStringIsKept) {
    JsonNode root = Parse(R"(["a\u0000b"])");
    EXPECT_EQ(root.begin()->AsString(), std::string("a\0b", 3));
}

TEST(JsonNode, ConstructedNodeIsEmptyObject) {
    JsonNode node;
    EXPECT_EQ(node.Type(), JSON_NODE);
    EXPECT_EQ(node.Size(), 0u);
    EXPECT_TRUE(node.begin() == node.end());
    EXPECT_EQ(node.AsString(), "");
    EXPECT_EQ(node.Name(), "");
}

TEST(JsonNode, CopiesOutliveTheirTreeAndLoop) {
    JsonNode kept;
    JsonNode element;
    {
        JsonNode root = Parse(R"({"x":"1","data":{"v1":{"scsi_sn":"AB"}},"y":[7,8]})");
        for (const JsonNode& member : root) {
            if (member.Name() == "data") kept = member;
            if (member.Name() == "y") element = member.AsArray().TakeAt(1);
        }
    }
    EXPECT_EQ(kept.Name(), "data");
    ASSERT_EQ(kept.Size(), 1u);
    JsonNode volume = *kept.begin();
    EXPECT_EQ(volume.Name(), "v1");
    EXPECT_EQ(volume.begin()->AsString(), "AB");
    EXPECT_EQ(element.AsString(), "8");
    EXPECT_TRUE(element.EqualsNumber(8));
}

TEST(JsonNode, AsArray) {
    JsonNode root = Parse(R"({"o":{"a":"1","b":"2"},"s":"text","n":5,"e":[]})");
    std::vector<JsonNode> members(root.begin(), root.end());
    JsonNode object = members[0].AsArray();
    EXPECT_EQ(object.Type(), JSON_ARRAY);
    EXPECT_EQ(TextsOf(object), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(members[0].Type(), JSON_NODE) << "the original keeps its type";
    for (size_t i = 1; i < 4; ++i) {
        JsonNode converted = members[i].AsArray();
        EXPECT_EQ(converted.Type(), JSON_ARRAY);
        EXPECT_EQ(converted.Size(), 0u) << members[i].Name();
        EXPECT_THROW(converted.TakeAt(0), std::out_of_range);
    }
}

TEST(JsonNode, TakeAtRemovesFromThisNodeOnly) {
    JsonNode root = Parse(R"(["a","b","c","d"])");
    JsonNode copy = root;
    EXPECT_EQ(copy.TakeAt(0).AsString(), "a");
    EXPECT_EQ(copy.TakeAt(1).AsString(), "c");
    EXPECT_EQ(TextsOf(copy), (std::vector<std::string>{"b", "d"}));
    JsonNode second = copy;
    EXPECT_EQ(second.TakeAt(1).AsString(), "d");
    EXPECT_EQ(TextsOf(copy), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(TextsOf(second), (std::vector<std::string>{"b"}));
    EXPECT_EQ(root.Size(), 4u);
    EXPECT_THROW(copy.TakeAt(2), std::out_of_range);
    EXPECT_EQ(copy.TakeAt(0).AsString(), "b");
    EXPECT_EQ(copy.TakeAt(0).AsString(), "d");
    EXPECT_THROW(copy.TakeAt(0), std::out_of_range);
}

TEST(JsonNode, TakenMembersKeepTheirNames) {
    JsonNode root = Parse(R"({"p":"1","q":"2"})");
    JsonNode taken = root.TakeAt(1);
    EXPECT_EQ(taken.Name(), "q");
    EXPECT_EQ(NamesOf(root), (std::vector<std::string>{"p"}));
}

TEST(JsonNode, EqualsNumber) {
    struct Case {
        const char* element;
        bool isZero;
    };
    const std::vector<Case> cases = {
        {"0", true},     {"-0", true},   {"0.0", true},    {"0e5", true},
        {"1", false},    {"0.5", false}, {"\"0\"", false}, {"false", false},
        {"null", false}, {"[0]", false}, {"{}", false},
    };
    for (const Case& c : cases) {
        JsonNode root = Parse(std::string("[") + c.element + "]");
        EXPECT_EQ(root.begin()->EqualsNumber(0), c.isZero) << c.element;
    }
    EXPECT_TRUE(Parse("[2.5]").begin()->EqualsNumber(2.5));
}

TEST(JsonNode, DeepTreesCopyAndDestroy) {
    // Object and array levels alternate down to the deepest level allowed.
    JsonNode root = Parse(Nested(kMaxDepth / 2, "{\"d\":[", "]}"));
    JsonNode node = root;
    unsigned steps = 0;
    while (node.Size() > 0) {
        JsonNode next = *node.begin();
        node = next;
        ++steps;
    }
    EXPECT_EQ(steps, kMaxDepth - 1);
}

}  // namespace

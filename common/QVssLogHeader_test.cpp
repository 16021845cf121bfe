#include "common/QVssLogHeader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// What printf makes of the header format, the reference for every case.
int Printf(char* buffer, size_t size, const marl::common::QLogLineStamp& s) {
    const marl::platform::LocalTime& t = s.time;
    return std::snprintf(
        buffer, size,
        "[%04d/%02d/%02d-%02d:%02d:%02d.%03ld][%s][%s][%s:%ld][%s][PID:0x%x][TID:0x%x]", t.year,
        t.month, t.day, t.hour, t.minute, t.second, static_cast<long>(t.millisecond),
        s.module.c_str(), s.levelName, s.file, s.line, s.function, s.pid, s.tid);
}

struct HeaderCase {
    marl::platform::LocalTime time;
    const char* function;
    const char* file;
    long line;
    uint32_t pid, tid;
};

TEST(QVssLogHeader, MatchesPrintfForEveryFieldAndBufferSize) {
    const std::string module = "PROVIDER";
    const std::string longName(300, 'f');
    const HeaderCase cases[] = {
        {{2024, 3, 5, 14, 7, 9, 42},
         "CQProvider::TakeSnap",
         "QProviderInterface",
         968,
         0x1f4c,
         0x2a10},
        {{1999, 12, 31, 23, 59, 59, 999}, "F", "U", 1, 0xffffffffu, 0x80000000u},
        {{7, 1, 1, 0, 0, 0, 0}, "", "", 0, 0, 1},  // every field at its narrowest
        {{12345, 10, 10, 10, 10, 10, 100}, "g", "u", -42, 16, 15},
        {{2024, 1, 2, 3, 4, 5, 6}, longName.c_str(), "unit", 2147483647L, 1, 2},
    };
    for (const HeaderCase& c : cases) {
        marl::common::QLogLineStamp stamp{c.function, c.file, c.line, module,
                                          "DEBUG",    c.time, c.pid,  c.tid};
        for (size_t size : {size_t{130}, size_t{512}, size_t{1}, size_t{26}, size_t{129}}) {
            std::string expected(size + 1, '#'), seen(size + 1, '#');
            int want = Printf(&expected[0], size, stamp);
            int got = marl::common::FormatLogHeader(&seen[0], size, stamp);
            EXPECT_EQ(got, want) << c.function << " in " << size;
            EXPECT_EQ(seen, expected) << "size " << size;
        }
    }
}

TEST(QVssLogHeader, NullTextsReadAsPrintfWritesThem) {
    const std::string module = "JSON";
    marl::common::QLogLineStamp stamp{nullptr, nullptr, 5, module, "INFO", {2024, 3, 5, 1, 2, 3, 4},
                                      1,       2};
    char buffer[130];
    marl::common::FormatLogHeader(buffer, sizeof buffer, stamp);
    EXPECT_STREQ(buffer,
                 "[2024/03/05-01:02:03.004][JSON][INFO][(null):5][(null)][PID:0x1][TID:0x2]");
    EXPECT_EQ(marl::common::FormatLogHeader(nullptr, 0, stamp), 73);
}

}  // namespace

#include "debugtool/ZipFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marl::debugtool::zip {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

uint64_t FileTimeOfUnix(int64_t seconds) {
    return static_cast<uint64_t>(seconds * 10000000 + static_cast<int64_t>(kUnixEpochTicks));
}

struct DosCase {
    const char* what;
    int64_t unixSeconds;
    uint32_t date;
    uint32_t time;
};

TEST(ZipFormat, DosDateAndTimeComeFromTheUtcLastWriteTime) {
    const DosCase cases[] = {
        // 2024-03-05 10:20:31 UTC: odd seconds are halved down.
        {"10:20:31", 1709634031, ((2024 - 1980) << 9) | (3 << 5) | 5, (10 << 11) | (20 << 5) | 15},
        {"start of 1980", 315532800, (0 << 9) | (1 << 5) | 1, 0},
        {"leap day, last second", 951868799, ((2000 - 1980) << 9) | (2 << 5) | 29,
         (23 << 11) | (59 << 5) | 29},
        {"before 1980 is the earliest DOS date", 0, (1 << 5) | 1, 0},
        {"after 2107 is the latest DOS date", 4354819200LL, (127 << 9) | (12 << 5) | 31,
         (23 << 11) | (59 << 5) | 29},
    };
    for (const DosCase& c : cases) {
        uint32_t v = DosDateTimeOf(FileTimeOfUnix(c.unixSeconds));
        EXPECT_EQ(v >> 16, c.date) << c.what;
        EXPECT_EQ(v & 0xFFFF, c.time) << c.what;
    }
}

TEST(ZipFormat, UnixTimesAreWholeSecondsTruncatedTo32Bits) {
    EXPECT_EQ(UnixTimeOf(FileTimeOfUnix(1709634031) + 9999999), 1709634031u);
    EXPECT_EQ(UnixTimeOf(FileTimeOfUnix(0x100000005LL)), 5u);
}

TEST(ZipFormat, ExternalAttributesCarryTheUnixModeAndMaskedWindowsBits) {
    struct {
        uint32_t windows;
        uint32_t expected;
    } cases[] = {
        {0x80, 0x81800000},  // FILE_ATTRIBUTE_NORMAL is not among the kept bits
        {0x20, 0x81800020},
        {0x21, 0x81000021},  // read-only: owner read only
        {0x27, 0x81000027},
        {0x10 | 0x08 | 0x40, 0x81800010},  // the volume label and device bits are dropped
    };
    for (const auto& c : cases) EXPECT_EQ(ExternalAttributesOf(c.windows), c.expected) << c.windows;
}

TEST(ZipFormat, CompressedArchiveNamesAreStoredWhateverTheirCase) {
    struct {
        const wchar_t* name;
        bool stored;
    } cases[] = {
        {L"notes.ZIP", true},
        {L"a.Gz", true},
        {L"x.z", true},
        {L"old.tgz", true},
        {L"b.arj", true},
        {L"c.lzh", true},
        {L"d.zoo", true},
        {L"e.arc", true},
        {L"archive.zipx", false},
        {L"README", false},
        {L"zip", false},
        {L"dir.zip/log.txt", false},
        {L"marl_vss_log.txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsStoredByName(c.name), c.stored);
}

TEST(ZipFormat, BackslashesBecomeSlashes) {
    EXPECT_EQ(NormaliseEntryName(L"Snap_VSS\\x.txt"), L"Snap_VSS/x.txt");
}

ZipEntry SampleEntry() {
    ZipEntry e;
    e.flags = kFlagMaximumCompression;
    e.method = kMethodDeflated;
    e.dosDateTime = 0x58655289;
    e.crc32 = 0xCAFEBABE;
    e.compressedSize = 0x01020304;
    e.uncompressedSize = 0x05060708;
    e.name = "ab";
    e.modificationTime = 0x11223344;
    e.accessTime = 0x55667788;
    e.creationTime = 0x99AABBCC;
    e.externalAttributes = 0x81800020;
    e.localHeaderOffset = 0x0A0B0C0D;
    return e;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    return std::vector<uint8_t>(v.begin(), v.end());
}

TEST(ZipFormat, LocalHeaderByteForByte) {
    EXPECT_EQ(LocalHeader(SampleEntry()),
              Bytes({'P',  'K',  3,    4,    20,   0,    2,    0,    8,    0,    0x89, 0x52,
                     0x65, 0x58,  // time, date
                     0xBE, 0xBA, 0xFE, 0xCA, 4,    3,    2,    1,    8,    7,    6,    5,
                     2,    0,    17,   0,    'a',  'b',  0x55, 0x54, 13,   0,    7,    0x44,
                     0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99}));
}

TEST(ZipFormat, CentralHeaderByteForByte) {
    EXPECT_EQ(
        CentralHeader(SampleEntry()),
        Bytes({'P',  'K',  1,    2,    0x17, 0x0B, 20, 0, 2,    0,    8,    0,    0x89, 0x52, 0x65,
               0x58, 0xBE, 0xBA, 0xFE, 0xCA, 4,    3,  2, 1,    8,    7,    6,    5,    2,    0,
               9,    0,    0,    0,    0,    0,    0,  0, 0x20, 0,    0x80, 0x81, 0x0D, 0x0C, 0x0B,
               0x0A, 'a',  'b',  0x55, 0x54, 5,    0,  7, 0x44, 0x33, 0x22, 0x11}));
}

TEST(ZipFormat, EndRecordByteForByte) {
    EXPECT_EQ(EndRecord(0, 0, 0),
              Bytes({'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(EndRecord(3, 0x10203, 0x40506),
              Bytes({'P', 'K', 5, 6, 0, 0, 0, 0, 3, 0, 3, 0, 3, 2, 1, 0, 6, 5, 4, 0, 0, 0}));
}

}  // namespace
}  // namespace marl::debugtool::zip

#pragma once
// The bytes of the ZIP format as this writer produces them (PKWARE APPNOTE):
// the local and central file headers, the extended time stamp extra field
// ("UT"), the end of central directory record, and the values that go into
// them. Pure functions without I/O; multi-byte fields are little-endian.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/utf8.h"

namespace marl::debugtool::zip {

constexpr uint16_t kVersionMadeBy = 0x0B17;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kFlagMaximumCompression = 0x0002;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr size_t kLocalHeaderFixed = 30;
constexpr size_t kCentralHeaderFixed = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kLocalExtraSize = 17;
constexpr size_t kCentralExtraSize = 9;
constexpr size_t kMaxNameBytes = 259;

// The values of one file's headers.
struct ZipEntry {
    uint16_t flags = 0;
    uint16_t method = kMethodDeflated;
    uint32_t dosDateTime = 0;  // date in the high 16 bits
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    std::string name;               // UTF-8, "/" as separator
    uint32_t modificationTime = 0;  // Unix times of the UT field
    uint32_t accessTime = 0;
    uint32_t creationTime = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
};

// Backslashes become "/".
std::wstring NormaliseEntryName(const std::wstring& name);
using marl::platform::Utf8Of;  // entry names are stored as UTF-8
// True when the name ends in an extension of an already compressed archive
// (".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz", any case):
// such entries are stored rather than deflated.
bool IsStoredByName(const std::wstring& name);

// Windows file time (UTC) to the DOS date (high 16 bits) and time. DOS
// dates cover 1980 to 2107; earlier times give 1980-01-01 00:00:00 and later
// ones 2107-12-31 23:59:58, rather than a wrapped, meaningless date.
uint32_t DosDateTimeOf(uint64_t fileTime);
// Windows file time to Unix seconds, truncated to 32 bits.
uint32_t UnixTimeOf(uint64_t fileTime);
// Unix mode in bits 16..31 (0x8180, or 0x8100 when read-only) and the
// Windows attributes masked with 0x37 in bits 0..7.
uint32_t ExternalAttributesOf(uint32_t windowsAttributes);
// Fills the entry's times and attributes from the source's facts.
void ApplyFacts(const platform::FileFacts& facts, ZipEntry* entry);

std::vector<uint8_t> LocalHeader(const ZipEntry& entry);
std::vector<uint8_t> CentralHeader(const ZipEntry& entry);
std::vector<uint8_t> EndRecord(uint16_t entryCount, uint32_t centralSize, uint32_t centralOffset);

}  // namespace marl::debugtool::zip

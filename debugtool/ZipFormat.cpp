#include "debugtool/ZipFormat.h"

#include <cwctype>

namespace marl::debugtool::zip {

namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutSignature(std::vector<uint8_t>& out, uint8_t a, uint8_t b) {
    out.push_back('P');
    out.push_back('K');
    out.push_back(a);
    out.push_back(b);
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int* year, int* month, int* day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

void PutTimeStamp(std::vector<uint8_t>& out, const ZipEntry& e, bool local) {
    Put16(out, 0x5455);
    Put16(out, local ? 13 : 5);
    out.push_back(7);
    Put32(out, e.modificationTime);
    if (local) {
        Put32(out, e.accessTime);
        Put32(out, e.creationTime);
    }
}

}  // namespace

std::wstring NormaliseEntryName(const std::wstring& name) {
    std::wstring out = name;
    for (wchar_t& c : out) {
        if (c == L'\\') c = L'/';
    }
    return out;
}

bool IsStoredByName(const std::wstring& name) {
    static const wchar_t* const kStored[] = {L".z",   L".zip", L".zoo", L".arc",
                                             L".lzh", L".arj", L".gz",  L".tgz"};
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    std::wstring ext = name.substr(dot);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    for (const wchar_t* s : kStored) {
        if (ext == s) return true;
    }
    return false;
}

uint32_t DosDateTimeOf(uint64_t fileTime) {
    int64_t seconds = static_cast<int64_t>(fileTime / kTicksPerSecond) -
                      static_cast<int64_t>(kUnixEpochTicks / kTicksPerSecond);
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t inDay = seconds - days * 86400;
    int year = 0, month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    if (year < 1980) return (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
    if (year > 2107) {
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    }
    uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                    (static_cast<uint32_t>(month) << 5) | static_cast<uint32_t>(day);
    uint32_t hour = static_cast<uint32_t>(inDay / 3600);
    uint32_t minute = static_cast<uint32_t>(inDay / 60 % 60);
    uint32_t second = static_cast<uint32_t>(inDay % 60);
    uint32_t time = (hour << 11) | (minute << 5) | (second / 2);
    return (date << 16) | time;
}

uint32_t UnixTimeOf(uint64_t fileTime) {
    int64_t ticks = static_cast<int64_t>(fileTime - kUnixEpochTicks);
    return static_cast<uint32_t>(ticks / static_cast<int64_t>(kTicksPerSecond));
}

uint32_t ExternalAttributesOf(uint32_t windowsAttributes) {
    uint32_t mode = (windowsAttributes & platform::kAttributeReadOnly) ? 0x8100 : 0x8180;
    return (mode << 16) | (windowsAttributes & 0x37);
}

void ApplyFacts(const platform::FileFacts& facts, ZipEntry* entry) {
    entry->externalAttributes = ExternalAttributesOf(facts.attributes);
    entry->dosDateTime = DosDateTimeOf(facts.lastWriteTime);
    entry->modificationTime = UnixTimeOf(facts.lastWriteTime);
    entry->accessTime = UnixTimeOf(facts.lastAccessTime);
    entry->creationTime = UnixTimeOf(facts.creationTime);
}

std::vector<uint8_t> LocalHeader(const ZipEntry& e) {
    std::vector<uint8_t> out;
    out.reserve(kLocalHeaderFixed + e.name.size() + kLocalExtraSize);
    PutSignature(out, 3, 4);
    Put16(out, kVersionNeeded);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put16(out, e.dosDateTime & 0xFFFF);
    Put16(out, e.dosDateTime >> 16);
    Put32(out, e.crc32);
    Put32(out, e.compressedSize);
    Put32(out, e.uncompressedSize);
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, kLocalExtraSize);
    out.insert(out.end(), e.name.begin(), e.name.end());
    PutTimeStamp(out, e, true);
    return out;
}

std::vector<uint8_t> CentralHeader(const ZipEntry& e) {
    std::vector<uint8_t> out;
    out.reserve(kCentralHeaderFixed + e.name.size() + kCentralExtraSize);
    PutSignature(out, 1, 2);
    Put16(out, kVersionMadeBy);
    Put16(out, kVersionNeeded);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put16(out, e.dosDateTime & 0xFFFF);
    Put16(out, e.dosDateTime >> 16);
    Put32(out, e.crc32);
    Put32(out, e.compressedSize);
    Put32(out, e.uncompressedSize);
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, kCentralExtraSize);
    Put16(out, 0);  // comment length
    Put16(out, 0);  // disk number start
    Put16(out, 0);  // internal attributes
    Put32(out, e.externalAttributes);
    Put32(out, e.localHeaderOffset);
    out.insert(out.end(), e.name.begin(), e.name.end());
    PutTimeStamp(out, e, false);
    return out;
}

std::vector<uint8_t> EndRecord(uint16_t entryCount, uint32_t centralSize, uint32_t centralOffset) {
    std::vector<uint8_t> out;
    out.reserve(kEndRecordSize);
    PutSignature(out, 5, 6);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, entryCount);
    Put16(out, entryCount);
    Put32(out, centralSize);
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

}  // namespace marl::debugtool::zip

#include "debugtool/ZipArchiveWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "debugtool/testing/DebugToolTesting.h"

namespace marl::debugtool {
namespace {

namespace t = marl::debugtool::testing;
namespace fs = std::filesystem;

std::wstring W(const fs::path& p) { return p.wstring(); }

class CheckFolderEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { t::ClearCheckFolder(); }
};
const auto* const kCheckFolderEnvironment =
    ::testing::AddGlobalTestEnvironment(new CheckFolderEnvironment);

// Text that deflates like a log: repeated words with changing numbers.
std::string LogLikeText(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    static const char* const words[] = {"PROVIDER",  "INFO",       "vol_show", "snapshot", "cg_db",
                                        "returning", "0x00000000", "TakeSnap", "serial"};
    std::string s;
    s.reserve(size + 64);
    while (s.size() < size) {
        s += words[rng() % 9];
        s += rng() % 7 == 0 ? "\r\n" : " ";
        if (rng() % 5 == 0) s += std::to_string(rng() % 100000);
    }
    s.resize(size);
    return s;
}

struct Folder {
    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
#ifndef _WIN32
        std::error_code ec;
        fs::remove_all(path, ec);
#endif
    }
    fs::path path = t::MakeTestFolder("zip");
    fs::path Put(const std::string& name, const std::string& bytes) const {
        t::WriteBytes(path / name, bytes);
        return path / name;
    }
};

// Adding real files: each archive is read back by the outside readers.
TEST(ZipArchiveWriter, StoredAndDeflatedEntriesByNameReadBackByZipfileAndUnzip) {
    Folder f;
    std::vector<t::ExpectedEntry> expected = {
        {"README", f.Put("README", LogLikeText(70000, 1))},
        {"notes.ZIP", f.Put("notes.ZIP", LogLikeText(40000, 2))},
        {"a.Gz", f.Put("a.Gz", std::string(20000, '\x7f'))},
        {"archive.zipx", f.Put("archive.zipx", LogLikeText(5, 3))},
        {"Snap_VSS/x.txt", f.Put("x.txt", LogLikeText(300000, 4))},
        {"empty.txt", f.Put("empty.txt", "")},
        {"empty.zip", f.Put("empty.zip", "")},
    };
    fs::path archive = f.path / "out.zip";
    uint32_t result = 1;
    ZipHandle zip = ZipArchiveWriter::Create(W(archive), &result);
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(result, kZipOk);
    for (const t::ExpectedEntry& e : expected) {
        std::wstring name = e.name == "Snap_VSS/x.txt" ? L"Snap_VSS\\x.txt" : t::Wide(e.name);
        EXPECT_EQ(ZipArchiveWriter::AddFile(zip, name, W(e.source)), kZipOk) << e.name;
    }
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);

    std::string bytes = t::ReadBytes(archive);
    std::vector<t::CentralRecord> records = t::ReadCentralDirectory(bytes);
    ASSERT_EQ(records.size(), expected.size());
    const uint32_t methods[] = {8, 0, 0, 8, 8, 8, 0};
    for (size_t i = 0; i < records.size(); ++i) {
        const t::CentralRecord& r = records[i];
        EXPECT_EQ(r.method, methods[i]) << r.name;
        EXPECT_EQ(r.flags, methods[i] == 8 ? 2u : 0u) << r.name;
        EXPECT_EQ(r.madeBy, 0x0B17u);
        EXPECT_EQ(r.needed, 20u);
        EXPECT_EQ(r.extra.size(), 9u);
        EXPECT_EQ(r.externalAttributes >> 16, 0x8180u) << r.name;
        // The local header was rewritten in place with the final values.
        size_t at = r.localHeaderOffset;
        EXPECT_EQ(t::Le32(bytes, at), 0x04034b50u);
        EXPECT_EQ(t::Le16(bytes, at + 6), r.flags);
        EXPECT_EQ(t::Le32(bytes, at + 14), r.crc);
        EXPECT_EQ(t::Le32(bytes, at + 18), r.compressedSize);
        EXPECT_EQ(t::Le32(bytes, at + 22), r.uncompressedSize);
        EXPECT_EQ(t::Le16(bytes, at + 28), 17u);
        // No data descriptor: the next header follows the data directly.
        size_t next = at + 30 + r.name.size() + 17 + r.compressedSize;
        uint32_t signature = t::Le32(bytes, next);
        EXPECT_TRUE(signature == 0x04034b50u || signature == 0x02014b50u) << r.name;
    }
    // An empty source: deflated, size 0, CRC 0, the encoding of empty input.
    EXPECT_EQ(records[5].uncompressedSize, 0u);
    EXPECT_EQ(records[5].crc, 0u);
    EXPECT_EQ(records[5].compressedSize, 2u);
    EXPECT_EQ(records[6].compressedSize, 0u);
    EXPECT_EQ(t::CheckArchive(archive, expected, f.path), "");
}

TEST(ZipArchiveWriter, NoEntriesGiveExactlyTheEndRecord) {
    Folder f;
    fs::path archive = f.path / "empty.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);
    EXPECT_EQ(t::ReadBytes(archive), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(t::CheckArchive(archive, {}, f.path), "");
}

TEST(ZipArchiveWriter, HundredMegabyteSource) {
    Folder f;
    fs::path source = f.Put("big.txt", LogLikeText(100u * 1000 * 1000, 9));
    fs::path archive = f.path / "big.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(ZipArchiveWriter::AddFile(zip, L"big.txt", W(source)), kZipOk);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);
    std::vector<t::CentralRecord> r = t::ReadCentralDirectory(t::ReadBytes(archive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].uncompressedSize, 100u * 1000 * 1000);
    EXPECT_EQ(t::CheckArchive(archive, {{"big.txt", source}}, f.path), "");
}

TEST(ZipArchiveWriter, TimesAndAttributesComeFromTheSource) {
    Folder f;
    fs::path source = f.Put("dated.txt", "x");
    fs::permissions(source,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::path archive = f.path / "dated.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    ASSERT_EQ(ZipArchiveWriter::AddFile(zip, L"dated.txt", W(source)), kZipOk);
    ZipArchiveWriter::Close(zip);
    fs::permissions(source, fs::perms::owner_write, fs::perm_options::add);
    std::vector<t::CentralRecord> r = t::ReadCentralDirectory(t::ReadBytes(archive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].externalAttributes >> 16, 0x8100u);
    EXPECT_EQ(r[0].externalAttributes & 0x01, 0x01u);
    // The UT field's modification time and the DOS time tell the same second.
    uint32_t unixTime = t::Le32(r[0].extra, 5);
    EXPECT_EQ(t::Le16(r[0].extra, 0), 0x5455u);
    EXPECT_EQ(t::Le16(r[0].extra, 2), 5u);
    EXPECT_EQ(static_cast<uint8_t>(r[0].extra[4]), 7);
    uint32_t inDay = unixTime % 86400;
    EXPECT_EQ(r[0].dosTime, ((inDay / 3600) << 11) | ((inDay / 60 % 60) << 5) | (inDay % 60 / 2));
}

// Argument and handle checks.
TEST(ZipArchiveWriter, BadArgumentsAndForeignHandles) {
    Folder f;
    fs::path source = f.Put("s.txt", "data");
    fs::path archive = f.path / "args.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    ASSERT_NE(zip, nullptr);
    int notAWriter = 0;
    struct {
        const char* what;
        ZipHandle handle;
        std::wstring name, source;
        uint32_t expected;
    } cases[] = {
        {"no writer", nullptr, L"s.txt", W(source), kZipBadArgument},
        {"not a writer", &notAWriter, L"s.txt", W(source), kZipNotAWriter},
        {"empty name", zip, L"", W(source), kZipBadArgument},
        {"no source path", zip, L"s.txt", L"", kZipBadArgument},
        {"name over 259 bytes", zip, std::wstring(260, L'n'), W(source), kZipBadArgument},
        {"missing source", zip, L"gone.txt", W(f.path / "gone.txt"), kZipOpenFailed},
        {"folder as source", zip, L"dir", W(f.path), kZipOpenFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZipArchiveWriter::AddFile(c.handle, c.name, c.source), c.expected) << c.what;
    }
    // 259 bytes in all (no single file name may be that long on Linux).
    const std::string longest = std::string(129, 'n') + "/" + std::string(129, 'm');
    EXPECT_EQ(ZipArchiveWriter::AddFile(zip, t::Wide(longest), W(source)), kZipOk);
    EXPECT_EQ(ZipArchiveWriter::Close(nullptr), kZipBadArgument);
    EXPECT_EQ(ZipArchiveWriter::Close(&notAWriter), kZipNotAWriter);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);
    // A closed writer is no writer any more.
    EXPECT_EQ(ZipArchiveWriter::AddFile(zip, L"s.txt", W(source)), kZipNotAWriter);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipNotAWriter);
    EXPECT_EQ(t::CheckArchive(archive, {{longest, source}}, f.path), "");

    uint32_t result = 0;
    EXPECT_EQ(ZipArchiveWriter::Create(W(f.path / "no" / "such.zip"), &result), nullptr);
    EXPECT_EQ(result, kZipOpenFailed);
}

TEST(ZipArchiveWriter, AnExistingArchiveIsReplaced) {
    Folder f;
    fs::path source = f.Put("s.txt", "fresh");
    fs::path archive = f.Put("old.zip", std::string(100000, 'j'));
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    ASSERT_EQ(ZipArchiveWriter::AddFile(zip, L"s.txt", W(source)), kZipOk);
    ASSERT_EQ(ZipArchiveWriter::Close(zip), kZipOk);
    EXPECT_LT(fs::file_size(archive), 1000u);
    EXPECT_EQ(t::CheckArchive(archive, {{"s.txt", source}}, f.path), "");
}

// Sources too large for the format's 32-bit fields are refused before any
// of their bytes are written (sparse files: nothing is read).
TEST(ZipArchiveWriter, EntriesPastFourGibibytesAreRefusedAndTheArchiveStaysValid) {
    Folder f;
    fs::path small = f.Put("small.txt", "kept");
    struct {
        const char* name;
        uint64_t size;
    } cases[] = {
        {"huge.txt", 0x100000000ULL},   // the size itself does not fit
        {"nearly.zip", 0xFFFFFF00ULL},  // stored: data + headers pass the limit
        {"nearly.txt", 0xFFFF0000ULL},  // deflated: the encoder's bound passes it
    };
    fs::path archive = f.path / "limits.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(ZipArchiveWriter::AddFile(zip, L"small.txt", W(small)), kZipOk);
    for (const auto& c : cases) {
        fs::path p = f.path / c.name;
        t::WriteBytes(p, "");
        fs::resize_file(p, c.size);
        uint64_t before = fs::file_size(archive);
        EXPECT_EQ(ZipArchiveWriter::AddFile(zip, t::Wide(c.name), W(p)), kZipWriteFailed) << c.name;
        EXPECT_EQ(fs::file_size(archive), before) << c.name;
        fs::remove(p);
    }
    ASSERT_EQ(ZipArchiveWriter::AddFile(zip, L"again.txt", W(small)), kZipOk);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);
    EXPECT_EQ(t::CheckArchive(archive, {{"small.txt", small}, {"again.txt", small}}, f.path), "");
}

TEST(ZipArchiveWriter, FilteredFileKeepsTheSourcesTimesWithNewContent) {
    Folder f;
    fs::path source = f.Put("conf.txt", "A = [1]\r\nSECRET = [2]\r\n");
    fs::path expected = f.Put("expected.txt", "A = [1]\r\n");
    fs::path archive = f.path / "filtered.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    auto filter = [](const std::string& s) { return s.substr(0, s.find("SECRET")); };
    EXPECT_EQ(ZipArchiveWriter::AddFilteredFile(zip, L"conf.txt", W(source), filter), kZipOk);
    EXPECT_EQ(ZipArchiveWriter::AddFilteredFile(zip, L"gone.txt", W(f.path / "gone"), filter),
              kZipOpenFailed);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);
    EXPECT_EQ(t::CheckArchive(archive, {{"conf.txt", expected}}, f.path), "");
}

// An archive file that fails on command: a write that comes short, a move
// that fails, or the file going away; the bytes are kept in memory.
class FaultyFile final : public platform::OutputFile {
  public:
    FaultyFile(std::string* bytes, std::function<int(int call, size_t size)> shortBy,
               int loseAfterWrites = -1, int failSeek = -1)
        : m_bytes(bytes),
          m_shortBy(std::move(shortBy)),
          m_loseAfter(loseAfterWrites),
          m_failSeek(failSeek) {}
    size_t Write(const void* data, size_t size) override {
        if (!m_open) return 0;
        int call = m_writes++;
        size_t n = size - std::min<size_t>(size, static_cast<size_t>(m_shortBy(call, size)));
        if (m_position + n > m_bytes->size()) m_bytes->resize(m_position + n);
        std::copy_n(static_cast<const char*>(data), n,
                    m_bytes->begin() + static_cast<long>(m_position));
        m_position += n;
        if (m_writes == m_loseAfter) m_open = false;
        return n;
    }
    bool SeekTo(uint64_t offset) override {
        if (m_seeks++ == m_failSeek) return false;
        m_position = static_cast<size_t>(offset);
        return true;
    }
    bool IsOpen() const override { return m_open; }
    void Close() override { m_open = false; }

  private:
    std::string* m_bytes;
    std::function<int(int, size_t)> m_shortBy;
    int m_loseAfter;
    int m_failSeek;
    int m_writes = 0;
    int m_seeks = 0;
    size_t m_position = 0;
    bool m_open = true;
};

struct FaultCase {
    const char* what;
    std::function<int(int, size_t)> shortBy;
    int loseAfterWrites;
    int failSeek;
    uint32_t firstAdd;   // adding "first.txt" (deflated, 3 pieces of output)
    uint32_t secondAdd;  // then "second.txt"
    uint32_t close;
    bool firstListed;
};

const std::vector<FaultCase>& FaultCases() {
    auto never = [](int, size_t) { return 0; };
    static const std::vector<FaultCase> cases = {
        {"healthy", never, -1, -1, kZipOk, kZipOk, kZipOk, true},
        {"provisional header short", [](int c, size_t) { return c == 0 ? 5 : 0; }, -1, -1,
         kZipWriteFailed, kZipOk, kZipOk, false},
        {"data short", [](int c, size_t) { return c == 1 ? 100 : 0; }, -1, -1, kZipWriteFailed,
         kZipOk, kZipOk, false},
        {"move back fails", never, -1, 0, kZipWriteFailed, kZipOk, kZipOk, false},
        {"rewritten header short", [](int c, size_t) { return c == 4 ? 1 : 0; }, -1, -1,
         kZipWriteFailed, kZipOk, kZipOk, false},
        {"move forward fails", never, -1, 1, kZipWriteFailed, kZipFailedState, kZipOk, false},
        {"file lost before the data", never, 1, -1, kZipNoOutputFile, kZipFailedState,
         kZipNoOutputFile, false},
        {"file lost after the data", never, 4, -1, kZipRewriteFailed, kZipFailedState,
         kZipNoOutputFile, false},
    };
    return cases;
}

TEST(ZipArchiveWriter, WriteFailuresLeaveAValidArchiveOrAFailedState) {
    Folder f;
    // Incompressible bytes: the deflated data fills the 16 KiB buffer twice.
    std::string noise(40000, '\0');
    std::mt19937 rng(5);
    for (char& c : noise) c = static_cast<char>(rng());
    fs::path first = f.Put("first.txt", noise);
    fs::path second = f.Put("second.txt", "second");
    int n = 0;
    for (const FaultCase& c : FaultCases()) {
        std::string bytes;
        ZipHandle zip = ZipArchiveWriter::CreateOn(
            std::make_unique<FaultyFile>(&bytes, c.shortBy, c.loseAfterWrites, c.failSeek));
        EXPECT_EQ(ZipArchiveWriter::AddFile(zip, L"first.txt", W(first)), c.firstAdd) << c.what;
        EXPECT_EQ(ZipArchiveWriter::AddFile(zip, L"second.txt", W(second)), c.secondAdd) << c.what;
        EXPECT_EQ(ZipArchiveWriter::Close(zip), c.close) << c.what;
        if (c.close != kZipOk || c.secondAdd != kZipOk) continue;
        fs::path archive = f.path / ("fault" + std::to_string(++n) + ".zip");
        t::WriteBytes(archive, bytes);
        std::vector<t::ExpectedEntry> expected;
        if (c.firstListed) expected.push_back({"first.txt", first});
        expected.push_back({"second.txt", second});
        EXPECT_EQ(t::CheckArchive(archive, expected), "") << c.what;
    }
}

TEST(ZipArchiveWriter, CentralDirectoryWriteFailureIsReported) {
    Folder f;
    fs::path source = f.Put("s.txt", "s");
    for (int failing : {3, 4}) {  // a central header, the end record
        std::string bytes;
        ZipHandle zip = ZipArchiveWriter::CreateOn(std::make_unique<FaultyFile>(
            &bytes, [failing](int c, size_t) { return c == failing ? 1 : 0; }));
        ASSERT_EQ(ZipArchiveWriter::AddFile(zip, L"s.txt", W(source)), kZipOk);
        EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipWriteFailed) << failing;
    }
    EXPECT_EQ(ZipArchiveWriter::Close(ZipArchiveWriter::CreateOn(nullptr)), kZipNoOutputFile);
}

#ifdef _WIN32
// A source another process holds open for writing cannot be opened with read
// sharing only: it is left out and the archive stays valid.
TEST(ZipArchiveWriter, SourceHeldOpenForWritingByAnotherProcessIsRefused) {
    Folder f;
    fs::path held = f.path / "held.txt";
    fs::path ready = f.path / "ready", release = f.path / "release";
    fs::path other = f.Put("other.txt", "other");
    std::wstring line = L"\"" + fs::path(t::TargetPath(MARL_DEBUGTOOL_HOLDER)).wstring() +
                        L"\" write \"" + held.wstring() + L"\" \"" + ready.wstring() + L"\" \"" +
                        release.wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &si, &pi));
    for (int i = 0; i < 300 && !fs::exists(ready); ++i) ::Sleep(100);
    ASSERT_TRUE(fs::exists(ready));

    fs::path archive = f.path / "held.zip";
    ZipHandle zip = ZipArchiveWriter::Create(W(archive));
    EXPECT_EQ(ZipArchiveWriter::AddFile(zip, L"held.txt", W(held)), kZipOpenFailed);
    EXPECT_EQ(ZipArchiveWriter::AddFile(zip, L"other.txt", W(other)), kZipOk);
    EXPECT_EQ(ZipArchiveWriter::Close(zip), kZipOk);

    t::WriteBytes(release, "");
    ::WaitForSingleObject(pi.hProcess, 30000);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    EXPECT_EQ(t::CheckArchive(archive, {{"other.txt", other}}, f.path), "");
}
#endif

}  // namespace
}  // namespace marl::debugtool

#include "debugtool/ZipArchiveWriter.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <set>
#include <vector>

#include "debugtool/ZipDeflater.h"
#include "debugtool/ZipFormat.h"

namespace marl::debugtool {

namespace {

constexpr uint64_t kMaxField32 = 0xFFFFFFFFULL;
constexpr size_t kMaxEntries = 0xFFFF;
constexpr size_t kDataBufferSize = 16 * 1024;
constexpr size_t kInputPieceSize = 64 * 1024;

// The live writers: a handle is followed only when it is one of them.
std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}
std::set<const void*>& Registry() {
    static std::set<const void*> writers;
    return writers;
}

void Register(const void* w) {
    std::lock_guard<std::mutex> hold(RegistryLock());
    Registry().insert(w);
}

void Unregister(const void* w) {
    std::lock_guard<std::mutex> hold(RegistryLock());
    Registry().erase(w);
}

bool IsWriter(const void* w) {
    std::lock_guard<std::mutex> hold(RegistryLock());
    return Registry().count(w) != 0;
}

// Where an entry's data comes from: the open source file (read up to the
// size it had when it was opened, so a file that grows meanwhile still fits
// the size checked beforehand) or a filtered copy in memory.
class EntrySource {
  public:
    EntrySource(platform::InputFile* file, uint64_t limit) : m_file(file), m_left(limit) {}
    explicit EntrySource(std::string content)
        : m_content(std::move(content)), m_left(m_content.size()) {}

    bool Read(uint8_t* buffer, size_t capacity, size_t* got) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(capacity, m_left));
        *got = 0;
        if (want == 0) return true;
        if (m_file) {
            if (!m_file->Read(buffer, want, got)) return false;
        } else {
            std::copy_n(m_content.data() + m_offset, want, buffer);
            m_offset += want;
            *got = want;
        }
        m_left -= *got;
        return true;
    }

  private:
    platform::InputFile* m_file = nullptr;
    std::string m_content;
    size_t m_offset = 0;
    uint64_t m_left;
};

}  // namespace

struct ZipArchiveWriter::State {
    std::unique_ptr<platform::OutputFile> file;
    uint32_t written = 0;
    uint32_t failure = 0;
    bool ended = false;
    std::vector<zip::ZipEntry> entries;
    uint64_t centralBytes = 0;  // what the central directory will take
    std::unique_ptr<zip::ZipDeflater> deflater;
    std::array<uint8_t, kDataBufferSize> buffer{};
    std::vector<uint8_t> input;

    bool HasFile() const { return file && file->IsOpen(); }

    // Appends bytes at `written`; a missing file is the archive's fatal
    // error. `written` counts what really reached the file, so the offsets
    // of later entries stay true even after a short write.
    bool Append(const void* data, size_t size) {
        if (!HasFile()) {
            if (failure == 0) failure = kZipNoOutputFile;
            return false;
        }
        size_t done = file->Write(data, size);
        written += static_cast<uint32_t>(done);
        return done == size;
    }

    bool Append(const std::vector<uint8_t>& bytes) { return Append(bytes.data(), bytes.size()); }

    uint32_t Add(const std::wstring& entryName, const std::wstring& sourcePath,
                 const ContentFilter* filter);
    uint32_t Prepare(zip::ZipEntry* entry, uint64_t size);
    bool CopyStored(EntrySource& source, zip::ZipEntry* entry);
    bool Deflate(EntrySource& source, zip::ZipEntry* entry);
    uint32_t RewriteLocalHeader(const zip::ZipEntry& entry);
    uint32_t End();
};

ZipArchiveWriter::ZipArchiveWriter(std::unique_ptr<platform::OutputFile> file)
    : m_state(std::make_unique<State>()) {
    m_state->file = std::move(file);
}

ZipArchiveWriter::~ZipArchiveWriter() = default;

ZipHandle ZipArchiveWriter::Create(const std::wstring& archivePath, uint32_t* result) {
    uint32_t error = 0;
    std::unique_ptr<platform::OutputFile> file =
        platform::CreateFileForWriting(archivePath, &error);
    if (result) *result = file ? kZipOk : kZipOpenFailed;
    if (!file) return nullptr;
    return CreateOn(std::move(file));
}

ZipHandle ZipArchiveWriter::CreateOn(std::unique_ptr<platform::OutputFile> file) {
    ZipArchiveWriter* w = new ZipArchiveWriter(std::move(file));
    Register(w);
    return w;
}

uint32_t ZipArchiveWriter::AddFile(ZipHandle writer, const std::wstring& entryName,
                                   const std::wstring& sourcePath) {
    if (!writer) return kZipBadArgument;
    if (!IsWriter(writer)) return kZipNotAWriter;
    return static_cast<ZipArchiveWriter*>(writer)->m_state->Add(entryName, sourcePath, nullptr);
}

uint32_t ZipArchiveWriter::AddFilteredFile(ZipHandle writer, const std::wstring& entryName,
                                           const std::wstring& sourcePath,
                                           const ContentFilter& filter) {
    if (!writer || !filter) return kZipBadArgument;
    if (!IsWriter(writer)) return kZipNotAWriter;
    return static_cast<ZipArchiveWriter*>(writer)->m_state->Add(entryName, sourcePath, &filter);
}

uint32_t ZipArchiveWriter::Close(ZipHandle writer) {
    if (!writer) return kZipBadArgument;
    if (!IsWriter(writer)) return kZipNotAWriter;
    auto* w = static_cast<ZipArchiveWriter*>(writer);
    uint32_t result = w->m_state->ended ? kZipOk : w->m_state->End();
    if (w->m_state->file) w->m_state->file->Close();
    Unregister(w);
    delete w;
    return result;
}

namespace {

// Reads a whole source (of at most `size` bytes) for filtering.
bool ReadWhole(platform::InputFile& file, uint64_t size, std::string* content) {
    EntrySource source(&file, size);
    content->clear();
    std::vector<uint8_t> piece(kInputPieceSize);
    for (;;) {
        size_t got = 0;
        if (!source.Read(piece.data(), piece.size(), &got)) return false;
        if (got == 0) return true;
        content->append(reinterpret_cast<const char*>(piece.data()), got);
    }
}

}  // namespace

uint32_t ZipArchiveWriter::State::Add(const std::wstring& entryName, const std::wstring& sourcePath,
                                      const ContentFilter* filter) {
    if (failure != 0) return kZipFailedState;
    if (ended) return kZipEnded;
    std::wstring name = zip::NormaliseEntryName(entryName);
    if (name.empty() || sourcePath.empty()) return kZipBadArgument;

    zip::ZipEntry entry;
    entry.method = zip::IsStoredByName(name) ? zip::kMethodStored : zip::kMethodDeflated;
    entry.name = zip::Utf8Of(name);
    if (entry.name.size() > zip::kMaxNameBytes) return kZipBadArgument;

    uint32_t error = 0;
    std::unique_ptr<platform::InputFile> file = platform::OpenFileForReading(sourcePath, &error);
    if (!file) return kZipOpenFailed;
    platform::FileFacts facts;
    if (!file->Facts(&facts) || !file->Rewind()) return kZipOpenFailed;
    zip::ApplyFacts(facts, &entry);

    std::unique_ptr<EntrySource> source;
    uint64_t size = facts.size;
    if (filter) {
        std::string content;
        if (size > kMaxField32 || !ReadWhole(*file, size, &content)) return kZipWriteFailed;
        content = (*filter)(content);
        size = content.size();
        source = std::make_unique<EntrySource>(std::move(content));
    } else {
        source = std::make_unique<EntrySource>(file.get(), size);
    }

    uint32_t refused = Prepare(&entry, size);
    if (refused != kZipOk) return refused;

    // Provisional local header: sizes of a stored entry are known already;
    // the final values are written over it once the data is in.
    entry.flags = zip::kFlagDataDescriptor;
    entry.compressedSize = entry.method == zip::kMethodStored ? static_cast<uint32_t>(size) : 0;
    entry.uncompressedSize = static_cast<uint32_t>(size);
    entry.localHeaderOffset = written;
    bool dataOk = Append(zip::LocalHeader(entry));
    uint32_t dataStart = written;
    if (dataOk) {
        entry.crc32 = 0;
        entry.uncompressedSize = 0;
        dataOk = entry.method == zip::kMethodStored ? CopyStored(*source, &entry)
                                                    : Deflate(*source, &entry);
    }
    file.reset();
    entry.compressedSize = written - dataStart;
    if (failure != 0) return failure;
    if (!dataOk) return kZipWriteFailed;

    // Final flags: the maximum-compression indication for method 8, and the
    // data-descriptor bit of the provisional header cleared.
    entry.flags = entry.method == zip::kMethodDeflated ? zip::kFlagMaximumCompression : 0;
    uint32_t rewritten = RewriteLocalHeader(entry);
    if (rewritten != kZipOk) return rewritten;
    centralBytes += zip::kCentralHeaderFixed + entry.name.size() + zip::kCentralExtraSize;
    entries.push_back(std::move(entry));
    return kZipOk;
}

// Refuses, before anything is written, an entry that cannot be described
// by the format's fields: a source of 4 GiB or more, data that could carry
// the next offset (or the central directory after it) past 4 GiB - 1, or a
// 65536th entry. Sets up the encoder for a deflated entry.
uint32_t ZipArchiveWriter::State::Prepare(zip::ZipEntry* entry, uint64_t size) {
    if (size > kMaxField32 || entries.size() >= kMaxEntries) return kZipWriteFailed;
    uint64_t data = size;
    if (entry->method == zip::kMethodDeflated) {
        if (!deflater) deflater = std::make_unique<zip::ZipDeflater>();
        if (!deflater->Ready()) return kZipWriteFailed;
        data = deflater->Bound(size);
    }
    uint64_t local = zip::kLocalHeaderFixed + entry->name.size() + zip::kLocalExtraSize;
    uint64_t central = centralBytes + zip::kCentralHeaderFixed + entry->name.size() +
                       zip::kCentralExtraSize + zip::kEndRecordSize;
    if (written + local + data + central > kMaxField32) return kZipWriteFailed;
    return kZipOk;
}

bool ZipArchiveWriter::State::CopyStored(EntrySource& source, zip::ZipEntry* entry) {
    for (;;) {
        size_t got = 0;
        if (!source.Read(buffer.data(), buffer.size(), &got)) return false;
        if (got == 0) return true;
        entry->crc32 =
            static_cast<uint32_t>(crc32(entry->crc32, buffer.data(), static_cast<uInt>(got)));
        entry->uncompressedSize += static_cast<uint32_t>(got);
        if (!Append(buffer.data(), got)) return false;
    }
}

bool ZipArchiveWriter::State::Deflate(EntrySource& source, zip::ZipEntry* entry) {
    auto sink = [this](const uint8_t* data, size_t size) { return Append(data, size); };
    if (!deflater->Begin(buffer.data(), buffer.size(), sink)) return false;
    input.resize(kInputPieceSize);
    for (;;) {
        size_t got = 0;
        if (!source.Read(input.data(), input.size(), &got)) return false;
        if (got == 0) break;
        entry->crc32 =
            static_cast<uint32_t>(crc32(entry->crc32, input.data(), static_cast<uInt>(got)));
        entry->uncompressedSize += static_cast<uint32_t>(got);
        if (!deflater->Feed(input.data(), got)) return false;
    }
    return deflater->Finish();
}

// Writes the final local header over the provisional one (same length) and
// returns to the end. The moves are checked: a header written anywhere else
// would corrupt the archive.
uint32_t ZipArchiveWriter::State::RewriteLocalHeader(const zip::ZipEntry& entry) {
    if (!HasFile()) {
        failure = kZipNoOutputFile;
        return kZipRewriteFailed;
    }
    if (!file->SeekTo(entry.localHeaderOffset)) return kZipWriteFailed;
    std::vector<uint8_t> header = zip::LocalHeader(entry);
    bool ok = file->Write(header.data(), header.size()) == header.size();
    if (!file->SeekTo(written)) {
        failure = kZipWriteFailed;  // where the next bytes would land is unknown
        return kZipWriteFailed;
    }
    return ok ? kZipOk : kZipWriteFailed;
}

uint32_t ZipArchiveWriter::State::End() {
    ended = true;
    if (!HasFile()) return kZipNoOutputFile;
    uint32_t start = written;
    for (const zip::ZipEntry& e : entries) {
        if (!Append(zip::CentralHeader(e))) return kZipWriteFailed;
    }
    std::vector<uint8_t> end =
        zip::EndRecord(static_cast<uint16_t>(entries.size()), written - start, start);
    return Append(end) ? kZipOk : kZipWriteFailed;
}

}  // namespace marl::debugtool

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/utf8.h"

namespace marl::platform {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

uint64_t FileTimeOf(int64_t seconds, int64_t nanoseconds) {
    return static_cast<uint64_t>(seconds * static_cast<int64_t>(kTicksPerSecond) +
                                 nanoseconds / 100 + static_cast<int64_t>(kUnixEpochTicks));
}

class PosixInputFile final : public InputFile {
  public:
    explicit PosixInputFile(int fd) : m_fd(fd) {}
    ~PosixInputFile() override { ::close(m_fd); }

    bool Read(void* buffer, size_t capacity, size_t* got) override {
        for (;;) {
            ssize_t n = ::read(m_fd, buffer, capacity);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            *got = static_cast<size_t>(n);
            return true;
        }
    }

    bool Rewind() override { return ::lseek(m_fd, 0, SEEK_SET) == 0; }

    bool Facts(FileFacts* facts) override {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) return false;
        facts->size = static_cast<uint64_t>(st.st_size);
        facts->attributes = (st.st_mode & S_IWUSR) ? 0 : kAttributeReadOnly;
        facts->lastWriteTime = FileTimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        facts->lastAccessTime = FileTimeOf(st.st_atim.tv_sec, st.st_atim.tv_nsec);
        facts->creationTime = FileTimeOf(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
#ifdef STATX_BTIME
        struct statx sx {};
        if (::statx(m_fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 &&
            (sx.stx_mask & STATX_BTIME)) {
            facts->creationTime = FileTimeOf(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
        }
#endif
        return true;
    }

  private:
    int m_fd;
};

class PosixOutputFile final : public OutputFile {
  public:
    explicit PosixOutputFile(int fd) : m_fd(fd) {}
    ~PosixOutputFile() override { Close(); }

    size_t Write(const void* data, size_t size) override {
        if (m_fd < 0) return 0;
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(m_fd, p + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

    bool SeekTo(uint64_t offset) override {
        return m_fd >= 0 &&
               ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
    }

    bool IsOpen() const override { return m_fd >= 0; }

    void Close() override {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd;
};

}  // namespace

std::unique_ptr<InputFile> OpenFileForReading(const std::wstring& path, uint32_t* error) {
    int fd = ::open(Utf8Of(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = static_cast<uint32_t>(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // Windows opens no folder (or device) as a source file; neither do we.
        ::close(fd);
        *error = EACCES;
        return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd);
}

std::unique_ptr<OutputFile> CreateFileForWriting(const std::wstring& path, uint32_t* error) {
    int fd = ::open(Utf8Of(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = static_cast<uint32_t>(errno);
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(fd);
}

std::wstring WidenPath(const std::string& path) { return WideOfUtf8(path); }

bool CreateFolder(const std::string& path, uint32_t* error) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    *error = static_cast<uint32_t>(errno);
    return false;
}

uint32_t ChangeFolder(const std::string& path) {
    return ::chdir(path.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

uint32_t DeleteOneFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

uint32_t RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

}  // namespace marl::platform

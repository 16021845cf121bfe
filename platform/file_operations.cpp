#include "platform/file_operations.h"

#include <cerrno>

namespace marl::platform {
namespace {

class SystemFileOperations : public FileOperations {
  public:
    std::FILE* Create(const std::string& path, FileAccess access, int* error) override {
        return OpenSharedFile(path, "w", error, access);
    }
    bool MakeSecret(const std::string& path, int* error) override {
        return MakeFileSecret(path, error);
    }
    bool FlushToDisk(std::FILE* stream) override { return marl::platform::FlushToDisk(stream); }
    bool Close(std::FILE* stream) override { return std::fclose(stream) == 0; }
    bool Remove(const std::string& path) override { return std::remove(path.c_str()) == 0; }
    bool Rename(const std::string& from, const std::string& to, int* error) override {
        errno = 0;
        if (std::rename(from.c_str(), to.c_str()) == 0) return true;
        *error = errno;
        return false;
    }
};

}  // namespace

std::unique_ptr<FileOperations> MakeSystemFileOperations() {
    return std::make_unique<SystemFileOperations>();
}

}  // namespace marl::platform

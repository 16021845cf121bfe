#include <sys/stat.h>

#include <cerrno>

#include "platform/shared_read.h"

namespace marl::platform {

std::FILE* OpenSharedForReading(const std::string& path, int* errorNumber) {
    // "e": close on exec, so a program we start does not inherit the stream.
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f) {
        *errorNumber = errno;
        return nullptr;
    }
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        // Windows refuses to open a folder as a file; do the same here.
        std::fclose(f);
        *errorNumber = EACCES;
        return nullptr;
    }
    return f;
}

}  // namespace marl::platform

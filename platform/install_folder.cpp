#include "platform/install_folder.h"

namespace marl::platform {
namespace {

#ifdef _WIN32
constexpr const char* kSeparator = "\\";
constexpr const char* kDefaultFolder = "C:\\Program Files\\Marl VSS\\";
constexpr const char* kHelperRelative = "QVCenter\\QVCENTER.exe";
#else
constexpr const char* kSeparator = "/";
constexpr const char* kDefaultFolder = "/opt/marl-vss/";
constexpr const char* kHelperRelative = "QVCenter/QVCENTER";
#endif

std::string& Folder() {
    static std::string folder = kDefaultFolder;
    return folder;
}

}  // namespace

const std::string& InstallFolder() { return Folder(); }

void SetInstallFolder(const std::string& folder) {
    std::string f = folder;
    if (f.empty() || (f.back() != '/' && f.back() != '\\')) f += kSeparator;
    Folder() = f;
}

const char* PathSeparator() { return kSeparator; }

std::string HelperPath() { return Folder() + kHelperRelative; }

}  // namespace marl::platform

#pragma once
// The folder the product is installed in; it holds the configuration file, the
// logs and the VMware helper. Windows: "C:\Program Files\Marl VSS\"; POSIX:
// "/opt/marl-vss/". Always ends with the platform's path separator.
//
// Tests, the simulator and the harness may point the system at another folder
// with SetInstallFolder before they construct anything that reads it; the
// product itself never calls it and reads no environment variable for it.
#include <string>

namespace marl::platform {

const std::string& InstallFolder();
// A separator is appended when `folder` does not end with one.
void SetInstallFolder(const std::string& folder);
// The platform's path separator as text: "\\" on Windows, "/" elsewhere.
const char* PathSeparator();
// The VMware helper: <folder>QVCenter\QVCENTER.exe on Windows,
// <folder>QVCenter/QVCENTER elsewhere.
std::string HelperPath();

}  // namespace marl::platform

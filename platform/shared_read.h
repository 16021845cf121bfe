#pragma once
// Opening a file for reading without keeping others from changing it.
//
// The configuration file is read by every new provider object while the
// configurator may be rewriting it. The file is opened so that other processes
// may read, write, and also rename or delete it meanwhile (on Windows a reader
// without delete sharing would make the configurator's rename sequence fail,
// and its new settings would be lost without a word).
//
// The stream is binary: callers that want lines split them themselves, so
// that both builds see the same bytes.
#include <cstdio>
#include <string>

namespace marl::platform {

// Returns the open stream, or nullptr with `*errorNumber` set to the C runtime
// error number (ENOENT 2 for a missing file, EACCES 13 for a folder or a file
// that may not be read). A folder is never returned as a stream.
std::FILE* OpenSharedForReading(const std::string& path, int* errorNumber);

}  // namespace marl::platform

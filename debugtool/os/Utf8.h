#pragma once
// Wide texts to UTF-8, for entry names in the archive and for paths given to
// the POSIX file system.
#include <string>

namespace marl::debugtool {

// UTF-8 of a wide text (UTF-16 on Windows, UTF-32 elsewhere); unpaired
// surrogates and values past U+10FFFF become U+FFFD.
std::string Utf8Of(const std::wstring& text);

}  // namespace marl::debugtool

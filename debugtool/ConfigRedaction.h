#pragma once
// The configuration file as it enters a support archive: every line that
// holds a password key (the secret keys of common/ConfigFormat.h, found the
// way the provider finds keys, here ignoring case) has its value replaced by the
// marker "<hidden>". The stored form of a password carries its own key, so
// without this the archive would hand the array and vCenter passwords to
// whoever reads it. Every other byte, line ends included, is kept.
//
// A password line "KEY = [value]" becomes "KEY = [<hidden>]": the text
// from the first "[" to the last "]" is replaced. A password line without a
// usable bracket pair is replaced by its text up to the key, then
// " = [<hidden>]".
#include <string>

namespace marl::debugtool {

constexpr const char* kHiddenMarker = "<hidden>";

std::string RedactPasswords(const std::string& content);

}  // namespace marl::debugtool

#pragma once
// Test support: reading the passwords a run stored, through the same decoder
// the provider uses.
#include <sstream>
#include <string>

#include "common/ConfigReader.h"
#include "common/PasswordCipher.h"

namespace marl::testing {

// `text` with the value of every PASSWORD and VCENTER_PASSWORD line replaced
// by "plain:" and what it decodes to (or "undecodable"), so that whole files
// with freshly keyed passwords can be compared with a fixed expectation.
inline std::string DecodePasswordsIn(const std::string& text) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        if (line.rfind("PASSWORD = [", 0) == 0 || line.rfind("VCENTER_PASSWORD = [", 0) == 0) {
            std::string value;
            marl::common::ExtractBracketValue(line, value);
            std::string plain = value;
            bool ok = DecodeStoredPassword(plain) == marl::common::StoredPasswordStatus::Ok;
            line =
                line.substr(0, line.find('[') + 1) + (ok ? "plain:" + plain : "undecodable") + "]";
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace marl::testing

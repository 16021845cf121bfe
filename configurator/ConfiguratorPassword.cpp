// The password questions. A typed password is shown as "*" per character and
// stored only in its enciphered form; neither form is printed or logged.
#include "common/ConfigReader.h"
#include "common/PasswordCipher.h"
#include "configurator/ConfiguratorChecks.h"
#include "configurator/ConfiguratorInternal.h"
#include "configurator/QVssConfigurator.h"

using marl::platform::kConsoleBackspace;
using marl::platform::kConsoleEnter;

bool CQConfigurator::ChangePassword(std::FILE* out, std::string line, const std::string& key,
                                    std::string& value) {
    if (line.find(key) != 0) return false;
    size_t open = line.find('[');
    size_t close = line.find(']');
    // An empty value between the brackets counts as missing.
    if (open == std::string::npos || (close != std::string::npos && close < open + 2)) {
        Print(key + " is missing, please enter a value: ");
        return SetNewPassword(out, line, key, value);
    }
    marl::common::ExtractBracketValue(line, value);
    sanitize_string(value);
    Print("Would you like to change " + key + "? [y/n]");
    char answer = ReadKeyOrStop();
    if (answer == 'y' || answer == 'Y') {
        CONF_LOG("CQConfigurator::ChangePassword", QLOG_INFO, "Changing '%s'", key.c_str());
        Print("\nNew " + key + ": ");
        return SetNewPassword(out, line, key, value);
    }
    Print("\n\n");
    WriteLine(out, line);
    return true;
}

std::string CQConfigurator::ReadHiddenOrStop() {
    marl::platform::Console& console = *m_env.console;
    if (!console.BeginHidden()) throw ConsoleInputEnded{};
    std::string text;
    char c = 0;
    for (;;) {
        if (!console.ReadHiddenChar(c)) {
            // A half-typed password is not stored: the run stops instead.
            console.EndHidden();
            throw ConsoleInputEnded{};
        }
        if (c == kConsoleEnter) break;
        if (c == kConsoleBackspace) {
            if (!text.empty()) {
                Print("\b \b");
                text.pop_back();
            }
            continue;
        }
        text += c;
        Print("*");
    }
    Print("\n\n");
    console.EndHidden();
    return text;
}

bool CQConfigurator::SetNewPassword(std::FILE* out, std::string, const std::string& key,
                                    std::string& value) {
    value = ReadHiddenOrStop();
    if (value.empty()) {
        Print("Invalid password\n");
        CONF_LOG("CQConfigurator::SetNewPassword", QLOG_ERROR, "Password is missing");
        return false;
    }
    WriteLine(out, marl::common::ConfigLine(
                       key, marl::common::StoredPasswordForm(value, GenerateKey(16))));
    return true;
}

// The questions about one key: ChangeParam and ChangeDebugParam, and the
// console reads they share with the password questions.
#include <cctype>

#include "common/ConfigReader.h"
#include "configurator/ConfiguratorChecks.h"
#include "configurator/ConfiguratorInternal.h"
#include "configurator/QVssConfigurator.h"

namespace {

constexpr char kFunction[] = "CQConfigurator::ChangeParam";

// "false", "f" and "0" in any case are False; every other word is True.
std::string NormaliseFlag(std::string word) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return marl::common::FlagText(!(word == "false" || word == "f" || word == "0"));
}

}  // namespace

char CQConfigurator::ReadKeyOrStop() {
    char key = 0;
    if (!m_env.console->ReadKey(key)) throw ConsoleInputEnded{};
    return key;
}

std::string CQConfigurator::ReadWordOrStop() {
    std::string word;
    if (!m_env.console->ReadWord(word)) throw ConsoleInputEnded{};
    return word;
}

bool CQConfigurator::ChangeParam(std::FILE* out, std::string line, const std::string& key,
                                 std::string& value, Check check, bool isFlag) {
    // A loop rather than a call of itself for each answer that is not y or n,
    // so that no number of wrong keys can exhaust the stack.
    for (;;) {
        CONF_LOG(kFunction, QLOG_INFO, "searching param_name: %s", key.c_str());
        size_t index = line.find(key);
        CONF_LOG(kFunction, QLOG_INFO, "index: %d",
                 index == std::string::npos ? -1 : static_cast<int>(index));
        if (index != 0) return false;

        std::string current;
        if (!marl::common::ExtractBracketValue(line, current)) {
            Print(key + (isFlag ? " is missing, please enter a value (True/False): "
                                : " is missing, please enter a value: "));
            std::string typed = ReadWordOrStop();
            if (isFlag) typed = NormaliseFlag(typed);
            Print("New " + key + ": " + typed + "\n\n");
            WriteLine(out, marl::common::ConfigLine(key, typed));
            value = typed;
            return true;
        }
        sanitize_string(current);
        value = current;
        Print("Would you like to change " + key + " (" + value + ")? [y/n]");
        char answer = ReadKeyOrStop();
        if (answer == 'y' || answer == 'Y') {
            Print("\n" + key + ": ");
            std::string typed = ReadWordOrStop();
            if (isFlag) typed = NormaliseFlag(typed);
            if (check && !check(typed)) {
                Print("New " + key + " is not valid and won't be changed.\n");
                CONF_LOG(kFunction, QLOG_ERROR,
                         "Failed to change '%s' from '%s' to '%s'. Illegal string.", key.c_str(),
                         value.c_str(), typed.c_str());
                typed = value;
            } else {
                Print("New " + key + ": " + typed + "\n\n");
            }
            WriteLine(out, marl::common::ConfigLine(key, typed));
            CONF_LOG(kFunction, QLOG_INFO, "Change '%s' from '%s' to '%s'.", key.c_str(),
                     value.c_str(), typed.c_str());
            value = typed;
            return true;
        }
        if (answer == 'n' || answer == 'N') {
            Print("\n\n");
            WriteLine(out, line);
            return true;
        }
        Print("\nPlease enter [y/n]\n");
    }
}

bool CQConfigurator::ChangeDebugParam(std::FILE* out, std::string line, const std::string& key,
                                      std::string& value) {
    if (m_debug) return ChangeParam(out, line, key, value, nullptr, false);
    // Outside debug mode log levels are kept as they are, wherever the key
    // stands in the line, and a missing one is added as INFO.
    if (line.find(key) == std::string::npos) return false;
    std::string ignored;
    if (marl::common::ExtractBracketValue(line, ignored)) {
        WriteLine(out, line);
        return true;
    }
    WriteLine(out, marl::common::ConfigLine(key, "INFO"));
    value = "INFO";
    return true;
}

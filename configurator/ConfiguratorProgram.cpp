// The program entry: the off switch, the debug option, one run.
#include <string>

#include "configurator/QVssConfigurator.h"

namespace {

bool EqualsIgnoringCase(const char* text, const char* expected) {
    for (; *text && *expected; ++text, ++expected) {
        char a = (*text >= 'a' && *text <= 'z') ? static_cast<char>(*text - 'a' + 'A') : *text;
        if (a != *expected) return false;
    }
    return *text == *expected;
}

}  // namespace

int RunConfiguratorProgram(int argc, const char* const* argv, const char* offSwitch,
                           const ConfiguratorEnvironment& env) {
    if (offSwitch && EqualsIgnoringCase(offSwitch, "TRUE")) return 0;
    bool debug = argc > 1 && std::string(argv[1]) == "/debug";
    CQConfigurator run(debug, env);
    return 0;
}

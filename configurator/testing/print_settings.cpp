// print_settings FOLDER: reads FOLDER's configuration file with the provider's
// own reader and prints what the provider would use, one "name=value" per
// line (the array password deciphered). Lets the terminal tests check the
// file the configurator wrote as the provider will see it.
#include <cstdio>

#include "common/ConfigReader.h"
#include "common/QVssLog.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: print_settings FOLDER\n");
        return 2;
    }
    CQLogger logger;  // no file: the reader's lines are dropped
    ProviderSettings s = ReadProviderSettings(logger, argv[1]);
    std::printf("externalIp=%s\nhostName=%s\nuserName=%s\npassword=%s\nsupportSsl=%d\n",
                s.externalIp.c_str(), s.hostName.c_str(), s.userName.c_str(), s.password.c_str(),
                s.supportSsl ? 1 : 0);
    return 0;
}

// Test support: another process that holds a named mutex, as any local user
// may hold the logger's "q9_logger" to stall whoever waits for it.
//
//   marl_mutex_holder <name> <ready file> <release file>
//
// Takes the mutex, creates <ready file>, and lets go once <release file>
// exists (at most 300 s later). Exit code 0, 2 when the mutex could not be
// created, 64 on a wrong command line.
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/named_mutex.h"

int main(int argc, char** argv) {
    if (argc != 4) return 64;
    marl::platform::NamedMutex mutex(argv[1]);
    if (!mutex.IsValid()) return 2;
    mutex.Lock();
    std::ofstream(argv[2]) << "held\n";
    for (int i = 0; i < 3000 && !std::filesystem::exists(argv[3]); ++i) {
        marl::platform::SleepMilliseconds(100);
    }
    mutex.Unlock();
    return 0;
}

#include "ProcessControl.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace marl::sim {

namespace {

constexpr int kStartTimeoutMs = 60000;

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);  // only used to wake the waiting thread
    return set;
}

// Written to a temporary name and renamed, so a reader never sees half a line.
bool WritePortsFile(const std::string& path, const std::string& line) {
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!(out << line << "\n")) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void Announce(int readyFd, const std::string& text) {
    if (readyFd < 0) return;
    WriteAll(readyFd, text + "\n");
    close(readyFd);
}

// Reads what the detached child announces, up to its first line.
std::string ReadAnnouncement(int fd) {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    return text.substr(0, text.find('\n'));
}

void RedirectOutput(const std::string& logFile) {
    int in = open("/dev/null", O_RDONLY);
    int out =
        open(logFile.empty() ? "/dev/null" : logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) dup2(in, STDIN_FILENO);
    if (out >= 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
    }
    if (in > STDERR_FILENO) close(in);
    if (out > STDERR_FILENO) close(out);
}

bool ProcessGone(long pid) {
    return pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

bool FileGone(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) != 0;
}

// A stopped simulator removes its ports file; a zombie still answers kill(0),
// so either sign counts.
bool WaitUntilGone(const std::string& portsFile, long pid, int ms) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (FileGone(portsFile) || ProcessGone(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace

int RunInForeground(const CommandLine& cl, int readyFd) {
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts
    Simulator sim;
    std::string error;
    if (!sim.Start(cl.options, error)) {
        std::fprintf(stderr, "marl_simulator: %s\n", error.c_str());
        Announce(readyFd, "ERROR " + error);
        return 1;
    }
    std::string line = FormatPortsLine(sim.Ports());
    if (!cl.portsFile.empty() && !WritePortsFile(cl.portsFile, line)) {
        std::fprintf(stderr, "marl_simulator: could not write %s\n", cl.portsFile.c_str());
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    Announce(readyFd, line);
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&signals, &sig);
        sim.RequestStop();
    });
    sim.WaitUntilStopRequested();
    pthread_kill(waiter.native_handle(), SIGUSR1);
    waiter.join();
    sim.Stop();
    if (!cl.portsFile.empty()) std::remove(cl.portsFile.c_str());
    std::printf("MARL_SIMULATOR_STOPPED\n");
    return 0;
}

int RunDetached(const CommandLine& cl) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 1;
    pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        close(pipeFds[0]);
        setsid();
        RedirectOutput(cl.logFile);
        _exit(RunInForeground(cl, pipeFds[1]));
    }
    close(pipeFds[1]);
    std::string line = ReadAnnouncement(pipeFds[0]);
    close(pipeFds[0]);
    SimulatorPorts ports;
    if (!ParsePortsLine(line, ports)) {
        std::fprintf(stderr, "marl_simulator: detached start failed: %s\n",
                     line.empty() ? "no answer" : line.c_str());
        return 1;
    }
    std::printf("%s\n", line.c_str());
    return 0;
}

int StopRunning(const std::string& portsFile) {
    SimulatorPorts ports;
    if (!ReadPortsFile(portsFile, ports)) {
        std::fprintf(stderr, "marl_simulator: no simulator in %s\n", portsFile.c_str());
        return 0;  // nothing to stop
    }
    httplib::Client client("127.0.0.1", ports.control);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    client.Post("/control/shutdown", "", "application/json");
    if (WaitUntilGone(portsFile, ports.pid, 15000)) return 0;
    kill(static_cast<pid_t>(ports.pid), SIGTERM);
    if (WaitUntilGone(portsFile, ports.pid, 5000)) return 0;
    kill(static_cast<pid_t>(ports.pid), SIGKILL);
    std::remove(portsFile.c_str());
    std::fprintf(stderr, "marl_simulator: had to kill process %ld\n", ports.pid);
    return 1;
}

}  // namespace marl::sim

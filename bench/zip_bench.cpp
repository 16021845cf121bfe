// The support archive's writer against Info-ZIP's `zip -8` on the same
// realistic set of files: ten 1 MiB provider logs, a 50 MB system report and
// a 5 MB binary file. Each side writes one whole archive per iteration, from
// the same files in the page cache; zip runs as its own process (its start
// is part of its time, as it is for a user).
//
// Prints the throughput ratio (zip -8 time / our time; goal at least 1.0)
// and the size ratio (our archive / zip's; goal at most 1.01).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "FigureReporter.h"
#include "debugtool/ZipArchiveWriter.h"
#include "platform/files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path& BenchFolder() {
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() /
                     ("marl_zip_bench_" + std::to_string(std::random_device()()));
        fs::create_directories(p);
        return p;
    }();
    return folder;
}

void Write(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

unsigned Next(std::mt19937& rng) { return static_cast<unsigned>(rng()); }

// Provider log lines in the logger's format, with varying serials and times.
std::string ProviderLog(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    static const char* const messages[] = {
        "entering",
        "returning 0x00000000",
        "TakeRegularSnap cg_finance:VSS_fin_%u",
        "vol_show returned %u volumes",
        "GetSnapLunSN serial 6000d31%07x",
        "Login ok",
        "send request /main/services/execute/?args=vol_map%%20%u",
        "Logout"};
    std::string s;
    char line[512];
    while (s.size() < size) {
        int n = std::snprintf(line, sizeof line,
                              "[2024/03/05-14:%02u:%02u.%03u][PROVIDER][%s][QProviderInterface:%u]"
                              "[CQProvider::TakeSnap][PID:0x1f4c][TID:0x%x]",
                              Next(rng) % 60, Next(rng) % 60, Next(rng) % 1000,
                              Next(rng) % 4 ? "INFO" : "TRACE", 900 + Next(rng) % 300,
                              0x2a00 + Next(rng) % 16);
        s.append(line, static_cast<size_t>(n));
        n = std::snprintf(line, sizeof line, messages[Next(rng) % 8], Next(rng) % 100000);
        s.append(line, static_cast<size_t>(n));
        s += "\r\n";
    }
    s.resize(size);
    return s;
}

// A system information report: sections of "item<TAB>value" lines.
std::string SystemReport(size_t size) {
    std::mt19937 rng(77);
    static const char* const items[] = {"Driver", "Service", "Device",  "Resource",     "Program",
                                        "Module", "Path",    "Version", "Manufacturer", "Status"};
    std::string s;
    char line[256];
    while (s.size() < size) {
        if (Next(rng) % 50 == 0) s += "\r\n[Software Environment / System Drivers]\r\n\r\n";
        int n =
            std::snprintf(line, sizeof line,
                          "%s\t%s_%u.sys\tC:\\Windows\\system32\\drivers\\%x.sys\t%u.%u.%u\t%s\r\n",
                          items[Next(rng) % 10], items[Next(rng) % 10], Next(rng) % 4000,
                          Next(rng) % 0xfffff, Next(rng) % 11, Next(rng) % 20, Next(rng) % 30000,
                          Next(rng) % 3 ? "Running" : "Stopped");
        s.append(line, static_cast<size_t>(n));
    }
    s.resize(size);
    return s;
}

// A binary file: tables of small integers and structures beside random runs,
// as a crash dump or a registry hive has them.
std::string BinaryFile(size_t size) {
    std::mt19937 rng(5);
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        if (Next(rng) % 3 == 0) {
            for (int i = 0; i < 4096; ++i) s += static_cast<char>(Next(rng));
        } else {
            for (int i = 0; i < 1024; ++i) {
                uint32_t v = Next(rng) % 512;
                s.append(reinterpret_cast<const char*>(&v), 4);
            }
        }
    }
    s.resize(size);
    return s;
}

const std::vector<std::string>& Files() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (int i = 0; i < 10; ++i) {
            n.push_back("marl_vss_log_" + std::to_string(i) + ".txt");
            Write(BenchFolder() / n.back(), ProviderLog(1 << 20, static_cast<uint32_t>(i)));
        }
        n.push_back("msinfo_log.txt");
        Write(BenchFolder() / n.back(), SystemReport(50u * 1000 * 1000));
        n.push_back("memory.dmp");
        Write(BenchFolder() / n.back(), BinaryFile(5u * 1000 * 1000));
        return n;
    }();
    return names;
}

uint64_t g_ourSize = 0;
uint64_t g_zipSize = 0;

void OurWriter(benchmark::State& state) {
    const std::vector<std::string>& files = Files();
    fs::path archive = BenchFolder() / "ours.zip";
    for (auto _ : state) {
        using marl::debugtool::ZipArchiveWriter;
        marl::debugtool::ZipHandle zip = ZipArchiveWriter::Create(archive.wstring());
        for (const std::string& f : files) {
            if (ZipArchiveWriter::AddFile(zip, fs::path(f).wstring(),
                                          (BenchFolder() / f).wstring()) != 0) {
                state.SkipWithError("AddFile failed");
            }
        }
        if (ZipArchiveWriter::Close(zip) != 0) state.SkipWithError("Close failed");
    }
    g_ourSize = fs::file_size(archive);
    state.counters["bytes"] = static_cast<double>(g_ourSize);
}
BENCHMARK(OurWriter)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void InfoZipDash8(benchmark::State& state) {
    const std::vector<std::string>& files = Files();
    fs::path archive = BenchFolder() / "infozip.zip";
    std::vector<std::string> words = {"zip", "-8", "-q", archive.string()};
    for (const std::string& f : files) words.push_back((BenchFolder() / f).string());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    for (auto _ : state) {
        fs::remove(archive);  // zip would otherwise update the old archive
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "zip", nullptr, nullptr, argv.data(), environ) != 0 ||
            waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("zip -8 failed");
        }
    }
    g_zipSize = fs::exists(archive) ? fs::file_size(archive) : 0;
    state.counters["bytes"] = static_cast<double>(g_zipSize);
}
BENCHMARK(InfoZipDash8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

using marl::bench::Figure;
using marl::bench::RunTimes;

void PrintFigures(const marl::bench::FigureReporter& r) {
    const RunTimes ours = r.Median("OurWriter"), zip = r.Median("InfoZipDash8");
    if (ours.real <= 0 || zip.real <= 0 || g_zipSize == 0) {
        std::printf("no figures (a side failed)\n");
        return;
    }
    uint64_t input = 0;
    for (const std::string& f : Files()) input += fs::file_size(BenchFolder() / f);
    const double mb = static_cast<double>(input) / 1e6;
    Figure("input", mb, "MB", 1).Context(marl::bench::Format("%zu files", Files().size())).Print();
    Figure("our writer", ours.real, "ms", 0)
        .Context(marl::bench::Format("%.1f MB/s, %llu bytes", mb / ours.real * 1e3,
                                     static_cast<unsigned long long>(g_ourSize)))
        .Print();
    Figure("zip -8", zip.real, "ms", 0)
        .Context(marl::bench::Format("%.1f MB/s, %llu bytes", mb / zip.real * 1e3,
                                     static_cast<unsigned long long>(g_zipSize)))
        .Print();
    // zip runs in a child process: its CPU time is not in our clock, so the
    // throughput ratio is taken on real time only.
    Figure("throughput ratio ours/zip -8", zip.real / ours.real, "x", 3).AtLeast(1.0).Print();
    Figure("size ratio ours/zip -8",
           static_cast<double>(g_ourSize) / static_cast<double>(g_zipSize), "x", 4)
        .AtMost(1.01)
        .Print();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Files();  // made before timing starts
    marl::bench::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintFigures(reporter);
    std::error_code ec;
    fs::remove_all(BenchFolder(), ec);
    return 0;
}

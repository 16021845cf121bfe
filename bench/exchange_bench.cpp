// The cost of one array exchange: SendArrayRequest (login, vol_show, logout
// over HTTPS) against a private simulator on 127.0.0.1, beside what the same
// three requests cost made straight with libcurl, beside the curl program
// making them, and a full TLS handshake beside a resumed one.
//
// Every exchange of the transport opens a fresh session (new connection, new
// login) and resumes the TLS session of the one before, since the libcurl
// backend shares its TLS session cache process-wide. The floor does the same
// with one easy handle per exchange and a shared session cache of its own, so
// the ratio shows what the transport adds: its logging, its checks, the
// client seam.
//
// Wall time is the median of the iterations of a run (the summary takes the
// median of the repetitions); CPU time is this process's per exchange (the
// simulator is another process; its CPU per exchange is printed beside for
// context). Goal printed at the end: transport median <= 1.05x the floor's,
// the two timed in turns within one run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CurlBenchmarkMain.h"
#include "Figures.h"
#include "RedirectingHttpClient.h"
#include "SimulatorControl.h"
#include "SimulatorProcess.h"
#include "common/QVssLog.h"
#include "platform/process.h"
#include "provider/array/ArrayTransport.h"
#include "provider/array/BuildArgs.h"
#include "provider/array/ResponseEnvelope.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using marl::bench::Median;

constexpr char kUser[] = "admin";
constexpr char kPassword[] = "password";
constexpr char kLoginPath[] = "/main/services/login/";
constexpr char kCommandPath[] = "/main/services/execute/vol_show/";
constexpr char kLogoutPath[] = "/logout/";
constexpr char kCurlProgram[] = "/usr/bin/curl";
// Linux reports /proc CPU times in USER_HZ ticks, 100 a second on every
// architecture this runs on.
constexpr double kTickMicros = 10000.0;

// ---- the run's environment: folder, log, simulator ----

class Environment {
  public:
    static Environment& Get() {
        static Environment env;
        return env;
    }
    bool Ready() const { return m_sim != nullptr; }
    const std::string& Error() const { return m_error; }
    const marl::sim::SimulatorPorts& Ports() const { return m_sim->Ports(); }
    marl::sim::SimulatorControl& Control() { return *m_control; }
    const fs::path& Folder() const { return m_folder; }
    std::string Url(const char* path) const {
        return "https://127.0.0.1:" + std::to_string(Ports().https) + path;
    }
    ~Environment() {
        m_control.reset();
        m_sim.reset();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

  private:
    Environment() {
        // The log goes where the provider's would, at its usual level; the
        // folder's path holds no "." (rotation names come from the first).
        m_folder = fs::temp_directory_path() /
                   ("marl_exchange_bench_" + std::to_string(std::random_device()()));
        fs::create_directories(m_folder);
        CQLogger* log = CQLogger::getInstance();
        if (!log->OpenLogFile((m_folder / "marl_vss_log.txt").string())) {
            m_error = "cannot open the log in " + m_folder.string();
            return;
        }
        log->SetLogLevel("PROVIDER", QLOG_INFO);
        m_sim = marl::sim::SimulatorProcess::Launch({"--no-http"}, m_error);
        if (m_sim) m_control = std::make_unique<marl::sim::SimulatorControl>(m_sim->Ports());
    }

    fs::path m_folder;
    std::string m_error;
    std::unique_ptr<marl::sim::SimulatorProcess> m_sim;
    std::unique_ptr<marl::sim::SimulatorControl> m_control;
};

// ---- measuring ----

// Fields of /proc/<pid>/stat, counted from 1 as proc(5) does.
std::vector<std::string> StatFields(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> fields{"", "pid", "comm"};
    size_t close = text.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream rest(text.substr(close + 1));
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields;
}

// User plus system ticks of fields `first` and `first + 1`.
double TicksOf(const std::string& pid, size_t first) {
    std::vector<std::string> f = StatFields(pid);
    if (f.size() <= first + 1) return 0;
    return std::stod(f[first]) + std::stod(f[first + 1]);
}

double SimulatorCpuMicros() {
    return TicksOf(std::to_string(Environment::Get().Ports().pid), 14) * kTickMicros;
}
double ChildrenCpuMicros() { return TicksOf("self", 16) * kTickMicros; }
double OwnCpuMicros() { return 1e6 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Figures {
    double medianUs = 0;
    double clientCpuUs = 0;  // this process, or the curl program's for the command line
    double simCpuUs = 0;
    size_t iterations = 0;
};

// Every run of every benchmark, by name: the framework's trial runs (few
// iterations) and then each repetition.
std::map<std::string, std::vector<Figures>>& AllRuns() {
    static std::map<std::string, std::vector<Figures>> runs;
    return runs;
}

// The median, figure by figure, of the repetitions (the runs with the most
// iterations): one repetition disturbed by the shared machine does not decide.
std::map<std::string, Figures> AllFigures() {
    std::map<std::string, Figures> result;
    for (const auto& [name, runs] : AllRuns()) {
        size_t most = 0;
        for (const Figures& f : runs) most = std::max(most, f.iterations);
        std::vector<double> wall, cpu, sim;
        for (const Figures& f : runs) {
            if (f.iterations * 2 < most) continue;
            wall.push_back(f.medianUs);
            cpu.push_back(f.clientCpuUs);
            sim.push_back(f.simCpuUs);
        }
        result[name] = Figures{Median(wall), Median(cpu), Median(sim), most};
    }
    return result;
}

// Times each iteration of `once`; leaves the figures of this run as counters
// and, under `name`, for the summary (the final run's are the ones kept).
template <typename Step>
void Measure(benchmark::State& state, const std::string& name, Step once,
             double (*clientCpu)() = OwnCpuMicros) {
    std::vector<double> samples;
    samples.reserve(4096);
    double cpu0 = clientCpu();
    double sim0 = SimulatorCpuMicros();
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        once();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    if (samples.empty()) return;
    double n = static_cast<double>(samples.size());
    Figures f;
    f.iterations = samples.size();
    f.medianUs = Median(samples);
    f.clientCpuUs = (clientCpu() - cpu0) / n;
    f.simCpuUs = (SimulatorCpuMicros() - sim0) / n;
    state.counters["median_us"] = f.medianUs;
    state.counters["client_cpu_us"] = f.clientCpuUs;
    state.counters["sim_cpu_us"] = f.simCpuUs;
    AllRuns()[name].push_back(f);
}

// Skips the benchmark unless the simulator runs; clears its journal so that
// runs do not pile records up in it.
bool Prepare(benchmark::State& state) {
    Environment& env = Environment::Get();
    if (!env.Ready()) {
        state.SkipWithError(("no simulator: " + env.Error()).c_str());
        return false;
    }
    env.Control().ClearJournal();
    return true;
}

// ---- the transport ----

ProviderSettings LoopbackSettings() {
    ProviderSettings settings;
    settings.externalIp = "127.0.0.1";
    settings.userName = kUser;
    settings.password = kPassword;
    settings.supportSsl = true;
    return settings;
}

void TransportExchange(benchmark::State& state) {
    if (!Prepare(state)) return;
    ProviderSettings settings = LoopbackSettings();
    marl::array::ArrayTransport transport(
        settings,
        marl::harness::RedirectingFactory(
            {static_cast<uint16_t>(Environment::Get().Ports().https), 0}),
        marl::array::CheckLoginReply);
    std::string reply;
    if (transport.SendArrayRequest(L"vol_show", L"", reply) != 0 ||
        reply.find("\"MC_OK\"") == std::string::npos) {
        state.SkipWithError("the transport's exchange failed");
        return;
    }
    Measure(state, "transport",
            [&] { benchmark::DoNotOptimize(transport.SendArrayRequest(L"vol_show", L"", reply)); });
}

// ---- the floor: libcurl straight ----

size_t CollectInto(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// A TLS session cache for easy handles of this thread only (no locking).
class SessionCache {
  public:
    SessionCache() : m_share(curl_share_init()) {
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~SessionCache() { curl_share_cleanup(m_share); }
    SessionCache(const SessionCache&) = delete;
    SessionCache& operator=(const SessionCache&) = delete;
    CURLSH* Get() const { return m_share; }

  private:
    CURLSH* m_share;
};

// An easy handle as `curl -k` has it, writing bodies into `body`, sharing
// TLS sessions through `cache` (none: a full handshake each time).
CURL* NewEasy(std::string& body, const SessionCache* cache) {
    CURL* e = curl_easy_init();
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CollectInto);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &body);
    if (cache) {
        curl_easy_setopt(e, CURLOPT_SHARE, cache->Get());
    } else {
        curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    return e;
}

struct FloorRequests {
    std::string login = Environment::Get().Url(kLoginPath);
    std::string command = Environment::Get().Url(kCommandPath);
    std::string logout = Environment::Get().Url(kLogoutPath);
    std::string form = marl::array::BuildLoginForm(kUser, kPassword);
};

// Login, command, logout on one easy handle with its cookie engine on; the
// command's body ends up in `reply`. Nothing is checked.
void FloorExchange(const FloorRequests& r, const SessionCache& cache, std::string& reply) {
    std::string discard;
    CURL* e = NewEasy(discard, &cache);
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    curl_slist* form =
        curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(e, CURLOPT_URL, r.login.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, form);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.form.c_str());
    curl_easy_perform(e);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_URL, r.command.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &reply);
    curl_easy_perform(e);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &discard);
    curl_easy_setopt(e, CURLOPT_URL, r.logout.c_str());
    curl_easy_perform(e);
    curl_easy_cleanup(e);
    curl_slist_free_all(form);
}

void CurlFloorExchange(benchmark::State& state) {
    if (!Prepare(state)) return;
    FloorRequests requests;
    SessionCache cache;
    std::string reply;
    FloorExchange(requests, cache, reply);
    if (reply.find("\"MC_OK\"") == std::string::npos) {
        state.SkipWithError("the libcurl exchange failed");
        return;
    }
    Measure(state, "floor", [&] {
        reply.clear();
        FloorExchange(requests, cache, reply);
    });
}

// The transport and the floor in turns, each timed on its own, so that both
// see the same load from whatever else the machine runs; the summary's ratio
// comes from here.
void InterleavedExchanges(benchmark::State& state) {
    if (!Prepare(state)) return;
    ProviderSettings settings = LoopbackSettings();
    marl::array::ArrayTransport transport(
        settings,
        marl::harness::RedirectingFactory(
            {static_cast<uint16_t>(Environment::Get().Ports().https), 0}),
        marl::array::CheckLoginReply);
    FloorRequests requests;
    SessionCache cache;
    std::string reply;
    std::vector<double> ours, floor;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        benchmark::DoNotOptimize(transport.SendArrayRequest(L"vol_show", L"", reply));
        Clock::time_point t1 = Clock::now();
        reply.clear();
        FloorExchange(requests, cache, reply);
        Clock::time_point t2 = Clock::now();
        ours.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        floor.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    if (ours.empty()) return;
    Figures t{Median(ours), 0, 0, ours.size()};
    Figures f{Median(floor), 0, 0, floor.size()};
    state.counters["transport_median_us"] = t.medianUs;
    state.counters["floor_median_us"] = f.medianUs;
    state.counters["ratio"] = t.medianUs / f.medianUs;
    AllRuns()["interleaved transport"].push_back(t);
    AllRuns()["interleaved floor"].push_back(f);
}

// ---- the curl program ----

// One curl process: the three requests in one invocation sharing a cookie
// jar; the command's reply goes to `replyFile`, the others nowhere.
std::wstring CurlCommandLine(const fs::path& jar, const fs::path& replyFile) {
    const Environment& env = Environment::Get();
    std::string common = " -s -k -b " + jar.string() + " -c " + jar.string();
    std::string line = std::string(kCurlProgram) + common + " -o /dev/null -d " +
                       marl::array::BuildLoginForm(kUser, kPassword) + " " + env.Url(kLoginPath) +
                       " --next" + common + " -o " + replyFile.string() + " " +
                       env.Url(kCommandPath) + " --next" + common + " -o /dev/null " +
                       env.Url(kLogoutPath);
    return std::wstring(line.begin(), line.end());
}

bool RunCurl(const std::wstring& commandLine) {
    std::wstring writable = commandLine;
    return marl::platform::RunProcessAndWait(writable).started;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void CurlProgramExchange(benchmark::State& state) {
    if (!Prepare(state)) return;
    const fs::path& folder = Environment::Get().Folder();
    fs::path replyFile = folder / "curl_reply";
    std::wstring commandLine = CurlCommandLine(folder / "curl_jar", replyFile);
    if (!RunCurl(commandLine) || ReadFile(replyFile).find("\"MC_OK\"") == std::string::npos) {
        state.SkipWithError("the curl program's exchange failed (is /usr/bin/curl there?)");
        return;
    }
    Measure(
        state, "curl program", [&] { RunCurl(commandLine); }, ChildrenCpuMicros);
}

// ---- TLS handshakes ----

// One connection and one request (the logout, which needs no session) on a
// fresh easy handle: state.range(0) 0 makes a full handshake each time, 1
// resumes the session the previous connection left in the cache.
void TlsHandshake(benchmark::State& state) {
    if (!Prepare(state)) return;
    bool resumed = state.range(0) != 0;
    std::string url = Environment::Get().Url(kLogoutPath);
    SessionCache cache;
    std::string body;
    auto connect = [&] {
        body.clear();
        CURL* e = NewEasy(body, resumed ? &cache : nullptr);
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        CURLcode rc = curl_easy_perform(e);
        curl_easy_cleanup(e);
        return rc;
    };
    if (connect() != CURLE_OK) {
        state.SkipWithError("the TLS connection failed");
        return;
    }
    Measure(state, resumed ? "tls resumed" : "tls full", connect);
}

BENCHMARK(TransportExchange)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(CurlFloorExchange)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(InterleavedExchanges)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(CurlProgramExchange)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(TlsHandshake)
    ->ArgName("resumed")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// ---- summary ----

using FigureMap = std::map<std::string, Figures>;
using marl::bench::Figure;

void PrintFigure(const FigureMap& all, const char* label, const char* key) {
    auto it = all.find(key);
    if (it == all.end()) return marl::bench::PrintNotMeasured(label);
    const Figures& f = it->second;
    Figure figure(label, f.medianUs, "us", 1);
    if (f.clientCpuUs > 0) {
        figure.Context(marl::bench::Format("client CPU %.1f us, simulator CPU %.1f us",
                                           f.clientCpuUs, f.simCpuUs));
    }
    figure.Print();
}

// The ratios of each repetition of a benchmark that records both sides in
// each of its runs (the framework's short trial runs left out).
std::vector<double> RepetitionRatios(const char* top, const char* bottom) {
    const auto& runs = AllRuns();
    auto t = runs.find(top);
    auto b = runs.find(bottom);
    if (t == runs.end() || b == runs.end() || t->second.size() != b->second.size()) return {};
    size_t most = 0;
    for (const Figures& f : t->second) most = std::max(most, f.iterations);
    std::vector<double> ratios;
    for (size_t i = 0; i < t->second.size(); ++i) {
        if (t->second[i].iterations * 2 < most || b->second[i].medianUs <= 0) continue;
        ratios.push_back(t->second[i].medianUs / b->second[i].medianUs);
    }
    return ratios;
}

// Wall time `top` / `bottom`, the client's CPU beside, against `goal` when
// there is one (> 0); with the spread of the repetitions' ratios when the
// two were timed in turns, each repetition recording both.
void PrintRatio(const FigureMap& all, const char* label, const char* top, const char* bottom,
                double goal, bool inTurns = false) {
    auto t = all.find(top);
    auto b = all.find(bottom);
    if (t == all.end() || b == all.end() || b->second.medianUs <= 0)
        return marl::bench::PrintNotMeasured(label);
    Figure figure(label, t->second.medianUs / b->second.medianUs, "x wall", 3);
    if (inTurns) figure.Spread(RepetitionRatios(top, bottom));
    if (b->second.clientCpuUs > 0) {
        figure.Context(
            marl::bench::Format("client CPU %.3fx", t->second.clientCpuUs / b->second.clientCpuUs));
    }
    if (goal > 0) figure.AtMost(goal);
    figure.Print();
}

void PrintSummary() {
    const FigureMap all = AllFigures();
    std::printf("\nExchange over HTTPS on 127.0.0.1 (login, vol_show, logout), per exchange:\n");
    PrintFigure(all, "  SendArrayRequest", "transport");
    PrintFigure(all, "  libcurl, one easy handle (floor)", "floor");
    PrintFigure(all, "  curl program, one process", "curl program");
    PrintRatio(all, "  transport / floor (separate runs)", "transport", "floor", 0);
    PrintFigure(all, "  SendArrayRequest, in turns", "interleaved transport");
    PrintFigure(all, "  floor, in turns", "interleaved floor");
    PrintRatio(all, "  transport / floor (in turns)", "interleaved transport", "interleaved floor",
               1.05, /*inTurns=*/true);
    PrintRatio(all, "  curl program / floor", "curl program", "floor", 0);
    std::printf("TLS connection plus one request:\n");
    PrintFigure(all, "  full handshake", "tls full");
    PrintFigure(all, "  resumed session", "tls resumed");
    PrintRatio(all, "  full / resumed", "tls full", "tls resumed", 0);
}

}  // namespace

int main(int argc, char** argv) { return marl::bench::RunCurlBenchmarks(argc, argv, PrintSummary); }

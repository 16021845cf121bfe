// Reply parsing: ParseVolShow through the envelope against RapidJSON's own
// DOM parse of the same bytes, its growth from 10,000 to 100,000 volumes,
// and the growth of ParseRepVolShow with as many replication entries as
// volumes. Replies are generated here in the shape the array serves.
//
// Goals printed at the end: vol_show at 10,000 volumes <= 2x RapidJSON's DOM
// parse; 100,000 volumes <= 11x 10,000; ParseRepVolShow's growth from
// 10,000/10,000 to 100,000/100,000 <= 1.2x the growth of RapidJSON's DOM
// parse of the same two replication replies. Past a few megabytes both are
// bound by the cache and memory rather than by the code, so the growth of a
// plain parse of the same texts in the same run is the yardstick: a step
// that is not linear in reply and list shows as growth beyond it.
//
// Every benchmark runs twice: with glibc's allocator as it comes, and with
// glibc told to keep freed memory. As it comes, glibc hands the tens of
// megabytes of a 100,000-volume list back to the kernel when the list is
// freed, and the next iteration pays a page fault per 4 KiB to get it back;
// on a virtual machine that fault costs as much as parsing the page. A
// single call of the provider pays that once, whatever the parser; the
// second run shows what the parsing itself costs. (The provider runs on the
// Windows heap, which has neither behaviour of glibc's.)
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "FigureReporter.h"
#include "json/JsonNode.h"
#include "provider/array/ResponseEnvelope.h"
#include "provider/array/ResponseParsers.h"

namespace {

std::string Hex(unsigned value, int width) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(static_cast<size_t>(width), '0');
    for (int i = width - 1; i >= 0 && value; --i, value >>= 4) text[i] = digits[value & 15];
    return text;
}

std::string VolumeName(int i) { return "vol" + std::to_string(100000 + i); }

std::string Envelope(const std::string& request, const std::string& data) {
    return R"({"request":")" + request + R"(","info":"Command executed successfully",)" +
           R"("key":"MC_OK","data":{)" + data + "}}";
}

// Volumes in groups of four, as an inventory of consistency groups would be.
std::string VolShowReply(int volumes) {
    std::string data;
    data.reserve(static_cast<size_t>(volumes) * 200);
    for (int i = 0; i < volumes; ++i) {
        if (i) data += ",";
        data += "\"" + VolumeName(i) + R"(":{"scsi_sn":"6B1A)" + Hex(i, 8) +
                R"(","vss_scsi_sn":"","volume_group":"cg)" + std::to_string(i / 4) +
                R"(","marked_for_deletion":"false","size":"1073741824","pool":"pool0"})";
    }
    return Envelope("vol_show", data);
}

std::string RepVolShowReply(int entries) {
    std::string data;
    data.reserve(static_cast<size_t>(entries) * 120);
    for (int i = 0; i < entries; ++i) {
        if (i) data += ",";
        data += "\"rv" + std::to_string(i) + R"(":{"local_volume":")" + VolumeName(i) +
                R"(","vss_scsi_sn":"7C2B)" + Hex(i, 8) + R"(","remote_volume":"r)" +
                std::to_string(i) + "\"}";
    }
    return Envelope("replication_volume_show", data);
}

// Each reply text is generated once per run and size, so that every
// benchmark of a size parses the same bytes.
const std::string& Cached(std::string (*generate)(int), int count) {
    static std::map<std::pair<std::string (*)(int), int>, std::string> replies;
    auto key = std::make_pair(generate, count);
    auto it = replies.find(key);
    if (it == replies.end()) it = replies.emplace(key, generate(count)).first;
    return it->second;
}

const std::string& CachedVolShow(int volumes) { return Cached(VolShowReply, volumes); }
const std::string& CachedRepVolShow(int entries) { return Cached(RepVolShowReply, entries); }

// What GetAllQLuns does with the reply text, minus the exchange.
void VolShowThroughEnvelope(const std::string& reply, marl::array::LunInfoList& list) {
    marl::json::JsonNode root = marl::json::Parse(reply);
    marl::json::JsonNode data;
    if (ParseResponse(root, data)) std::abort();
    ParseVolShow(data, list);
}

// Second argument 1: glibc keeps freed memory instead of returning it to the
// kernel (see main). It is set once and stays set, so these runs come last.
void ChooseAllocator(const benchmark::State& state) {
#ifdef __GLIBC__
    static bool retaining = false;
    if (state.range(1) == 1 && !retaining) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        retaining = true;
    }
#else
    (void)state;
#endif
}

void RapidJsonDomOf(benchmark::State& state, const std::string& reply) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(reply.data(), reply.size());
        if (document.HasParseError()) std::abort();
        benchmark::DoNotOptimize(document.MemberCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}

void BM_RapidJsonDom(benchmark::State& state) {
    ChooseAllocator(state);
    RapidJsonDomOf(state, CachedVolShow(static_cast<int>(state.range(0))));
}

// The yardstick of ParseRepVolShow: the same replication reply, parsed only.
void BM_RapidJsonRepVolShow(benchmark::State& state) {
    ChooseAllocator(state);
    RapidJsonDomOf(state, CachedRepVolShow(static_cast<int>(state.range(0))));
}

void BM_ParseVolShow(benchmark::State& state) {
    ChooseAllocator(state);
    const std::string& reply = CachedVolShow(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        marl::array::LunInfoList list;
        VolShowThroughEnvelope(reply, list);
        if (list.size() != static_cast<size_t>(state.range(0))) std::abort();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}

void BM_ParseRepVolShow(benchmark::State& state) {
    ChooseAllocator(state);
    const int count = static_cast<int>(state.range(0));
    marl::array::LunInfoList list;
    VolShowThroughEnvelope(CachedVolShow(count), list);
    const std::string& reply = CachedRepVolShow(count);
    for (auto _ : state) {
        marl::json::JsonNode root = marl::json::Parse(reply);
        marl::json::JsonNode data;
        if (ParseResponse(root, data)) std::abort();
        ParseRepVolShow(data, list);
    }
    if (list.back().peerSn.empty()) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}

// Repeated, and judged by the fastest repetition: the figures are taken on
// machines shared with builds and other benchmarks, and interference only
// ever adds time. The fastest and slowest repetitions are computed as
// statistics of their own so that they reach the reporter also when only
// aggregates are reported (bench/run asks for that).
void Sizes(benchmark::internal::Benchmark* b, int allocator) {
    b->Args({10000, allocator})->Args({100000, allocator});
    b->Unit(benchmark::kMillisecond)->Repetitions(5);
    marl::bench::MinMaxStatistics(b);
}
BENCHMARK(BM_RapidJsonDom)->Apply([](auto* b) { Sizes(b, 0); });
BENCHMARK(BM_ParseVolShow)->Apply([](auto* b) { Sizes(b, 0); });
BENCHMARK(BM_RapidJsonRepVolShow)->Apply([](auto* b) { Sizes(b, 0); });
BENCHMARK(BM_ParseRepVolShow)->Apply([](auto* b) { Sizes(b, 0); });
#ifdef __GLIBC__
BENCHMARK(BM_RapidJsonDom)->Apply([](auto* b) { Sizes(b, 1); });
BENCHMARK(BM_ParseVolShow)->Apply([](auto* b) { Sizes(b, 1); });
BENCHMARK(BM_RapidJsonRepVolShow)->Apply([](auto* b) { Sizes(b, 1); });
BENCHMARK(BM_ParseRepVolShow)->Apply([](auto* b) { Sizes(b, 1); });
#endif

using marl::bench::Figure;
using marl::bench::FigureReporter;

// How much slower the slowest repetition of `name` was than its fastest, in
// percent of the fastest (CPU time).
double SpreadPercent(const FigureReporter& r, const std::string& name) {
    const double fast = r.Fastest(name).cpu;
    return fast > 0 ? (r.Slowest(name).cpu / fast - 1) * 100 : 0;
}

// The ratio of the fastest repetitions of `a` and `b` (CPU time) against
// `goal`, with the spread of each side's repetitions.
void PrintRatio(const FigureReporter& r, const char* what, const std::string& a,
                const std::string& b, double goal) {
    const double fastA = r.Fastest(a).cpu, fastB = r.Fastest(b).cpu;
    if (fastA <= 0 || fastB <= 0) return marl::bench::PrintNotMeasured(what);
    Figure(what, fastA / fastB, "x", 2)
        .Context(marl::bench::Format("spread of repetitions %.0f%% / %.0f%%", SpreadPercent(r, a),
                                     SpreadPercent(r, b)))
        .AtMost(goal)
        .Print();
}

// Fastest `large` over fastest `small` of benchmark `name`; 0 when not
// measured.
double Growth(const FigureReporter& r, const std::string& name, const std::string& small,
              const std::string& large) {
    const double s = r.Fastest(name + "/" + small).cpu, l = r.Fastest(name + "/" + large).cpu;
    return s > 0 ? l / s : 0;
}

// How much more `a` grows than `b` from size `small` to size `large`
// (fastest repetitions) against `goal`, each one's growth beside.
void PrintGrowth(const FigureReporter& r, const char* what, const std::string& a,
                 const std::string& b, const std::string& small, const std::string& large,
                 double goal) {
    const double growthA = Growth(r, a, small, large), growthB = Growth(r, b, small, large);
    if (growthA <= 0 || growthB <= 0) return marl::bench::PrintNotMeasured(what);
    Figure(what, growthA / growthB, "x", 2)
        .Context(marl::bench::Format("%.2fx against %.2fx", growthA, growthB))
        .AtMost(goal)
        .Print();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("vol_show reply: %zu bytes for 10,000 volumes, %zu bytes for 100,000\n",
                CachedVolShow(10000).size(), CachedVolShow(100000).size());
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios of the fastest repetitions, CPU time:\n");
    for (const char* allocator : {"0", "1"}) {
        std::printf(allocator[0] == '0' ? "glibc's default allocator:\n"
                                        : "freed memory kept in the process (no page faults "
                                          "from re-obtaining it):\n");
        auto name = [allocator](const char* bench, const char* size) {
            return std::string(bench) + "/" + size + "/" + allocator;
        };
        PrintRatio(reporter, "  ParseVolShow 10,000 / RapidJSON DOM 10,000",
                   name("BM_ParseVolShow", "10000"), name("BM_RapidJsonDom", "10000"), 2);
        PrintRatio(reporter, "  ParseVolShow 100,000 / RapidJSON DOM 100,000",
                   name("BM_ParseVolShow", "100000"), name("BM_RapidJsonDom", "100000"), 2);
        PrintRatio(reporter, "  RapidJSON DOM 100,000 / 10,000 (for context)",
                   name("BM_RapidJsonDom", "100000"), name("BM_RapidJsonDom", "10000"), 11);
        PrintRatio(reporter, "  ParseVolShow 100,000 / 10,000", name("BM_ParseVolShow", "100000"),
                   name("BM_ParseVolShow", "10000"), 11);
        PrintRatio(reporter, "  RapidJSON DOM replication reply 100,000 / 10,000",
                   name("BM_RapidJsonRepVolShow", "100000"),
                   name("BM_RapidJsonRepVolShow", "10000"), 11);
        PrintGrowth(reporter, "  ParseRepVolShow growth / RapidJSON DOM growth",
                    "BM_ParseRepVolShow", "BM_RapidJsonRepVolShow",
                    std::string("10000/") + allocator, std::string("100000/") + allocator, 1.2);
    }
    benchmark::Shutdown();
    return 0;
}

#pragma once
// main() of a benchmark that drives libcurl: curl's global state set up
// around the runs, then the benchmark's summary of figures.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

namespace marl::bench {

template <typename Summary>
int RunCurlBenchmarks(int argc, char** argv, Summary&& printSummary) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    curl_global_cleanup();
    return 0;
}

}  // namespace marl::bench

// The companion as a user runs it, timed from outside: `recover --json`, `recover` with text
// output and `export --all` on generated Android databases. The databases are generated once
// into the cache folder (KESTROW_BENCH_CACHE, default /tmp/kestrow-bench-cache):
//   70 MB, 200,000 messages over 400 partners, one in ten deleted;
//   700 MB, ten times as many (for the growth from 1x to 10x);
//   32 MB, 200,000 live rows over 2,000 partners, nearly every find a copy of a live row;
//   20 MB, 200,000 live rows over 2,000 partners, for the text report and the export.
// Run: build/main/bench/kestrow_bench --benchmark_filter=Companion
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchDatabases.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs the companion with its output thrown away; returns the wall time in seconds.
double RunCompanion(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    std::string program = KESTROW_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(child, &status, 0);
    const auto stop = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double>(stop - start).count();
}

void Report(benchmark::State& state, const fs::path& database)
{
    const double megabytes = static_cast<double>(fs::file_size(database)) / 1e6;
    state.counters["file_MB"] = megabytes;
    // Elapsed time over (iterations x MB / 100): seconds per 100 MB.
    state.counters["s_per_100MB"] = benchmark::Counter(static_cast<double>(state.iterations()) * megabytes / 100.0,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CompanionRecoverJson(benchmark::State& state)
{
    const fs::path database = bench::AndroidDatabase(static_cast<int>(state.range(0)));
    for (auto _ : state) state.SetIterationTime(RunCompanion({"recover", "--json", database.string()}));
    Report(state, database);
}
BENCHMARK(BM_CompanionRecoverJson)->ArgName("x70MB")->Arg(1)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);

void BM_CompanionRecoverJsonRepeats(benchmark::State& state)
{
    const fs::path database = bench::LiveRowsDatabase(32);
    for (auto _ : state) state.SetIterationTime(RunCompanion({"recover", "--json", database.string()}));
    Report(state, database);
}
BENCHMARK(BM_CompanionRecoverJsonRepeats)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_CompanionRecoverText(benchmark::State& state)
{
    const fs::path database = bench::LiveRowsDatabase(20);
    for (auto _ : state) state.SetIterationTime(RunCompanion({"recover", database.string()}));
    Report(state, database);
}
BENCHMARK(BM_CompanionRecoverText)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_CompanionExportAll(benchmark::State& state)
{
    const fs::path database = bench::LiveRowsDatabase(20);
    const fs::path folder = fs::temp_directory_path() / "kestrow-bench-export";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::create_directories(folder);
        state.ResumeTiming();
        state.SetIterationTime(RunCompanion({"export", database.string(), "--to", folder.string(), "--all"}));
    }
    fs::remove_all(folder);
    Report(state, database);
}
BENCHMARK(BM_CompanionExportAll)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

// The companion as a user runs it, timed from outside: `recover --json`, `recover` with text
// output and `export --all` on generated Android databases. The databases are generated once
// into the cache folder (KESTROW_BENCH_CACHE, default /tmp/kestrow-bench-cache):
//   70 MB, 200,000 messages over 400 partners, one in ten deleted;
//   700 MB, ten times as many (for the growth from 1x to 10x);
//   32 MB, 200,000 live rows over 2,000 partners, nearly every find a copy of a live row;
//   20 MB, 200,000 live rows over 2,000 partners, for the text report and the export.
// Run: build/main/bench/kestrow_bench --benchmark_filter=Companion
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchDatabases.h"

namespace {

namespace fs = std::filesystem;

double RunProgram(const std::string& program, const std::vector<std::string>& args)
{
    return bench::RunProgram(program, args).seconds;
}

double RunCompanion(const std::vector<std::string>& args) { return RunProgram(KESTROW_CLI_PATH, args); }

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

// The companion against SQLite's own shell printing the same table in date order, measured
// in one run on the same file: ratios of recover --json and recover --deep --json to the
// shell, and the growth of recover --json from the 1x to the 10x database against linear.
void BM_CompanionAgainstSqliteShell(benchmark::State& state)
{
    const fs::path small = bench::AndroidDatabase(1);
    const fs::path large = bench::AndroidDatabase(10);
    auto shell = [](const fs::path& db) {
        return RunProgram("/usr/bin/sqlite3", {db.string(), "SELECT * FROM sms ORDER BY date"});
    };
    double sqlite = 0, recover = 0, deep = 0, recoverLarge = 0, sqliteLarge = 0;
    for (auto _ : state) {
        const double a = shell(small), b = RunCompanion({"recover", "--json", small.string()});
        const double c = RunCompanion({"recover", "--deep", "--json", small.string()});
        const double d = shell(large), e = RunCompanion({"recover", "--json", large.string()});
        sqlite += a, recover += b, deep += c, sqliteLarge += d, recoverLarge += e;
        state.SetIterationTime(a + b + c + d + e);
    }
    state.counters["recover_x_sqlite"] = recover / sqlite;
    state.counters["deep_x_sqlite"] = deep / sqlite;
    state.counters["recover_x_sqlite_10x"] = recoverLarge / sqliteLarge;
    state.counters["growth_vs_linear"] = (recoverLarge / recover) / (static_cast<double>(fs::file_size(large)) /
                                                                    static_cast<double>(fs::file_size(small)));
}
BENCHMARK(BM_CompanionAgainstSqliteShell)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

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

// Writing a 20,000-message export in each format (text, HTML, CSV, JSON), one file for all and
// one file per conversation, after a deep recovery so that the recovered messages carry where
// they were found. The database is loaded and recovered once; only the export is timed.
// Run: build/main/bench/kestrow_bench --benchmark_filter=Export
#include <benchmark/benchmark.h>

#include <filesystem>
#include <numeric>

#include "BenchDatabases.h"
#include "presentation/ExportWriter.h"
#include "presentation/ReportFacts.h"
#include "readers/CreateReader.h"
#include "recovery/RecoveryRun.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"

namespace {

namespace fs = std::filesystem;

// The store as the window has it before an export: loaded, recovered, with the evidence taken.
const EvidenceFacts& LoadedExportDatabase()
{
    static const EvidenceFacts evidence = [] {
        const fs::path path = bench::ExportDatabase();
        EvidenceFacts facts = TakeEvidenceFacts(path.string(), kDeviceAndroid);
        ReplaceReaderAndLoad(CreateReader(DatabaseName::Android), path.string());
        RunDeepRecoverySteps(path.string());
        return facts;
    }();
    return evidence;
}

void BM_Export20k(benchmark::State& state)
{
    const EvidenceFacts& evidence = LoadedExportDatabase();
    const fs::path folder = fs::temp_directory_path() / "kestrow-bench-report";
    ExportRequest request;
    request.rows.resize(static_cast<std::size_t>(g_store.conversationCount));
    std::iota(request.rows.begin(), request.rows.end(), 0);
    request.format = static_cast<ExportFormat>(state.range(0));
    request.mode = static_cast<ExportMode>(state.range(1));
    request.folder = folder;
    request.databasePath = evidence.databasePath;
    std::int32_t messages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::create_directories(folder);
        state.ResumeTiming();
        // The facts are part of the work: the files are hashed again when the report is written.
        const ReportFacts facts = CompleteReportFacts(evidence, "bench");
        request.facts = &facts;
        const ExportResult result = ExportConversations(request);
        if (!result.error.empty()) state.SkipWithError(result.error.c_str());
        messages = result.messages;
    }
    fs::remove_all(folder);
    state.counters["messages"] = messages;
    state.counters["recovered"] = g_store.currentReader ? g_store.currentReader->m_recoveredCount : 0;
}
// Formats: 0 text, 1 HTML, 2 CSV, 3 JSON; modes: 0 a file per conversation, 1 one file.
BENCHMARK(BM_Export20k)->ArgNames({"format", "single"})->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

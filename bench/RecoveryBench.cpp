// Recovery speed: the varint reader, one carver over a page, whole recovery runs of generated
// databases of about 10 MB and 100 MB, and the merge of 100,000 finds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "BenchDatabases.h"
#include "fixtures/PhoneDb.h"
#include "readers/CreateReader.h"
#include "recovery/Carvers.h"
#include "recovery/FileImage.h"
#include "recovery/Merge.h"
#include "recovery/RecoveryRun.h"
#include "recovery/Varint.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"

namespace {

namespace fs = std::filesystem;

void BM_ReadVarint(benchmark::State& state)
{
    const std::uint8_t bytes[] = {0x00, 0x81, 0x55, 0x09, 0x83, 0x80, 0x01, 0x05, 0x9F, 0x13, 0x08, 0x00};
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (std::size_t at = 0; at < sizeof bytes - 1; at += 1) {
            std::int32_t length = 0, content = 0;
            sum += ReadVarint(bytes + at, &length, &content) + static_cast<std::uint64_t>(length + content);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 11);
}
BENCHMARK(BM_ReadVarint);

// The Android carver at every offset of one 4096-byte page taken from a generated database.
void BM_CarvePage(benchmark::State& state)
{
    const fs::path path = bench::SmallDatabase(false, 10);
    g_store.RestoreProgramStart();
    ReplaceReaderAndLoad(CreateReader(DatabaseName::Android), path.string());
    const FileImage image(path.string());
    const RecordCarver carver(RecordCarver::Kind::Android, g_store);
    const std::uint8_t* page = image.Data() + 40 * 4096;
    for (auto _ : state) {
        int found = 0;
        for (int offset = 0; offset < 4096; ++offset) {
            std::int32_t length = 0;
            found += carver.Carve(length, page + offset, nullptr, image.End()) ? 1 : 0;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_CarvePage);

// A whole recovery run: counting pass, filling pass, merge, sort, attribution.
void BM_RecoveryRun(benchmark::State& state)
{
    const bool iphone = state.range(0) != 0;
    const fs::path path = bench::SmallDatabase(iphone, static_cast<int>(state.range(1)));
    g_store.RestoreProgramStart();
    ReplaceReaderAndLoad(CreateReader(iphone ? DatabaseName::Iphone : DatabaseName::Android), path.string());
    RecoveryRunCounts counts;
    for (auto _ : state) counts = RunRecoverySteps(path.string());
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
    state.counters["finds"] = counts.fillingFound;
    state.counters["recovered"] = g_store.currentReader->m_recoveredCount;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_RecoveryRun)
    ->ArgNames({"iphone", "MB"})
    ->Args({0, 10})->Args({0, 100})->Args({1, 10})->Args({1, 100})
    ->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Merge100k(benchmark::State& state)
{
    g_store.RestoreProgramStart();
    g_store.currentReader = CreateReader(DatabaseName::Android);
    std::mt19937 random(8);
    g_store.liveMessages.resize(100'000);
    g_store.liveMessageCount = 100'000;
    for (int i = 0; i < 100'000; ++i) {
        g_store.liveMessages[i].body = bench::Body(random, i);
        g_store.liveMessages[i].time = 1'300'000'000'000 + i;
    }
    std::vector<MessageRecord> finds(100'000);
    for (int i = 0; i < 100'000; ++i) {
        // Half are copies of live messages, the rest new, with repeats.
        finds[i] = i % 2 ? g_store.liveMessages[i] : g_store.liveMessages[i / 3];
        if (i % 2 == 0) finds[i].time += 7;
    }
    for (auto _ : state) {
        MergeRecovered(*g_store.currentReader, finds);
        SortRecoveredByTime(*g_store.currentReader);
    }
    state.counters["kept"] = g_store.currentReader->m_recoveredCount;
}
BENCHMARK(BM_Merge100k)->Unit(benchmark::kMillisecond);

}  // namespace

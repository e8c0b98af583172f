// One search over 1,000,000 messages (the target: under 0.2 s), plain, ignoring case, and as a
// regular expression.
#include <benchmark/benchmark.h>

#include <random>

#include "BenchDatabases.h"
#include "query/Search.h"
#include "readers/AndroidSms.h"
#include "store/MessageStore.h"

namespace {

constexpr int kMessages = 1'000'000;
constexpr int kPartners = 2'000;

// The store of a phone with a million messages (filled directly: the search reads the store).
void FillStore()
{
    static bool filled = false;
    if (filled && g_store.liveMessageCount == kMessages) return;
    g_store.RestoreProgramStart();
    g_store.currentReader = std::make_unique<CAndroidSms>();
    g_store.conversationCount = kPartners + 1;
    g_store.conversations[0] = {"Ungrouped", 0, 0, 0, "", 1};
    for (int p = 1; p <= kPartners; ++p) {
        g_store.conversations[p] = {"138" + std::to_string(10'000'000 + p), 0, 0, 0, "", 0, p};
    }
    std::mt19937 random(7);
    g_store.liveMessages.resize(kMessages);
    for (int i = 0; i < kMessages; ++i) {
        MessageRecord& m = g_store.liveMessages[static_cast<std::size_t>(i)];
        const int partner = static_cast<int>(random() % kPartners) + 1;
        m.address = g_store.conversations[partner].address;
        m.countedIn = partner;
        m.time = std::int64_t{1'400'000'000'000} + i * std::int64_t{60'000};
        m.body = bench::Body(random, i);
        m.fromMe = static_cast<std::int32_t>(random() % 2);
    }
    g_store.liveMessageCount = kMessages;
    filled = true;
}

void Search(benchmark::State& state, SearchQuery query)
{
    FillStore();
    std::size_t found = 0;
    for (auto _ : state) {
        std::string error;
        found = SearchMessages(query, error).size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["hits"] = static_cast<double>(found);
}

void BM_Search1M(benchmark::State& state)
{
    SearchQuery query;
    query.text = "#424242 ";
    Search(state, query);
}
BENCHMARK(BM_Search1M)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Search1MIgnoringCase(benchmark::State& state)
{
    SearchQuery query;
    query.text = "CAN YOU PICK";
    query.ignoreCase = true;
    Search(state, query);
}
BENCHMARK(BM_Search1MIgnoringCase)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Search1MRegex(benchmark::State& state)
{
    SearchQuery query;
    query.text = "#4242[0-9]{2} ";
    query.regex = true;
    Search(state, query);
}
BENCHMARK(BM_Search1MRegex)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

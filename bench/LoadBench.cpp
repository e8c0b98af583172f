// Loading a large Android database: the whole reader against SQLite's own read of the same
// rows, which is the floor the reader cannot go below.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <random>

#include "fixtures/PhoneDb.h"
#include "readers/AndroidSms.h"
#include "readers/DatabaseOpen.h"
#include "store/MessageStore.h"

namespace {

constexpr int kMessages = 200'000;
constexpr int kPartners = 800;

// Built once per process: 200,000 messages among 800 partners, written in one transaction.
const std::filesystem::path& LargeDatabase()
{
    static fixtures::TempDir folder;
    static const std::filesystem::path path = [] {
        const auto file = folder / "mmssms.db";
        fixtures::PhoneDb db = fixtures::PhoneDb::Android(file);
        std::mt19937 random(42);
        db.Exec("BEGIN");
        for (int p = 0; p < kPartners; ++p) db.AddAndroidAddress("+86138" + std::to_string(10'000'000 + p));
        for (int i = 0; i < kMessages; ++i) {
            const int partner = static_cast<int>(random() % kPartners);
            db.AddAndroidSms({.address = "138" + std::to_string(10'000'000 + partner),
                              .date = std::int64_t{1'400'000'000'000} + static_cast<std::int64_t>(random() % 100'000'000'000),
                              .type = static_cast<std::int64_t>(random() % 2 + 1),
                              .body = "message " + std::to_string(i) + " 晚上一起吃饭吗？ see you at seven 😀"});
        }
        db.Exec("COMMIT");
        return file;
    }();
    return path;
}

void BM_LoadAndroid200k(benchmark::State& state)
{
    const std::string path = LargeDatabase().string();
    for (auto _ : state) {
        g_store.RestoreProgramStart();
        g_store.currentReader = std::make_unique<CAndroidSms>();
        g_store.currentReader->LoadDatabase(path);
        benchmark::DoNotOptimize(g_store.liveMessageCount);
    }
    state.counters["messages"] = g_store.liveMessageCount;
    state.counters["conversations"] = g_store.conversationCount;
}
BENCHMARK(BM_LoadAndroid200k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int CountRow(void* rows, int, char**, char**)
{
    ++*static_cast<int*>(rows);
    return 0;
}

void BM_SqliteReadOnlyFloor(benchmark::State& state)
{
    const std::string path = LargeDatabase().string();
    int rows = 0;
    for (auto _ : state) {
        rows = 0;
        sqlite3* db = nullptr;
        OpenMainFileForReading(path, &db);
        // The reader's own statement, its rows only counted.
        sqlite3_exec(db,
                     "SELECT address, date, type, body, (select count(1) from sms) as c, thread_id, _id "
                     "FROM sms order by date asc;",
                     CountRow, &rows, nullptr);
        sqlite3_close(db);
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SqliteReadOnlyFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

// Loading a large Android database: the whole reader against SQLite's own read of the same
// rows, which is the floor the reader cannot go below.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <random>

#include "fixtures/PhoneDb.h"
#include "readers/AndroidSms.h"
#include "readers/DatabaseOpen.h"
#include "recovery/RecoveryRun.h"
#include "store/MessageStore.h"
#include "store/SqliteKit.h"

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

// The whole Android reader on the database at `path`, once per iteration.
void LoadEachTime(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        g_store.RestoreProgramStart();
        g_store.currentReader = std::make_unique<CAndroidSms>();
        g_store.currentReader->LoadDatabase(path);
        benchmark::DoNotOptimize(g_store.liveMessageCount);
    }
    state.counters["messages"] = g_store.liveMessageCount;
    state.counters["conversations"] = g_store.conversationCount;
}

void BM_LoadAndroid200k(benchmark::State& state) { LoadEachTime(state, LargeDatabase().string()); }
BENCHMARK(BM_LoadAndroid200k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int CountRow(void* rows, int, char**, char**)
{
    ++*static_cast<int*>(rows);
    return 0;
}

// SQLite's own run of `sql` on the database at `path`, its rows only counted.
void SqliteReadEachTime(benchmark::State& state, const std::string& path, const char* sql)
{
    int rows = 0;
    for (auto _ : state) {
        rows = 0;
        SqliteHandle db;
        OpenMainFileForReading(path, db.Out());
        sqlite3_exec(db.Get(), sql, CountRow, &rows, nullptr);
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = rows;
}

void BM_SqliteReadOnlyFloor(benchmark::State& state)
{
    // The reader's own statement.
    SqliteReadEachTime(state, LargeDatabase().string(),
                       "SELECT address, date, type, body, (select count(1) from sms) as c, thread_id, _id "
                       "FROM sms order by date asc;");
}
BENCHMARK(BM_SqliteReadOnlyFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Built once per process: the same 200,000 messages, every fifth one an MMS of three parts
// (the slide layout, a text, a picture) and two addresses, half of them in 100 group threads.
const std::filesystem::path& MixedDatabase()
{
    static fixtures::TempDir folder;
    static const std::filesystem::path path = [] {
        const auto file = folder / "mmssms.db";
        fixtures::PhoneDb db = fixtures::PhoneDb::Android(file);
        db.Exec(fixtures::kAndroidMmsSchema);
        std::mt19937 random(42);
        db.Exec("BEGIN");
        for (int p = 0; p < kPartners; ++p) {
            db.AddAndroidAddress("+86138" + std::to_string(10'000'000 + p));
            db.Run("INSERT INTO threads (_id, recipient_ids) VALUES (?1, ?2)", {std::int64_t{p + 1}, std::to_string(p + 1)});
        }
        for (int g = 0; g < 100; ++g) {
            db.Run("INSERT INTO threads (_id, recipient_ids) VALUES (?1, ?2)",
                   {std::int64_t{kPartners + 1 + g}, std::to_string(g + 1) + " " + std::to_string(g + 2)});
        }
        for (int i = 0; i < kMessages; ++i) {
            const int partner = static_cast<int>(random() % kPartners);
            const std::int64_t date = std::int64_t{1'400'000'000'000} + static_cast<std::int64_t>(random() % 100'000'000'000);
            const std::string body = "message " + std::to_string(i) + " 晚上一起吃饭吗？ see you at seven 😀";
            if (i % 5 != 0) {
                db.AddAndroidSms({.address = "138" + std::to_string(10'000'000 + partner), .date = date,
                                  .type = static_cast<std::int64_t>(random() % 2 + 1), .body = body,
                                  .threadId = partner + 1});
                continue;
            }
            const std::string from = "+86138" + std::to_string(10'000'000 + partner);
            db.AddAndroidMms({.id = i + 1, .threadId = i % 10 == 0 ? kPartners + 1 + partner % 100 : partner + 1,
                              .date = date / 1000, .from = from, .to = {"+8613900000000"}, .texts = {body},
                              .files = {{"image/jpeg", "IMG.jpg", "/data/user_de/0/com.android.providers.telephony/app_parts/PART_" + std::to_string(i)}}});
        }
        db.Exec("COMMIT");
        return file;
    }();
    return path;
}

void BM_LoadAndroidWithMms200k(benchmark::State& state) { LoadEachTime(state, MixedDatabase().string()); }
BENCHMARK(BM_LoadAndroidWithMms200k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// SQLite's own ordered read of the same rows: the messages by date, the MMS with their parts
// and their addresses.
void BM_SqliteReadWithMmsFloor(benchmark::State& state)
{
    SqliteReadEachTime(state, MixedDatabase().string(),
                       "SELECT address, date, type, body, thread_id, _id FROM sms ORDER BY date ASC;"
                       "SELECT p._id, p.thread_id, p.date, p.msg_box, p.m_type, p.sub, p.sub_cs, t.ct, t.name, t.chset, t.cl, "
                       "t.fn, t._data, t.text FROM pdu p JOIN part t ON t.mid = p._id ORDER BY p.date, t.seq;"
                       "SELECT msg_id, address, type, charset FROM addr ORDER BY msg_id;");
}
BENCHMARK(BM_SqliteReadWithMmsFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The deep recovery of the same file: every page carved for records of the message, MMS and
// part tables, and the finds merged (within 1.5x of the floor above).
void BM_DeepRecoveryWithMms200k(benchmark::State& state)
{
    const std::string path = MixedDatabase().string();
    g_store.RestoreProgramStart();
    g_store.currentReader = std::make_unique<CAndroidSms>();
    g_store.currentReader->LoadDatabase(path);
    for (auto _ : state) RunDeepRecoverySteps(path);
    state.counters["recovered"] = g_store.currentReader->m_recoveredCount;
}
BENCHMARK(BM_DeepRecoveryWithMms200k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

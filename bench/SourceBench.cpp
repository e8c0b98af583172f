// Opening what people hold: a 1 GB iPhone backup (its messages database among thousands of
// unrelated files) against opening the same sms.db alone plus reading the backup's
// Manifest.db, which is the floor; and an encrypted backup, whose extra cost is the key
// derivation and the decryption of the files read.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "BenchDatabases.h"
#include "evidence/BackupCrypto.h"
#include "evidence/EvidenceSource.h"
#include "fixtures/Backups.h"
#include "fixtures/PhoneDb.h"
#include "readers/IphoneSms.h"
#include "store/MessageStore.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUnrelatedFiles = 20'000;
constexpr std::int64_t kUnrelatedBytes = std::int64_t{1} << 30;

// The backup of a 20 MB sms.db with 1 GB of other files listed in its Manifest.db (sparse:
// what they hold does not matter, only that opening must not read them). Built once.
fs::path LargeBackup(bool encrypted)
{
    const fs::path folder = bench::CacheFolder() / (encrypted ? "backup-encrypted-1g" : "backup-1g");
    if (fs::exists(folder / "Manifest.plist")) return folder;
    const fs::path database = bench::SmallDatabase(true, 20);
    fixtures::WriteIphoneBackup(database, folder, encrypted ? std::optional<std::string>("bench") : std::nullopt);
    if (encrypted) return folder;  // its Manifest.db is encrypted; the unrelated files matter for the plain one
    sqlite3* db = nullptr;
    sqlite3_open((folder / "Manifest.db").c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kUnrelatedFiles; ++i) {
        char id[41];
        std::snprintf(id, sizeof id, "%040x", i + 1);
        const fs::path file = folder / std::string(id, 2) / id;
        fs::create_directories(file.parent_path());
        std::ofstream(file).close();
        fs::resize_file(file, kUnrelatedBytes / kUnrelatedFiles);
        const std::string sql = std::string("INSERT INTO Files VALUES ('") + id + "', 'CameraRollDomain', 'Media/DCIM/" +
                                std::to_string(i) + ".HEIC', 1, NULL);";
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return folder;
}

void Load(const std::string& path)
{
    g_store.RestoreProgramStart();
    g_store.currentReader = std::make_unique<CIphoneSms>();
    g_store.currentReader->LoadDatabase(path);
}

void BM_OpenPlainBackup1GB(benchmark::State& state)
{
    const std::string folder = LargeBackup(false).string();
    for (auto _ : state) {
        const EvidenceSource source = EvidenceSource::Open(folder);
        Load(source.DatabasePath());
        benchmark::DoNotOptimize(g_store.liveMessageCount);
    }
    state.counters["messages"] = g_store.liveMessageCount;
}
BENCHMARK(BM_OpenPlainBackup1GB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The floor: the same sms.db opened alone, and the backup's Manifest.db read whole.
void BM_OpenItsDatabaseAlonePlusManifest(benchmark::State& state)
{
    const fs::path folder = LargeBackup(false);
    const std::string database = bench::SmallDatabase(true, 20).string();
    for (auto _ : state) {
        std::ifstream manifest(folder / "Manifest.db", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(manifest)), {});
        benchmark::DoNotOptimize(bytes.data());
        Load(database);
    }
}
BENCHMARK(BM_OpenItsDatabaseAlonePlusManifest)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Encrypted (the fixture's small iteration counts: the derivation at a phone's ten million
// iterations is measured on its own below); bytes processed are the decrypted sms.db.
void BM_OpenEncryptedBackup(benchmark::State& state)
{
    const std::string folder = LargeBackup(true).string();
    SourceOptions options;
    options.password = [] { return std::optional<std::string>("bench"); };
    for (auto _ : state) {
        const EvidenceSource source = EvidenceSource::Open(folder, options);
        Load(source.DatabasePath());
        benchmark::DoNotOptimize(g_store.liveMessageCount);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(bench::SmallDatabase(true, 20))));
}
BENCHMARK(BM_OpenEncryptedBackup)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The password's key as iOS 10.2 and later make it: ten million SHA-256 iterations, then ten
// thousand SHA-1 ones.
void BM_DeriveKeyAtPhoneIterations(benchmark::State& state)
{
    Keybag keybag;
    keybag.salt.assign(20, 1);
    keybag.iterations = 10'000;
    keybag.doubleSalt.assign(20, 2);
    keybag.doubleIterations = 10'000'000;
    for (auto _ : state) benchmark::DoNotOptimize(DerivePasswordKey(keybag, "a password"));
}
BENCHMARK(BM_DeriveKeyAtPhoneIterations)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

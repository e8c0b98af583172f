// Generated databases for the benchmarks.
#include "BenchDatabases.h"

#include <cstdlib>
#include <random>
#include <string>

#include "fixtures/PhoneDb.h"

namespace bench {

namespace fs = std::filesystem;

namespace {


// Builds `path` once through a temporary name, so that an interrupted build is never reused.
template <typename Fill>
fs::path Cached(const std::string& folderName, const std::string& fileName, Fill fill)
{
    const fs::path folder = CacheFolder() / folderName;
    const fs::path path = folder / fileName;
    if (fs::exists(path)) return path;
    fs::create_directories(folder);
    const fs::path partial = folder / ("building-" + fileName);
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Android(partial);
        fill(db);
    }
    fs::rename(partial, path);
    return path;
}

// An Android database of `messages` messages over `partners` partners with bodies of about
// `bodyBytes` bytes, deleting the rows whose _id % `deleteEvery` is 3 (none when 0).
void FillAndroid(fixtures::PhoneDb& db, int messages, int partners, std::size_t bodyBytes, int deleteEvery, unsigned seed)
{
    std::mt19937 random(seed);
    db.Exec("BEGIN");
    for (int p = 1; p <= partners; ++p) db.AddAndroidAddress("+86139" + std::to_string(10'000'000 + p));
    for (int i = 0; i < messages; ++i) {
        const int partner = 1 + static_cast<int>(random() % static_cast<unsigned>(partners));
        std::string body = Body(random, i);
        while (body.size() < bodyBytes) body += " " + Body(random, i);
        db.AddAndroidSms({.address = "139" + std::to_string(10'000'000 + partner),
                          .date = std::int64_t{1'300'000'000'000} + i * 60'000LL,
                          .type = static_cast<std::int64_t>(1 + random() % 2), .body = body,
                          .threadId = partner, .id = std::int64_t{1 + i}});
    }
    db.Exec("COMMIT");
    if (deleteEvery > 0) db.Exec("DELETE FROM sms WHERE _id % " + std::to_string(deleteEvery) + " = 3;");
}

}  // namespace

fs::path CacheFolder()
{
    const char* configured = std::getenv("KESTROW_BENCH_CACHE");
    fs::path folder = configured ? configured : "/tmp/kestrow-bench-cache";
    fs::create_directories(folder);
    return folder;
}

std::string Body(std::mt19937& random, int i)
{
    static const char* phrases[] = {"晚上一起吃饭吗？", "Running late, 10 min", "收到，谢谢！",
                                    "Ça va ? On se voit au café.", "生日快乐🎂🎉", "Can you pick up milk?"};
    return std::string(phrases[random() % 6]) + " #" + std::to_string(i) + " " + phrases[random() % 6];
}

// A database of about `megabytes` MB with one message in ten deleted (secure delete off).
fs::path SmallDatabase(bool iphone, int megabytes)
{
    const fs::path folder = CacheFolder() / ((iphone ? "iphone-" : "android-") + std::to_string(megabytes));
    const fs::path path = folder / (iphone ? "sms.db" : "mmssms.db");
    if (fs::exists(path)) return path;
    fs::create_directories(folder);
    const fs::path partial = folder / (iphone ? "building-sms.db" : "building-mmssms.db");
    {
        std::mt19937 random(static_cast<unsigned>(megabytes));
        fixtures::PhoneDb db = iphone ? fixtures::PhoneDb::Iphone(partial) : fixtures::PhoneDb::Android(partial);
        const int messages = megabytes * (iphone ? 5200 : 8000);
        db.Exec("BEGIN");
        for (int p = 1; p <= 400; ++p) {
            if (iphone) {
                db.AddIphoneHandle(p, "+86139" + std::to_string(10'000'000 + p));
            } else {
                db.AddAndroidAddress("+86139" + std::to_string(10'000'000 + p));
            }
        }
        for (int i = 0; i < messages; ++i) {
            const int partner = 1 + static_cast<int>(random() % 400);
            if (iphone) {
                db.AddIphoneMessage({.text = Body(random, i), .handleId = partner,
                                     .date = std::int64_t{400'000'000} + i * 60,
                                     .isFromMe = static_cast<std::int64_t>(random() % 2)});
            } else {
                db.AddAndroidSms({.address = "139" + std::to_string(10'000'000 + partner),
                                  .date = std::int64_t{1'300'000'000'000} + i * 60'000LL,
                                  .type = static_cast<std::int64_t>(1 + random() % 2), .body = Body(random, i),
                                  .threadId = partner});
            }
        }
        db.Exec("COMMIT");
        db.Exec(iphone ? "DELETE FROM message WHERE ROWID % 10 = 3;" : "DELETE FROM sms WHERE _id % 10 = 3;");
    }
    fs::rename(partial, path);
    return path;
}

fs::path AndroidDatabase(int scale)
{
    return Cached("android-70MBx" + std::to_string(scale), "mmssms.db", [scale](fixtures::PhoneDb& db) {
        FillAndroid(db, 200'000 * scale, 400, 300, 10, 70u + static_cast<unsigned>(scale));
    });
}

fs::path LiveRowsDatabase(int megabytes)
{
    // 200,000 rows of header and address take about 12 MB; the bodies fill the rest.
    const std::size_t body = megabytes > 12 ? static_cast<std::size_t>(megabytes - 12) * 1'000'000 / 200'000 : 10;
    return Cached("android-live-" + std::to_string(megabytes) + "MB", "mmssms.db", [body](fixtures::PhoneDb& db) {
        FillAndroid(db, 200'000, 2'000, body, 1'000, 2000u);
    });
}

fs::path ExportDatabase()
{
    return Cached("android-export-22k", "mmssms.db", [](fixtures::PhoneDb& db) {
        FillAndroid(db, 22'000, 200, 60, 10, 22u);
    });
}

}  // namespace bench

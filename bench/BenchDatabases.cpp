// Generated databases for the benchmarks.
#include "BenchDatabases.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "fixtures/PhoneDb.h"

extern char** environ;

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

Run RunProgram(std::string program, const std::vector<std::string>& args)
{
    std::vector<std::string> copies = args;
    std::vector<char*> argv{program.data()};
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    Run run;
    if (posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

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

namespace {

constexpr int kShapePartners = 400;

std::string Number(int partner) { return "+86139" + std::to_string(10'000'000 + partner); }

std::size_t Characters(const std::string& text)
{
    std::size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// A text of at least `characters` characters (not bytes) of the mixed phrases.
std::string TextOf(std::mt19937& random, int i, std::size_t characters)
{
    std::string text = Body(random, i);
    while (Characters(text) < characters) text += " " + Body(random, i);
    return text;
}

// The threads and canonical addresses of the partners, as the provider keeps them.
void AndroidPartners(fixtures::PhoneDb& db)
{
    for (int p = 1; p <= kShapePartners; ++p) {
        db.AddAndroidAddress(Number(p));
        db.Run("INSERT INTO threads (_id, recipient_ids) VALUES (?1, ?2)", {std::int64_t{p}, std::to_string(p)});
    }
}

void AddSms(fixtures::PhoneDb& db, std::mt19937& random, std::int64_t id, std::string body)
{
    const int partner = 1 + static_cast<int>(random() % kShapePartners);
    db.AddAndroidSms({.address = Number(partner), .date = std::int64_t{1'500'000'000'000} + id * 60'000,
                      .type = static_cast<std::int64_t>(1 + random() % 2), .body = std::move(body), .threadId = partner,
                      .id = id});
}

// The partners and `messages` SMS of `shortest` to `shortest + spread - 1` characters, in one
// commit.
void WriteSms(fixtures::PhoneDb& db, int messages, unsigned seed, std::size_t shortest, unsigned spread)
{
    std::mt19937 random(seed);
    AndroidPartners(db);
    db.Exec("BEGIN");
    for (int i = 1; i <= messages; ++i) AddSms(db, random, i, TextOf(random, i, shortest + random() % spread));
    db.Exec("COMMIT");
}

void AndroidShort(fixtures::PhoneDb& db, int messages)
{
    WriteSms(db, messages, 146, 20, 253);
    // A quarter of the messages deleted in one run frees whole pages; one in ten of the rest
    // leaves freed cells on pages still in use.
    db.Exec("DELETE FROM sms WHERE _id > " + std::to_string(messages / 4) + " AND _id <= " + std::to_string(messages / 2));
    db.Exec("DELETE FROM sms WHERE _id % 10 = 3");
}

void AndroidLong(fixtures::PhoneDb& db, int messages)
{
    WriteSms(db, messages, 3500, 500, 3000);
    db.Exec("DELETE FROM sms WHERE _id % 10 = 3");
}

void AndroidMms(fixtures::PhoneDb& db, int messages)
{
    std::mt19937 random(3);
    db.Exec(fixtures::kAndroidMmsSchema);
    AndroidPartners(db);
    db.Exec("BEGIN");
    for (int i = 1; i <= messages; ++i) {
        if (i % 3 != 0) {
            AddSms(db, random, i, TextOf(random, i, 20 + random() % 140));
            continue;
        }
        const int partner = 1 + static_cast<int>(random() % kShapePartners);
        const bool sent = random() % 2 == 0;
        const std::int64_t date = 1'500'000'000 + std::int64_t{i} * 60;
        db.AddAndroidMms({.id = i, .threadId = partner, .date = date, .box = sent ? 2 : 1, .type = sent ? 128 : 132,
                          .from = sent ? "insert-address-token" : Number(partner), .to = {sent ? Number(partner) : "+8613900000000"},
                          .texts = {TextOf(random, i, 20 + random() % 140)},
                          .files = {{"image/jpeg", "IMG_" + std::to_string(i) + ".jpg",
                                     "/data/user_de/0/com.android.providers.telephony/app_parts/PART_" +
                                         std::to_string(date) + ".jpg"}}});
    }
    db.Exec("COMMIT");
    db.Exec("DELETE FROM sms WHERE _id % 10 = 3; DELETE FROM part WHERE mid % 10 = 6; DELETE FROM addr WHERE msg_id % 10 = 6;"
            "DELETE FROM pdu WHERE _id % 10 = 6;");
}

void AddIphone(fixtures::PhoneDb& db, std::mt19937& random, std::int64_t id)
{
    const std::string text = TextOf(random, static_cast<int>(id), 20 + random() % 160);
    const std::int64_t seconds = 500'000'000 + id * 47;
    const std::int64_t handle = 1 + static_cast<std::int64_t>(random() % kShapePartners);
    db.AddIphoneMessage({.text = random() % 2 ? fixtures::Value(text) : fixtures::Value(nullptr),
                         .handleId = handle,
                         .date = seconds * 1'000'000'000 + static_cast<std::int64_t>(random() % 1'000'000'000),
                         .isFromMe = static_cast<std::int64_t>(random() % 2), .id = id,
                         .attributedBody = fixtures::ArchivedAttributedString(text)});
    db.Run("INSERT INTO chat_message_join VALUES (?1, ?2)", {handle, id});
}

void IphoneCurrent(fixtures::PhoneDb& db, int messages, bool log)
{
    std::mt19937 random(84);
    db.Exec(fixtures::kIphoneExtrasSchema);
    for (int h = 1; h <= kShapePartners; ++h) {
        db.AddIphoneHandle(h, Number(h));
        db.Run("INSERT INTO chat (ROWID, guid, style, chat_identifier, service_name) VALUES (?1, ?2, 45, ?3, 'SMS')",
               {std::int64_t{h}, "SMS;-;" + Number(h), Number(h)});
        db.Run("INSERT INTO chat_handle_join VALUES (?1, ?1)", {std::int64_t{h}});
    }
    const int first = log ? messages - 6'000 : messages;  // six commits of a thousand: about 30 MB of log
    db.Exec("BEGIN");
    for (int i = 1; i <= first; ++i) AddIphone(db, random, i);
    db.Exec("COMMIT");
    db.Exec("DELETE FROM message WHERE ROWID % 10 = 3");
    if (!log) return;
    db.Checkpoint();
    // The rest arrive in commits of a thousand, each its own page images in the log, and one
    // in ten of them is deleted again before the log is checkpointed.
    for (int from = first + 1; from <= messages; from += 1000) {
        db.Exec("BEGIN");
        for (int i = from; i < from + 1000 && i <= messages; ++i) AddIphone(db, random, i);
        db.Exec("COMMIT");
    }
    db.Exec("DELETE FROM message WHERE ROWID > " + std::to_string(first) + " AND ROWID % 10 = 7");
}

}  // namespace

const char* ShapeName(Shape shape)
{
    switch (shape) {
    case Shape::AndroidShort: return "android-short";
    case Shape::AndroidLong: return "android-long";
    case Shape::AndroidMms: return "android-mms";
    case Shape::IphoneCurrent: return "iphone-current";
    case Shape::IphoneLog: return "iphone-log";
    }
    return "";
}

bool ShapeIsIphone(Shape shape) { return shape == Shape::IphoneCurrent || shape == Shape::IphoneLog; }

fs::path ShapeDatabase(Shape shape, int scale)
{
    // Built in a folder of its own and renamed when whole, so that an interrupted build (and a
    // log beside the file) is never reused.
    const std::string name = std::string("shape-") + ShapeName(shape) + "-x" + std::to_string(scale);
    const fs::path folder = CacheFolder() / name;
    const fs::path file = folder / (ShapeIsIphone(shape) ? "sms.db" : "mmssms.db");
    if (fs::exists(file)) return file;
    const fs::path partial = CacheFolder() / (name + ".building");
    fs::remove_all(partial);
    fs::create_directories(partial);
    {
        const fs::path path = partial / file.filename();
        const bool log = shape == Shape::IphoneLog;
        fixtures::PhoneDb db = ShapeIsIphone(shape) ? fixtures::PhoneDb::IphoneCurrent(path, {.writeAheadLog = log})
                                                    : fixtures::PhoneDb::Android(path);
        if (!log) db.Exec("PRAGMA journal_mode=DELETE");
        switch (shape) {
        case Shape::AndroidShort: AndroidShort(db, 200'000 * scale); break;
        case Shape::AndroidLong: AndroidLong(db, 25'000 * scale); break;
        case Shape::AndroidMms: AndroidMms(db, 200'000 * scale); break;
        case Shape::IphoneCurrent: IphoneCurrent(db, 200'000 * scale, false); break;
        case Shape::IphoneLog: IphoneCurrent(db, 200'000 * scale, true); break;
        }
        if (log) db.CloseKeepingLog();
    }
    fs::remove(partial / (file.filename().string() + "-shm"));
    fs::remove_all(folder);
    fs::rename(partial, folder);
    return file;
}

}  // namespace bench

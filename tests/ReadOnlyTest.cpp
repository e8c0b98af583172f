// Opening a database and recovering from it never change a byte on disk and create or delete
// no file beside it, whatever journal or log the copy came with.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "StoreHelpers.h"
#include "contacts/NameMatching.h"
#include "evidence/EvidenceSource.h"
#include "fixtures/Backups.h"
#include "presentation/Texts.h"
#include "readers/DatabaseOpen.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"

namespace {

using fixtures::AndroidSms;
using fixtures::IphoneMessage;
using fixtures::PhoneDb;
using fixtures::PhoneDbOptions;

struct ReadOnlyCase {
    const char* name;
    const char* fileName;
    bool writeAheadLog;
    bool keepLog;
    char lastMessage;  // which message the load must find last ('0' to '2')

    friend void PrintTo(const ReadOnlyCase& c, std::ostream* out) { *out << c.name; }
};

class ReadOnlyTest : public FreshStore, public ::testing::WithParamInterface<ReadOnlyCase> {};

// Builds a database with two messages, the second one deleted after a checkpoint, and a
// third message committed last (left in the log when the log is kept).
void Build(const std::filesystem::path& path, const ReadOnlyCase& c)
{
    const PhoneDbOptions options{.writeAheadLog = c.writeAheadLog};
    const bool android = std::string(c.fileName) == "mmssms.db";
    PhoneDb db = android ? PhoneDb::Android(path, options) : PhoneDb::Iphone(path, options);
    const std::string padding(300, 'x');
    for (int i = 0; i < 3; ++i) {
        const std::string body = "message " + std::to_string(i) + " " + padding;
        if (android) {
            db.AddAndroidAddress("555000" + std::to_string(i));
            db.AddAndroidSms({.address = "555000" + std::to_string(i),
                              .date = std::int64_t{1'439'532'000'000} + i, .body = body, .id = 1000 + i});
        } else {
            db.AddIphoneHandle(i + 1, "555000" + std::to_string(i));
            db.AddIphoneMessage({.text = body, .handleId = i + 1, .date = std::int64_t{461'000'000} + i,
                                 .id = 1000 + i});
        }
        if (i == 1) {
            if (c.writeAheadLog) db.Checkpoint();
            db.Exec(android ? "DELETE FROM sms WHERE _id = 1001;" : "DELETE FROM message WHERE ROWID = 1001;");
        }
    }
    if (c.keepLog) {
        db.CloseKeepingLog();
    } else {
        if (c.writeAheadLog) db.Checkpoint();
        db.Close();
    }
}

TEST_P(ReadOnlyTest, LoadingChangesNoFile)
{
    const ReadOnlyCase& c = GetParam();
    const auto path = m_dir / c.fileName;
    Build(path, c);
    if (c.keepLog) {
        // A copy taken from a running phone has the log and its index file.
        ASSERT_TRUE(std::filesystem::exists(path.string() + "-wal"));
        ASSERT_TRUE(std::filesystem::exists(path.string() + "-shm"));
    }
    const auto before = fixtures::SnapshotFolder(m_dir.Path());

    ASSERT_EQ(OpenDatabaseFile(path.string()).problem, OpenProblem::None);
    ASSERT_EQ(g_store.liveMessageCount, 2);
    EXPECT_EQ(g_store.liveMessages[1].body[8], c.lastMessage);
    RunRecoverySteps(path.string());  // a recovery run only reads
    // A second opening, as after reopening, must not change anything either.
    EXPECT_NE(OpenDatabaseFile(path.string()).outcome, OpenOutcome::WrongFile);
    const auto after = fixtures::SnapshotFolder(m_dir.Path());
    ASSERT_EQ(after.size(), before.size()) << "a file was created or deleted";
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].first, before[i].first);
        EXPECT_TRUE(after[i].second == before[i].second) << after[i].first << " changed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryJournalKind, ReadOnlyTest,
    ::testing::Values(
        ReadOnlyCase{"AndroidRollback", "mmssms.db", false, false, '2'},
        ReadOnlyCase{"AndroidLogKept", "mmssms.db", true, true, '2'},
        ReadOnlyCase{"AndroidLogCheckpointed", "mmssms.db", true, false, '2'},
        ReadOnlyCase{"IphoneRollback", "sms.db", false, false, '2'},
        ReadOnlyCase{"IphoneLogKept", "sms.db", true, true, '2'},
        ReadOnlyCase{"IphoneLogCheckpointed", "sms.db", true, false, '2'}),
    [](const auto& info) { return std::string(info.param.name); });

// A copy taken in the middle of a write has a hot rollback journal. SQLite would roll it back
// into the database on the next read-write open; the reader must leave both files alone.
TEST_F(FreshStore, AHotJournalIsNeverRolledBack)
{
    const auto source = m_dir / "source";
    const auto copy = m_dir / "copy";
    std::filesystem::create_directories(source);
    std::filesystem::create_directories(copy);
    PhoneDb db = PhoneDb::Iphone(source / "sms.db");
    db.AddIphoneHandle(1, "5550001");
    db.AddIphoneMessage({.text = "committed", .handleId = 1, .date = std::int64_t{461'000'000}});
    // A tiny cache forces the open transaction to spill changed pages into the database file.
    db.Exec("PRAGMA cache_size=2; BEGIN;");
    for (int i = 0; i < 200; ++i) {
        db.AddIphoneMessage({.text = std::string(2000, 'y'), .handleId = 1, .date = std::int64_t{462'000'000} + i});
    }
    ASSERT_TRUE(std::filesystem::exists(source / "sms.db-journal"));
    for (const char* name : {"sms.db", "sms.db-journal"}) {
        std::filesystem::copy_file(source / name, copy / name);
    }
    db.Exec("ROLLBACK;");
    db.Close();

    const auto before = fixtures::SnapshotFolder(copy);
    Load(copy / "sms.db");
    EXPECT_TRUE(fixtures::SnapshotFolder(copy) == before);
}

namespace fs = std::filesystem;

// Runs `work` in a child process, as the user nobody when the suite runs as root (as in CI),
// and returns what it returned.
std::string AsOrdinaryUser(const std::function<std::string()>& work)
{
    int channel[2];
    if (::pipe(channel) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::string out = "could not drop to nobody";
        if (::getuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0)) out = work();
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(channel[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string result;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

// What a load and both recoveries of `path` give, as one text: live bodies, default finds,
// deep finds, warnings.
std::string LoadAndRecover(const fs::path& path)
{
    g_store.RestoreProgramStart();
    std::string out;
    auto bodies = [](const std::vector<MessageRecord>& list, std::size_t count) {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < count && i < list.size(); ++i) texts.push_back(list[i].body.substr(0, 12));
        std::sort(texts.begin(), texts.end());
        std::string joined;
        for (const auto& t : texts) joined += t + ";";
        return joined;
    };
    if (OpenDatabaseFile(path.string()).outcome == OpenOutcome::WrongFile) return "not opened";
    out += "live " + bodies(g_store.liveMessages, static_cast<std::size_t>(g_store.liveMessageCount)) + "\n";
    for (const LoadWarning& warning : g_store.currentReader->m_loadWarnings) out += "warning " + LoadWarningSentence(warning) + "\n";
    RunRecoverySteps(path.string());
    out += "default " + bodies(g_store.currentReader->m_recovered, g_store.currentReader->m_recovered.size()) + "\n";
    RunDeepRecoverySteps(path.string());
    out += "deep " + bodies(g_store.currentReader->m_recovered, g_store.currentReader->m_recovered.size()) + "\n";
    return out;
}

// A database in log mode whose log holds deletions since the last checkpoint and the newest
// messages, as a copy of a running phone has.
void BuildWithLog(const fs::path& path, bool android)
{
    PhoneDb db = android ? PhoneDb::Android(path, {.writeAheadLog = true}) : PhoneDb::Iphone(path, {.writeAheadLog = true});
    if (android) db.AddAndroidAddress("5550001"); else db.AddIphoneHandle(1, "5550001");
    auto add = [&](int i) {
        const std::string body = "message " + std::to_string(100 + i) + " " + std::string(200, 'x');
        if (android) {
            db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'439'532'000'000} + i * 1000, .body = body, .id = 1 + i});
        } else {
            db.AddIphoneMessage({.text = body, .handleId = 1, .date = std::int64_t{461'000'000} + i, .id = 1 + i});
        }
    };
    for (int i = 0; i < 20; ++i) add(i);
    // An MMS (Android) or a text set aside in "Recently Deleted" (iPhone), deleted in the log.
    db.Exec(android ? fixtures::kAndroidMmsSchema : fixtures::kIphoneExtrasSchema);
    if (android) {
        db.AddAndroidMms({.id = 1, .date = std::int64_t{1'439'532'100}, .from = "5550001", .texts = {"picture mms text"}});
    } else {
        db.Run("INSERT INTO recoverable_message_part VALUES (1, 40, 0, ?1, ?2, 0)",
               {std::int64_t{461'000'100} * 1'000'000'000, fixtures::ArchivedAttributedString("set aside text")});
    }
    db.Checkpoint();
    db.Exec(android ? "DELETE FROM sms WHERE _id IN (3, 7, 12); DELETE FROM part; DELETE FROM pdu;"
                    : "DELETE FROM message WHERE ROWID IN (3, 7, 12); DELETE FROM recoverable_message_part;");
    for (int i = 20; i < 25; ++i) add(i);
    db.CloseKeepingLog();
}

class ReadOnlyCopyTest : public FreshStore, public ::testing::WithParamInterface<bool> {
protected:
    // The same database twice: writable, and as a 0444 copy in a 0555 folder.
    void SetUp() override
    {
        FreshStore::SetUp();
        fs::permissions(m_dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        const char* name = GetParam() ? "mmssms.db" : "sms.db";
        fs::create_directories(m_dir / "writable");
        fs::create_directories(m_dir / "locked");
        m_writable = m_dir / "writable" / name;
        m_locked = m_dir / "locked" / name;
        BuildWithLog(m_writable, GetParam());
        for (const std::string suffix : {"", "-wal"}) {
            fs::copy_file(m_writable.string() + suffix, m_locked.string() + suffix);
            fs::permissions(m_locked.string() + suffix, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        }
        fs::permissions(m_dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    }
    void TearDown() override
    {
        fs::permissions(m_dir / "locked", fs::perms::owner_all);
        FreshStore::TearDown();
    }
    fs::path m_writable, m_locked;
};

// A header whose page size field is damaged is mended in memory for an ordinary user reading a
// write-protected copy too: the same live rows, warning and finds as the owner's, nothing written.
TEST_P(ReadOnlyCopyTest, ADamagedHeaderIsMendedForAnOrdinaryUser)
{
    const fs::path checkpointed = m_dir / "whole" / m_writable.filename();
    fs::create_directories(checkpointed.parent_path());
    {
        PhoneDb db = GetParam() ? PhoneDb::Android(checkpointed) : PhoneDb::Iphone(checkpointed);
        db.Exec("ATTACH '" + m_writable.string() + "' AS old;");
        for (const char* table : {"sms", "canonical_addresses", "message", "handle"}) {
            try {
                db.Exec(std::string("INSERT INTO main.") + table + " SELECT * FROM old." + table + ";");
            } catch (const std::runtime_error&) {  // a table of the other phone
            }
        }
    }
    std::fstream(checkpointed, std::ios::in | std::ios::out | std::ios::binary).seekp(16).write("\x03\x00", 2);  // 768
    fs::permissions(checkpointed, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(checkpointed.parent_path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const auto before = fixtures::SnapshotFolder(checkpointed.parent_path());
    const std::string expected = LoadAndRecover(checkpointed);
    EXPECT_NE(expected.find("message 124"), std::string::npos) << expected;
    EXPECT_NE(expected.find("page size field holds 768"), std::string::npos) << expected;
    EXPECT_EQ(AsOrdinaryUser([&] { return LoadAndRecover(checkpointed); }), expected);
    EXPECT_TRUE(fixtures::SnapshotFolder(checkpointed.parent_path()) == before);
    fs::permissions(checkpointed.parent_path(), fs::perms::owner_all);
}

// An ordinary user reading a write-protected copy sees what the owner of a writable one sees:
// the log's newest messages, no message deleted since the checkpoint, the same finds.
TEST_P(ReadOnlyCopyTest, AnOrdinaryUserSeesTheLogApplied)
{
    const std::string expected = LoadAndRecover(m_writable);
    EXPECT_NE(expected.find("message 124"), std::string::npos) << expected;
    // The deep recovery reads the part tables the load found, for the ordinary user too.
    EXPECT_NE(expected.find(GetParam() ? ";picture mms " : ";set aside te"), std::string::npos) << expected;
    EXPECT_EQ(expected.find("warning"), std::string::npos) << expected;
    const std::string live = expected.substr(0, expected.find('\n'));
    EXPECT_EQ(live.find("message 106"), std::string::npos) << "a message deleted in the log shows as live";
    const auto before = fixtures::SnapshotFolder(m_dir / "locked");
    EXPECT_EQ(AsOrdinaryUser([&] { return LoadAndRecover(m_locked); }), expected);
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir / "locked") == before);
    // A persisted journal (zeroed header) left from before the switch to the log names no
    // transaction: the log still counts.
    std::ofstream(m_writable.string() + "-journal", std::ios::binary) << std::string(512, '\0');
    EXPECT_EQ(LoadAndRecover(m_writable).substr(0, expected.find('\n')), expected.substr(0, expected.find('\n')));
}

// Too large for memory: a private copy is read; where no copy can be made either, the main
// file alone is read and a warning names the log.
TEST_P(ReadOnlyCopyTest, WithoutMemoryAPrivateCopyThenAWarning)
{
    const std::string result = AsOrdinaryUser([&] {
        std::string out;
        auto rows = [](sqlite3* db) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(db, GetParam() ? "SELECT count(*) FROM sms" : "SELECT count(*) FROM message", -1,
                               &statement, nullptr);
            const int count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
            sqlite3_finalize(statement);
            return std::to_string(count);
        };
        {
            sqlite3* db = nullptr;
            DatabaseReading reading(m_locked.string(), db, DatabaseReading::LogPolicy::InMemoryWhereItFits, 1);
            out += (reading.How() == OpenedAs::PrivateCopy ? "copy " : "not a copy ") + rows(db) + "\n";
        }
        ::setenv("TMPDIR", "/nonexistent/kestrow", 1);
        sqlite3* db = nullptr;
        DatabaseReading reading(m_locked.string(), db, DatabaseReading::LogPolicy::InMemoryWhereItFits, 1);
        out += (reading.How() == OpenedAs::MainFileOnly ? "main " : "not main ") + rows(db) + "\n";
        for (const LoadWarning& warning : reading.Warnings()) out += LoadWarningSentence(warning) + "\n";
        return out;
    });
    EXPECT_EQ(result.substr(0, result.find("-wal")),
              "copy 22\nmain 20\nThe log " + m_locked.string());
    EXPECT_NE(result.find("results show the main file only"), std::string::npos) << result;
}

// A table large enough to be read on two connections at once, both on the image in memory.
TEST_F(FreshStore, ALargeLogImageIsReadOnTwoConnections)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path, {.writeAheadLog = true});
        db.AddAndroidAddress("5550001");
        db.Exec("BEGIN");
        for (int i = 0; i < 30'000; ++i) {
            db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'000'000} + i, .body = "m" + std::to_string(i),
                              .id = 1 + i});
            if (i == 19'999) db.Exec("COMMIT; BEGIN");
        }
        db.Exec("COMMIT");
        db.Checkpoint();
        db.Exec("UPDATE sms SET body = 'changed' WHERE _id % 1000 = 0; DELETE FROM sms WHERE _id % 1000 = 1;");
        db.CloseKeepingLog();
    }
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 30'000 - 30);
    // Rows 1 and 1001 deleted in the log, row 1000 changed there ("m" + its id less one).
    EXPECT_EQ(g_store.liveMessages[997].body, "m998");
    EXPECT_EQ(g_store.liveMessages[998].body, "changed");
    EXPECT_EQ(g_store.liveMessages[999].body, "m1001");
    for (std::int32_t i = 1; i < g_store.liveMessageCount; ++i) {
        ASSERT_LT(g_store.liveMessages[i - 1].time, g_store.liveMessages[i].time);
    }
}

INSTANTIATE_TEST_SUITE_P(BothPhones, ReadOnlyCopyTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Android" : "Iphone"); });

}  // namespace

namespace {

// Makes every file under `root` 0444 and every folder 0555, as a write-protected copy.
void WriteProtect(const fs::path& root)
{
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_symlink()) continue;
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0555) : fs::perms(0444));
    }
    fs::permissions(root, fs::perms(0555));
}

// What an encrypted backup and an extraction archive give: the live bodies, the names of the
// conversations, an attachment's bytes.
std::string OpenSources(const fs::path& backup, const fs::path& archive)
{
    std::string out;
    SourceOptions options;
    options.password = [] { return std::optional<std::string>("pw"); };
    for (const fs::path& path : {backup, archive}) {
        EvidenceSource source = EvidenceSource::Open(path.string(), options);
        if (!source.Error().empty()) return source.Error();
        g_store.RestoreProgramStart();
        if (OpenDatabaseFile(source.DatabasePath()).outcome == OpenOutcome::WrongFile) return "not opened";
        for (std::int32_t i = 0; i < g_store.liveMessageCount; ++i) out += g_store.liveMessages[i].body + ";";
        out += " names " + std::to_string(NameFromContacts(source.ContactsPath()).named) + ";";
        for (const char* phonePath : {"~/Library/SMS/Attachments/00/00/G/a.txt",
                                      "/data/user/0/com.android.providers.telephony/app_parts/PART_1_a.txt"}) {
            if (const auto file = source.AttachmentFile(phonePath)) {
                std::ifstream in(*file);
                out += " attachment " + std::string(std::istreambuf_iterator<char>(in), {});
            }
        }
        out += "\n";
    }
    return out;
}

}  // namespace

using ReadOnlySourceTest = FreshStore;

// Sources as examiners hold them, write-protected and read by an ordinary user: the same
// messages, names and attachments as their owner gets, and nothing in them changed.
TEST_F(ReadOnlySourceTest, AnOrdinaryUserReadsWriteProtectedBackupsAndArchives)
{
    fs::permissions(m_dir.Path(), fs::perms(0755));
    const fs::path work = m_dir / "work", held = m_dir / "held";
    fs::create_directories(work);
    {
        PhoneDb db = PhoneDb::Iphone(work / "sms.db", {.writeAheadLog = true});
        db.AddIphoneHandle(1, "+8613812345678");
        db.AddIphoneMessage({.text = "in the log", .handleId = 1, .date = std::int64_t{700'000'000}});
        db.CloseKeepingLog();
    }
    fixtures::WriteIphoneAddressBook(work / "AddressBook.sqlitedb", {{"Li Wei", {"138 1234 5678"}, {}}});
    fixtures::WriteIphoneBackup(work / "sms.db", held / "backup", "pw", fixtures::BackupDamage::None,
                                {.addressBook = work / "AddressBook.sqlitedb",
                                 .attachments = {{"Library/SMS/Attachments/00/00/G/a.txt", "attached"}}});
    fixtures::WriteAndroidContacts(work / "contacts2.db", {{"Li Wei", {"+86 138 1234 5678"}, {}}});
    {
        PhoneDb db = PhoneDb::Android(work / "mmssms.db");
        db.AddAndroidAddress("13812345678");
        db.AddAndroidSms({.address = "13812345678", .date = std::int64_t{1'600'000'000'000}, .body = "archived"});
    }
    std::vector<fixtures::ArchiveMember> members;
    for (const char* name : {"mmssms.db", "contacts2.db"}) {
        std::ifstream in(work / name, std::ios::binary);
        const std::string package = std::string(name) == "mmssms.db" ? "telephony" : "contacts";
        members.push_back({"data/user/0/com.android.providers." + package + "/databases/" + name,
                           std::string(std::istreambuf_iterator<char>(in), {})});
    }
    members.push_back({"data/user/0/com.android.providers.telephony/app_parts/PART_1_a.txt", "part"});
    fixtures::WriteArchive(held / "extraction.tgz", members);
    const std::string expected = OpenSources(held / "backup", held / "extraction.tgz");
    EXPECT_EQ(expected, "in the log; names 1; attachment attached\narchived; names 1; attachment part\n");
    WriteProtect(held);
    const auto before = fixtures::SnapshotFolder(held);
    EXPECT_EQ(AsOrdinaryUser([&] { return OpenSources(held / "backup", held / "extraction.tgz"); }), expected);
    EXPECT_TRUE(fixtures::SnapshotFolder(held) == before);
}

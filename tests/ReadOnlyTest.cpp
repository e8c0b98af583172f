// Opening a database and recovering from it never change a byte on disk and create or delete
// no file beside it, whatever journal or log the copy came with.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "StoreHelpers.h"
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

}  // namespace

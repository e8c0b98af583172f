// Deleted messages from fixture databases come back with their texts, times, directions and
// conversations, from the main file and from a write-ahead log; live messages never do.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <fstream>
#include <set>

#include "StoreHelpers.h"
#include "presentation/Texts.h"
#include "readers/AndroidSms.h"
#include "recovery/RecoveryRun.h"

namespace {

using fixtures::PhoneDb;
using fixtures::Value;

constexpr std::int64_t kAndroidBase = 1'439'532'000'000;
constexpr std::int64_t kIphoneBase = 461'000'000;

std::string BodyOf(int i) { return "message " + std::to_string(i) + " 晚上一起吃饭吗？ see you at seven 😀"; }

std::set<std::string> RecoveredBodies()
{
    std::set<std::string> bodies;
    const CSms& reader = *g_store.currentReader;
    for (std::int32_t i = 0; i < reader.m_recoveredCount; ++i) bodies.insert(reader.m_recovered[i].body);
    return bodies;
}

void ExpectNoLiveMessageRecovered()
{
    std::set<std::string> live;
    for (std::int32_t i = 0; i < g_store.liveMessageCount; ++i) live.insert(g_store.liveMessages[i].body);
    for (const std::string& body : RecoveredBodies()) EXPECT_FALSE(live.contains(body)) << body;
}

const MessageRecord* Recovered(const std::string& body)
{
    const CSms& reader = *g_store.currentReader;
    for (std::int32_t i = 0; i < reader.m_recoveredCount; ++i) {
        if (reader.m_recovered[i].body == body) return &reader.m_recovered[i];
    }
    return nullptr;
}

using RecoveryEndToEnd = FreshStore;

// Sixty messages to four partners, five of them deleted again.
void WriteSixtyWithFiveDeleted(const std::filesystem::path& path)
{
    PhoneDb db = PhoneDb::Android(path);
    db.Exec("BEGIN");
    for (int p = 0; p < 4; ++p) db.AddAndroidAddress("+86138000000" + std::to_string(10 + p));
    for (int i = 0; i < 60; ++i) {
        db.AddAndroidSms({.address = "138000000" + std::to_string(10 + i % 4), .date = kAndroidBase + i * 1000,
                          .type = std::int64_t{i % 3 == 0 ? 2 : 1}, .body = BodyOf(i),
                          .threadId = 1 + i % 4, .id = std::int64_t{1000 + i}});
    }
    db.Exec("COMMIT");
    db.Exec("DELETE FROM sms WHERE _id IN (1003, 1010, 1021, 1034, 1047);");
}

// Live rows whose own cells would fail a fragment's checks (a long text cut at its page's end
// mid-character, a control character) are live rows, not fragments left out.
TEST_F(RecoveryEndToEnd, LiveCellsAreNeverCountedAsFragments)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("5550001");
        std::string cut(2000, 'x');
        for (int i = 0; i < 3000; ++i) cut += "\xE4\xB8\xAD";  // three-byte characters across the page's end
        db.AddAndroidSms({.address = "5550001", .date = kAndroidBase, .body = cut, .id = std::int64_t{1}});
        db.AddAndroidSms({.address = "5550001", .date = kAndroidBase + 1000, .body = "bell\x07", .id = std::int64_t{2}});
    }
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 2);
    RunRecoverySteps(path.string());
    EXPECT_EQ(g_store.currentReader->m_lastScan.discarded, 0);
    EXPECT_EQ(g_store.currentReader->m_recoveredCount, 0);
}

// A file whose live rows no reader can read (its table lacks a column the reader asks for) still
// has them in cells in use: they are never finds. A header whose page size field is damaged is
// mended in memory from the page count, with a warning, and the live rows read as live.
TEST_F(RecoveryEndToEnd, LiveRowsThatCannotBeReadAreNoFinds)
{
    const std::set<std::string> deleted{BodyOf(3), BodyOf(10), BodyOf(21), BodyOf(34), BodyOf(47)};
    const auto renamed = m_dir / "renamed" / "mmssms.db";
    std::filesystem::create_directories(renamed.parent_path());
    WriteSixtyWithFiveDeleted(renamed);
    {
        PhoneDb db = PhoneDb::Android(renamed);
        db.Exec("ALTER TABLE sms RENAME COLUMN type TO kind;");
    }
    const auto damaged = m_dir / "damaged" / "mmssms.db";
    std::filesystem::create_directories(damaged.parent_path());
    WriteSixtyWithFiveDeleted(damaged);
    {
        std::fstream header(damaged, std::ios::in | std::ios::out | std::ios::binary);
        header.seekp(16);
        header.write("\0\0", 2);  // a page size of 0
    }
    const auto reserved = m_dir / "reserved" / "mmssms.db";  // 32 bytes reserved that the pages use
    std::filesystem::create_directories(reserved.parent_path());
    WriteSixtyWithFiveDeleted(reserved);
    {
        std::fstream header(reserved, std::ios::in | std::ios::out | std::ios::binary);
        header.seekp(20);
        header.write("\x20", 1);
    }
    const auto before = fixtures::SnapshotFolder(damaged.parent_path());
    for (const auto& path : {renamed, damaged, reserved}) {
        Load(path);
        const std::vector<LoadWarning>& warnings = g_store.currentReader->m_loadWarnings;
        if (path != renamed) {
            EXPECT_EQ(g_store.liveMessageCount, 55);
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].kind, LoadWarning::Kind::HeaderMended);
            EXPECT_EQ(warnings[0].reason, path == damaged ? "its page size field holds 0; its 8 pages are of 4096 bytes"
                                                          : "its reserved space field holds 32; its first page has cells in "
                                                            "that space, so none is reserved");
        } else {
            EXPECT_EQ(g_store.liveMessageCount, 0);
        }
        RunRecoverySteps(path.string());
        const std::set<std::string> found = RecoveredBodies();
        EXPECT_TRUE(std::includes(deleted.begin(), deleted.end(), found.begin(), found.end())) << path << ": " << found.size();
        g_store.RestoreProgramStart();
    }
    EXPECT_TRUE(fixtures::SnapshotFolder(damaged.parent_path()) == before) << "the damaged file changed";
}

TEST_F(RecoveryEndToEnd, AndroidMessagesDeletedFromTheMainFile)
{
    const auto path = m_dir / "mmssms.db";
    WriteSixtyWithFiveDeleted(path);
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 55);
    const RecoveryRunCounts counts = RunRecoverySteps(path.string());
    EXPECT_EQ(counts.countingFound, counts.fillingFound);
    EXPECT_EQ(RecoveredBodies(), (std::set<std::string>{BodyOf(3), BodyOf(10), BodyOf(21), BodyOf(34), BodyOf(47)}));
    ExpectNoLiveMessageRecovered();

    const MessageRecord* sent = Recovered(BodyOf(21));
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->time, kAndroidBase + 21'000);
    EXPECT_EQ(sent->fromMe, 1);
    EXPECT_EQ(sent->address, "13800000011");  // "+86" removed
    EXPECT_EQ(sent->unassignedFlag, 0);
    EXPECT_EQ(Recovered(BodyOf(10))->fromMe, 0);
    // Recovered messages sorted by time, counted in their conversations.
    const CSms& reader = *g_store.currentReader;
    for (std::int32_t i = 1; i < reader.m_recoveredCount; ++i) {
        EXPECT_LE(reader.m_recovered[i - 1].time, reader.m_recovered[i].time);
    }
    int total = 0;
    for (int i = 0; i < g_store.conversationCount; ++i) total += g_store.conversations[i].recoveredCount;
    EXPECT_EQ(total, 5);
    EXPECT_EQ(g_store.conversations[FindConversation("13800000011")].recoveredCount, 1);  // 21
    EXPECT_EQ(g_store.conversations[FindConversation("13800000012")].recoveredCount, 2);  // 10, 34
}

TEST_F(RecoveryEndToEnd, AndroidMessagesThatLivedOnlyInTheLog)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path, {.writeAheadLog = true});
        db.AddAndroidAddress("5550001");
        for (int i = 0; i < 10; ++i) {
            db.AddAndroidSms({.address = "5550001", .date = kAndroidBase + i, .body = BodyOf(i), .id = std::int64_t{1000 + i}});
        }
        db.Checkpoint();
        for (int i = 10; i < 14; ++i) {
            db.AddAndroidSms({.address = "5550001", .date = kAndroidBase + i, .body = BodyOf(i), .id = std::int64_t{1000 + i}});
        }
        db.Exec("DELETE FROM sms WHERE _id >= 1010;");
        db.CloseKeepingLog();
    }
    // The live list is the database with its log: the deletions committed there count.
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 10);
    RunRecoverySteps(path.string());
    EXPECT_TRUE(g_store.currentReader->m_lastScan.logMode);
    EXPECT_EQ(g_store.currentReader->m_lastScan.scannedPath, path.string() + "-wal");
    EXPECT_EQ(RecoveredBodies(), (std::set<std::string>{BodyOf(10), BodyOf(11), BodyOf(12), BodyOf(13)}));
    EXPECT_EQ(g_store.conversations[1].recoveredCount, 4);
    EXPECT_EQ(g_store.conversations[1].recentTime, kAndroidBase + 13);  // raised by a recovered message
}

// The default carver keys on the iPhone version column's usual values (1 to 4 bytes, not 0);
// a file whose rows hold 0 gives it no candidate at all, and the summary says to go deeper.
// The deep recovery recognises the rows by their structure.
TEST_F(RecoveryEndToEnd, IphoneRowsOfAnUnusualVersionAreFoundByTheDeepRecovery)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.Exec("BEGIN");
        db.AddIphoneHandle(1, "+15550001");
        for (int i = 0; i < 20; ++i) {
            db.AddIphoneMessage({.text = BodyOf(i), .handleId = 1, .date = kIphoneBase + i, .id = std::int64_t{1000 + i}});
        }
        db.Exec("UPDATE message SET version = 0; COMMIT;");
        db.Exec("DELETE FROM message WHERE ROWID IN (1005, 1016);");
    }
    Load(path);
    RunRecoverySteps(path.string());
    EXPECT_EQ(g_store.currentReader->m_recoveredCount, 0);
    EXPECT_NE(RecoverySummaryText(0, g_store.currentReader->m_lastScan).find(NoCandidatesSentence(g_store.currentReader->m_lastScan)),
              std::string::npos);
    EXPECT_FALSE(NoCandidatesSentence(g_store.currentReader->m_lastScan).empty());
    RunDeepRecoverySteps(path.string());
    EXPECT_EQ(RecoveredBodies(), (std::set<std::string>{BodyOf(5), BodyOf(16)}));
}

// A find dated after the file's newest time plus a day is no message a phone wrote (a date
// read from another column); one an hour after the newest live row is. Both runs drop the
// first and count it as discarded.
TEST_F(RecoveryEndToEnd, FindsPastTheFilesNewestTimeAreDiscarded)
{
    const auto path = m_dir / "sms.db";
    constexpr std::int64_t kYears40 = 40LL * 365 * 86'400;  // still a 4-byte date
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.Exec("BEGIN");
        db.AddIphoneHandle(1, "+15550001");
        for (int i = 0; i < 20; ++i) {
            db.AddIphoneMessage({.text = BodyOf(i), .handleId = 1, .date = kIphoneBase + i, .id = std::int64_t{1000 + i}});
        }
        db.AddIphoneMessage({.text = BodyOf(20), .handleId = 1, .date = kIphoneBase + 3600, .id = std::int64_t{1020}});
        db.AddIphoneMessage({.text = BodyOf(21), .handleId = 1, .date = kIphoneBase + kYears40, .id = std::int64_t{1021}});
        db.Exec("COMMIT");
        db.Exec("DELETE FROM message WHERE ROWID IN (1020, 1021);");
    }
    Load(path);
    RunRecoverySteps(path.string());
    EXPECT_EQ(RecoveredBodies(), (std::set<std::string>{BodyOf(20)}));
    EXPECT_GE(g_store.currentReader->m_lastScan.discarded, 1);
    RunDeepRecoverySteps(path.string());
    EXPECT_EQ(RecoveredBodies(), (std::set<std::string>{BodyOf(20)}));
}

TEST_F(RecoveryEndToEnd, IphoneMessagesDeletedFromTheMainFile)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.Exec("BEGIN");
        for (int h = 1; h <= 3; ++h) db.AddIphoneHandle(h, "+861390000000" + std::to_string(h));
        for (int i = 0; i < 60; ++i) {
            // Row 41's is_from_me is NULL: the carver's reading (any value but 0 is "sent") and the
            // record's (NULL is no) differ, and the record's stands.
            db.AddIphoneMessage({.text = BodyOf(i), .handleId = 1 + i % 3, .date = kIphoneBase + i,
                                 .isFromMe = i == 41 ? Value(nullptr) : Value(std::int64_t{i % 2}), .id = std::int64_t{1000 + i}});
        }
        db.Exec("COMMIT");
        db.Exec("DELETE FROM message WHERE ROWID IN (1005, 1016, 1030, 1041);");
    }
    Load(path);
    const RecoveryRunCounts counts = RunRecoverySteps(path.string());
    EXPECT_EQ(counts.countingFound, counts.fillingFound);
    // Carving may also find fragments that start inside live records; every deleted message is
    // among the finds.
    const std::set<std::string> found = RecoveredBodies();
    for (int i : {5, 16, 30, 41}) EXPECT_TRUE(found.contains(BodyOf(i))) << i;
    ExpectNoLiveMessageRecovered();
    const MessageRecord* m = Recovered(BodyOf(16));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->time, kIphoneBase + 16);
    EXPECT_EQ(m->address, "2");  // the handle key, matched to the conversation by key
    EXPECT_EQ(m->fromMe, 0);
    EXPECT_EQ(Recovered(BodyOf(41))->fromMe, 0);
    EXPECT_EQ(Recovered(BodyOf(5))->fromMe, 1);
    EXPECT_EQ(m->unassignedFlag, 0);
    const int second = FindConversation("13900000002");
    ASSERT_GT(second, 0);
    EXPECT_EQ(g_store.conversations[second].key, "2");
    EXPECT_GE(g_store.conversations[second].recoveredCount, 1);  // 16
}

}  // namespace

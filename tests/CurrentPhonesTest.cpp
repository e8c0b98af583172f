// Databases of current phones: texts kept only in attributedBody, nanosecond dates, messages
// attributed through their thread or chat, the live state of a database with a log, and
// database files under any name.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

#include "StoreHelpers.h"
#include "presentation/ConversationView.h"
#include "presentation/Texts.h"
#include "readers/DatabaseOpen.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"
#include "store/AttributedText.h"
#include "store/TimeText.h"

namespace {

using fixtures::AndroidSms;
using fixtures::ArchivedAttributedString;
using fixtures::Blob;
using fixtures::IphoneMessage;
using fixtures::PhoneDb;

std::string Repeat(const std::string& piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(AttributedBodyText, ReadsEachLengthFormAndNothingPastTheBlob)
{
    const std::string texts[] = {
        "Hello",
        "",
        std::string(127, 'a'),                   // the longest one-byte length
        std::string(128, 'b'),                   // 0x81 and a 16-bit length
        Repeat("晚上一起吃饭吗？", 40),          // 960 bytes of CJK
        std::string(70'000, 'c'),                // 0x82 and a 32-bit length
        "turned \xE2\x86\x84 around",            // U+2184 holds the bytes 86 84 of the end marker
        "photo \xEF\xBF\xBC attached",           // U+FFFC where an attachment sat
    };
    for (const std::string& text : texts) {
        const Blob blob = ArchivedAttributedString(text);
        EXPECT_EQ(AttributedBodyText(blob), text) << text.size() << " bytes";
    }

    // Every cut of a real-shaped blob: either the whole text or nothing, and no read past the end
    // (each prefix lives in its own allocation, so the sanitizers see any overrun).
    const std::string text = "Wir sehen uns um 7 🙂";
    const Blob whole = ArchivedAttributedString(text);
    const Blob textBytes(text.begin(), text.end());
    const auto at = std::search(whole.begin(), whole.end(), textBytes.begin(), textBytes.end()) - whole.begin();
    const std::size_t textEnd = static_cast<std::size_t>(at) + text.size();
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        const Blob prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(AttributedBodyText(prefix), size >= textEnd ? text : "") << size;
    }

    // Archives that do not parse give no text.
    auto bytes = [](std::string_view s) { return Blob(s.begin(), s.end()); };
    EXPECT_EQ(AttributedBodyText(bytes("streamtyped with no string class")), "");
    EXPECT_EQ(AttributedBodyText(bytes("NSString\x01\x94\x84\x01+\x83" "abc")), "");  // no such length form
    EXPECT_EQ(AttributedBodyText(bytes("NSString\x01\x94\x84\x01+\x09short")), "");   // longer than the blob
    EXPECT_EQ(AttributedBodyText(bytes("NSString" + std::string(20, '\x01') + "+\x02hi")), "");  // no '+' nearby
    EXPECT_EQ(AttributedBodyText(bytes("NSString\x01+\x81\x02")), "");               // the length itself cut
}

class CurrentIphoneTest : public FreshStore {};

// A current iPhone: nanosecond dates beside an upgraded phone's second dates, and texts that
// live only in attributedBody.
TEST_F(CurrentIphoneTest, NanosecondDatesAndArchivedTextsReadAsInstantsAndWords)
{
    const auto path = m_dir / "sms.db";
    constexpr std::int64_t kNano = 1'000'000'000;
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "seconds, from iOS 10", .handleId = 1, .date = std::int64_t{700'000'000}});
        db.AddIphoneMessage({.text = nullptr, .handleId = 1, .date = 700'000'100 * kNano + 999'999'999,
                             .attributedBody = ArchivedAttributedString("only in the archive 📎")});
        db.AddIphoneMessage({.text = "", .handleId = 1, .date = 699'999'900 * kNano,
                             .attributedBody = ArchivedAttributedString("empty text, archived words")});
        db.AddIphoneMessage({.text = "the text column wins", .handleId = 1, .date = 700'000'050 * kNano,
                             .attributedBody = ArchivedAttributedString("not this")});
        db.AddIphoneMessage({.text = nullptr, .handleId = 1, .date = 700'000'200 * kNano,
                             .attributedBody = Blob{0x04, 0x0B, 's', 't'}});  // does not parse
    }
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 5);
    // Ordered by the instant, whatever the unit it was stored in.
    const std::pair<std::int64_t, const char*> expected[] = {
        {699'999'900, "empty text, archived words"},
        {700'000'000, "seconds, from iOS 10"},
        {700'000'050, "the text column wins"},
        {700'000'100, "only in the archive 📎"},
        {700'000'200, ""},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(g_store.liveMessages[i].time, expected[i].first) << i;
        EXPECT_EQ(g_store.liveMessages[i].body, expected[i].second) << i;
    }
    EXPECT_EQ(g_store.iphoneNanosecondDates, 1);
    ASSERT_EQ(g_store.conversationCount, 2);
    EXPECT_EQ(g_store.conversations[1].recentTime, 700'000'200);
    EXPECT_EQ(FormatMessageTime(g_store.conversations[1].recentTime), "2023-03-08 20:30:00");
}

// Deleted rows of a nanosecond table carry 8-byte dates and often their text only in the
// archive; the carver reads both as the live reader does.
TEST_F(CurrentIphoneTest, RecoveryFindsNanosecondRowsAndArchivedTexts)
{
    const auto path = m_dir / "sms.db";
    constexpr std::int64_t kNano = 1'000'000'000;
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "+15550001");
        db.Exec("BEGIN");
        for (int i = 0; i < 30; ++i) {
            const bool archived = i % 2 == 1;
            const std::string body = "current phone message " + std::to_string(i);
            db.AddIphoneMessage({.text = archived ? fixtures::Value(nullptr) : fixtures::Value(body),
                                 .handleId = 1,
                                 .date = (700'000'000 + i * 60) * kNano + 123,
                                 .isFromMe = std::int64_t{i % 3 == 0},
                                 .id = std::int64_t{100 + i},
                                 .attributedBody = archived ? fixtures::Value(ArchivedAttributedString(body))
                                                            : fixtures::Value(nullptr)});
        }
        db.Exec("COMMIT");
        db.Exec("DELETE FROM message WHERE ROWID IN (104, 111, 117);");
    }
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 27);
    RunRecoverySteps(path.string());
    const CSms& reader = *g_store.currentReader;
    std::set<std::pair<std::string, std::int64_t>> found;
    for (std::int32_t i = 0; i < reader.m_recoveredCount; ++i) {
        found.emplace(reader.m_recovered[i].body, reader.m_recovered[i].time);
        EXPECT_EQ(reader.m_recovered[i].address, "1");
    }
    // The deleted rows, among whatever fragments of live rows the carver also takes.
    for (const auto& deleted : {std::pair<std::string, std::int64_t>{"current phone message 4", 700'000'240},
                                {"current phone message 11", 700'000'660},
                                {"current phone message 17", 700'001'020}}) {
        EXPECT_TRUE(found.contains(deleted)) << deleted.first;
    }
}

class AttributionTest : public FreshStore {
protected:
    // The row whose entry has this address.
    static int Row(const std::string& address)
    {
        const int row = FindConversation(address);
        EXPECT_GE(row, 0) << address;
        return row;
    }
    // Partners spelled one way in canonical_addresses and another in sms, a group thread (3)
    // and a thread that is not there (99); `deleted` rows are written and deleted again.
    static constexpr std::int64_t t = 1'700'000'000'000;
    static void WriteThreads(const std::filesystem::path& path, const std::vector<fixtures::AndroidSms>& deleted)
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("(212) 025-1670");  // _id 1
        db.AddAndroidAddress("+8613800000000");  // _id 2, shown as 13800000000
        db.AddAndroidAddress("5550003");         // _id 3
        db.Exec("INSERT INTO threads (_id, recipient_ids) VALUES (1, '1'), (2, '2'), (3, '1 2'), (4, ' 3 ');");
        db.AddAndroidSms({.address = "+12120251670", .date = t + 1, .body = "spelled otherwise", .threadId = 1});
        db.AddAndroidSms({.address = "13800000000", .date = t + 2, .body = "spelled alike", .threadId = 1});
        db.AddAndroidSms({.address = "5551234", .date = t + 3, .body = "group thread", .threadId = 3});
        db.AddAndroidSms({.address = "5559999", .date = t + 4, .body = "no such thread", .threadId = 99});
        db.AddAndroidSms({.address = "", .date = t + 5, .type = 3, .body = "draft in a thread", .threadId = 1});
        db.AddAndroidSms({.address = "+1 212 025 1670", .date = t + 6, .body = "latest", .threadId = 1});
        db.AddAndroidSms({.address = "555-0003", .date = t + 7, .body = "padded ids", .threadId = 4});
        for (const fixtures::AndroidSms& row : deleted) db.AddAndroidSms(row);
        db.Exec("DELETE FROM sms WHERE _id > 7;");
    }
    static std::vector<std::string> Shown(int row)
    {
        std::vector<std::string> bodies;
        for (const ShownMessage& shown : CollectConversation(row)) bodies.push_back(shown.message->body);
        return bodies;
    }
};

// Android numbers spelled one way in canonical_addresses and another in sms belong to their
// thread's partner; a group thread has a row of its own; missing threads go to the catch-all entry.
TEST_F(AttributionTest, AndroidMessagesFindTheirPartnerThroughTheThread)
{
    const auto path = m_dir / "mmssms.db";
    WriteThreads(path, {});
    Load(path);
    const ContactRecord& nyc = g_store.conversations[Row("(212) 025-1670")];
    EXPECT_EQ(nyc.messageCount, 3);
    EXPECT_EQ(nyc.recentTime, t + 6);
    EXPECT_EQ(g_store.conversations[Row("13800000000")].messageCount, 1);  // by address, not by thread
    EXPECT_EQ(g_store.conversations[Row("5550003")].messageCount, 1);
    EXPECT_EQ(g_store.conversations[0].messageCount, 1);
    EXPECT_EQ(g_store.conversations[0].recentTime, t + 4);
    const ContactRecord& group = g_store.conversations[Row("(212) 025-1670, 13800000000")];
    EXPECT_EQ(group.isGroup, 1);
    EXPECT_EQ(group.messageCount, 1);
    EXPECT_EQ(group.members, (std::vector<std::string>{"(212) 025-1670", "13800000000"}));

    EXPECT_EQ(Shown(Row("(212) 025-1670")),
              (std::vector<std::string>{"spelled otherwise", "draft in a thread", "latest"}));
    EXPECT_EQ(Shown(Row("(212) 025-1670, 13800000000")), (std::vector<std::string>{"group thread"}));
    EXPECT_EQ(Shown(0), (std::vector<std::string>{"no such thread"}));
    EXPECT_EQ(CollectConversation(Row("(212) 025-1670"))[1].heading, "Me 2023-11-14 22:13:20 [draft]");
    // The heading keeps the message's own spelling.
    EXPECT_EQ(CollectConversation(Row("(212) 025-1670"))[0].heading, "+12120251670 2023-11-14 22:13:20");

    int shown = 0;
    for (int row = 0; row < g_store.conversationCount; ++row) shown += static_cast<int>(Shown(row).size());
    EXPECT_EQ(shown, g_store.liveMessageCount);  // every live message once

    // All conversations gathered in one pass are the conversations one by one.
    const std::vector<std::vector<ShownMessage>> all = CollectAllConversations();
    for (int row = 0; row < g_store.conversationCount; ++row) {
        const std::vector<ShownMessage> one = CollectConversation(row);
        ASSERT_EQ(all[static_cast<std::size_t>(row)].size(), one.size()) << row;
        for (std::size_t i = 0; i < one.size(); ++i) {
            EXPECT_EQ(all[static_cast<std::size_t>(row)][i].message, one[i].message);
            EXPECT_EQ(all[static_cast<std::size_t>(row)][i].heading, one[i].heading);
        }
    }
}

// A deleted message is placed by what its record says: its address names its conversation; its
// thread only where the address names none (the deep recovery keeps the thread of each find).
// A deleted message of a group thread whose address is a one-to-one partner's shows with that
// partner.
TEST_F(AttributionTest, DeletedMessagesGoByTheirAddressThenTheirThread)
{
    const auto path = m_dir / "mmssms.db";
    WriteThreads(path, {{.address = "+12120251670", .date = t + 11, .body = "deleted, spelled otherwise", .threadId = 1},
                        {.address = "13800000000", .date = t + 12, .body = "deleted, to the partner in thread 1", .threadId = 1},
                        {.address = "13800000000", .date = t + 13, .body = "deleted, from the group", .threadId = 3},
                        {.address = "5551234", .date = t + 14, .body = "deleted, a stranger in the group", .threadId = 3}});
    Load(path);
    RunDeepRecoverySteps(path.string());
    ASSERT_EQ(g_store.currentReader->m_recoveredCount, 4);
    auto deleted = [](int row) {
        std::vector<std::string> bodies = Shown(row);
        std::erase_if(bodies, [](const std::string& body) { return !body.starts_with("deleted"); });
        return bodies;
    };
    EXPECT_EQ(deleted(Row("(212) 025-1670")), (std::vector<std::string>{"deleted, spelled otherwise"}));
    EXPECT_EQ(deleted(Row("13800000000")),
              (std::vector<std::string>{"deleted, to the partner in thread 1", "deleted, from the group"}));
    EXPECT_EQ(deleted(Row("(212) 025-1670, 13800000000")), (std::vector<std::string>{"deleted, a stranger in the group"}));
    EXPECT_TRUE(deleted(0).empty());
}

// iPhone messages without a listed handle (sent in a chat: handle_id 0) belong to the chat's
// one partner; a group chat has a row of its own; chatless messages go to the catch-all entry.
TEST_F(AttributionTest, IphoneMessagesFindTheirPartnerThroughTheChat)
{
    const auto path = m_dir / "sms.db";
    constexpr std::int64_t t = 700'000'000;
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneHandle(2, "friend@example.com");
        db.Exec("INSERT INTO chat (ROWID, guid) VALUES (1, 'iMessage;-;+15550001'), (2, 'iMessage;+;chat42'), "
                "(3, 'iMessage;-;friend@example.com');"
                "INSERT INTO chat_handle_join VALUES (1, 1), (2, 1), (2, 2), (3, 2);");
        auto add = [&db](std::int64_t rowid, std::int64_t handle, std::int64_t date, const char* text,
                         std::vector<int> chats) {
            db.AddIphoneMessage({.text = text, .handleId = handle, .date = date, .isFromMe = 1, .id = rowid});
            for (int chat : chats) db.Run("INSERT INTO chat_message_join VALUES (?1, ?2)", {std::int64_t{chat}, rowid});
        };
        add(1, 1, t + 1, "received", {1});
        add(2, 0, t + 2, "sent one-to-one", {1});
        add(3, 0, t + 3, "sent to the group", {2});
        add(4, 0, t + 9, "two chats, the group first", {3, 2});
        add(5, 7, t + 5, "unlisted handle", {3});
        add(6, 0, t + 6, "in no chat", {});
    }
    Load(path);
    const ContactRecord& first = g_store.conversations[Row("+15550001")];
    EXPECT_EQ(first.messageCount, 2);
    EXPECT_EQ(first.recentTime, t + 2);
    const ContactRecord& friendEntry = g_store.conversations[Row("friend@example.com")];
    EXPECT_EQ(friendEntry.messageCount, 1);
    EXPECT_EQ(friendEntry.recentTime, t + 5);
    EXPECT_EQ(g_store.conversations[0].messageCount, 1);
    EXPECT_EQ(g_store.conversations[0].recentTime, t + 6);
    EXPECT_EQ(Shown(Row("+15550001")), (std::vector<std::string>{"received", "sent one-to-one"}));
    EXPECT_EQ(Shown(Row("+15550001, friend@example.com")),
              (std::vector<std::string>{"sent to the group", "two chats, the group first"}));
    EXPECT_EQ(Shown(0), (std::vector<std::string>{"in no chat"}));
}

// The live list is the database as it stands: the main file with its committed log applied,
// read without a change to any file.
TEST_F(FreshStore, TheLiveListIsTheDatabaseWithItsCommittedLog)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path, {.writeAheadLog = true});
        db.AddAndroidAddress("5550001");
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'700'000'000'001}, .body = "deleted since", .id = 1});
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'700'000'000'002}, .body = "kept", .id = 2});
        db.Checkpoint();
        db.Exec("DELETE FROM sms WHERE _id = 1;");
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'700'000'000'003}, .body = "arrived since", .id = 3});
        db.CloseKeepingLog();
    }
    const auto before = fixtures::SnapshotFolder(m_dir.Path());
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 2);
    EXPECT_EQ(g_store.liveMessages[0].body, "kept");
    EXPECT_EQ(g_store.liveMessages[1].body, "arrived since");
    EXPECT_EQ(g_store.liveMessages[1].rowId, 3);
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before);

    // Where the log could only be applied with a side file, a private copy is read instead,
    // and its folder is gone afterwards.
    const auto privateTemp = m_dir / "tmp";
    std::filesystem::create_directory(privateTemp);
    const char* savedTmp = std::getenv("TMPDIR");
    const std::string saved = savedTmp ? savedTmp : "";
    ::setenv("TMPDIR", privateTemp.c_str(), 1);
    {
        sqlite3* db = nullptr;
        const DatabaseReading reading(path.string(), db, DatabaseReading::LogPolicy::AlwaysPrivateCopy);
        EXPECT_EQ(reading.How(), OpenedAs::PrivateCopy);
        int rows = 0;
        sqlite3_exec(
            db, "SELECT count(*) FROM sms;",
            [](void* count, int, char** values, char**) {
                *static_cast<int*>(count) = std::atoi(values[0]);
                return 0;
            },
            &rows, nullptr);
        EXPECT_EQ(rows, 2);
        EXPECT_FALSE(std::filesystem::is_empty(privateTemp));
    }
    EXPECT_TRUE(std::filesystem::is_empty(privateTemp));
    if (savedTmp) {
        ::setenv("TMPDIR", saved.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    std::filesystem::remove(privateTemp);
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before);
}

// Backups keep the databases under other names; the tables tell the kind.
TEST_F(FreshStore, AnyFileNameIsRecognisedByItsTables)
{
    const auto iphone = m_dir / "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    {
        PhoneDb db = PhoneDb::Iphone(iphone);
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "from a backup", .handleId = 1, .date = std::int64_t{700'000'000}});
    }
    const auto android = m_dir / "mmssms-copy.sqlite";
    fixtures::WriteTwoPartnerAndroid(android);
    const auto other = m_dir / "notes.db";
    PhoneDb(other).Exec("CREATE TABLE notes (text TEXT); CREATE TABLE sms (x);");
    const auto text = m_dir / "readme.txt";
    std::ofstream(text) << "not a database";

    EXPECT_EQ(DetectDatabaseKind(iphone.string()), DatabaseName::Iphone);
    EXPECT_EQ(DetectDatabaseKind(android.string()), DatabaseName::Android);
    EXPECT_EQ(DetectDatabaseKind(other.string()), DatabaseName::Other);
    EXPECT_EQ(DetectDatabaseKind(text.string()), DatabaseName::Other);
    EXPECT_EQ(DetectDatabaseKind((m_dir / "missing").string()), DatabaseName::Other);

    OpenResult opened = OpenDatabaseFile(iphone.string());
    EXPECT_EQ(opened.outcome, OpenOutcome::OpenedIphone);
    EXPECT_EQ(opened.problem, OpenProblem::None);
    EXPECT_EQ(g_store.liveMessages[0].body, "from a backup");
    EXPECT_EQ(OpenDatabaseFile(other.string()).outcome, OpenOutcome::WrongFile);
    EXPECT_EQ(g_store.currentReader->m_deviceKind, kDeviceIphone);  // nothing changed
    EXPECT_EQ(OpenDatabaseFile(android.string()).outcome, OpenOutcome::OpenedAndroid);
    EXPECT_EQ(g_store.liveMessageCount, 3);

    // The names keep deciding where they apply; a file named so that nothing can be read from
    // it opens with a reason.
    const auto fake = m_dir / "named" / "mmssms.db";
    std::filesystem::create_directories(fake.parent_path());
    std::filesystem::copy_file(text, fake);
    opened = OpenDatabaseFile(fake.string());
    EXPECT_EQ(opened.outcome, OpenOutcome::OpenedAndroid);
    EXPECT_EQ(opened.problem, OpenProblem::NotSqlite);
    EXPECT_EQ(OpenProblemSentence(fake.string(), opened.problem),
              "The file " + fake.string() + " is not an SQLite 3 database, so no messages can be read from it.");
    const auto wrongTables = m_dir / "named" / "sms.db";
    std::filesystem::copy_file(android, wrongTables);
    opened = OpenDatabaseFile(wrongTables.string());
    EXPECT_EQ(opened.outcome, OpenOutcome::OpenedIphone);
    EXPECT_EQ(opened.problem, OpenProblem::NoIphoneTables);
    EXPECT_EQ(OpenProblemSentence(wrongTables.string(), opened.problem),
              "The file " + wrongTables.string() +
                  " has no iPhone message tables (message and handle), so no messages can be read from it.");

    // "sms2" still asks for the alternate recovery while an Android database is open.
    OpenDatabaseFile(android.string());
    EXPECT_EQ(OpenDatabaseFile((m_dir / "sms2").string()).outcome, OpenOutcome::AlternateRecovery);
    EXPECT_EQ(OpenDatabaseFile((m_dir / "SMS2").string()).outcome, OpenOutcome::WrongFile);
}

}  // namespace

// The Android reader on fixture databases built with the phone's real tables.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "StoreHelpers.h"
#include "readers/AndroidSms.h"
#include "store/TimeText.h"

namespace {

using fixtures::AndroidSms;
using fixtures::PhoneDb;
using AndroidReaderTest = FreshStore;

constexpr std::int64_t kAug14 = 1'439'532'000'123;  // 2015-08-14 06:00:00.123 UTC

TEST_F(AndroidReaderTest, LoadsConversationsMessagesAndTheSchema)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("+8613812345678");
        db.AddAndroidAddress("10086");
        db.AddAndroidAddress("8613900000000");  // no plus sign: stays as it is
        db.AddAndroidAddress("+86");
        db.AddAndroidAddress(nullptr);
        db.AddAndroidSms({.address = "13812345678", .date = kAug14, .type = 1, .body = "你好 😀"});
        db.AddAndroidSms({.address = "+8613812345678", .date = kAug14 + 5000, .type = 2, .body = "sent"});
        db.AddAndroidSms({.address = "10086", .date = nullptr, .type = 3, .body = nullptr});
        db.AddAndroidSms({.address = "10086", .date = std::int64_t{0}, .type = nullptr, .body = "b"});
        db.AddAndroidSms({.address = nullptr, .date = kAug14 - 1, .type = 1, .body = "no address"});
        db.AddAndroidSms({.address = "8613900000000", .date = kAug14 + 1, .type = 1, .body = "86"});
    }
    Load(path);

    ASSERT_EQ(g_store.conversationCount, 6);
    const ContactRecord& catchAll = g_store.conversations[0];
    EXPECT_EQ(catchAll.address, "Ungrouped");
    EXPECT_EQ(catchAll.isCatchAll, 1);
    EXPECT_EQ(catchAll.recentTime, 0);
    // Sorted newest first; equal times (0) keep the selection sort's order.
    EXPECT_EQ(g_store.conversations[1].address, "13812345678");
    EXPECT_EQ(g_store.conversations[1].messageCount, 2);
    EXPECT_EQ(g_store.conversations[1].recentTime, kAug14 + 5000);
    EXPECT_EQ(g_store.conversations[2].address, "8613900000000");
    EXPECT_EQ(g_store.conversations[2].messageCount, 1);
    const int empty1 = FindConversation("");
    ASSERT_GT(empty1, 0);
    EXPECT_EQ(g_store.conversations[empty1].messageCount, 1);  // the NULL-address message

    ASSERT_EQ(g_store.liveMessageCount, 6);
    ASSERT_EQ(g_store.liveMessages.size(), 6u);
    // NULL dates sort first; "0" and NULL both become time 0.
    const MessageRecord& first = g_store.liveMessages[0];
    const MessageRecord& second = g_store.liveMessages[1];
    EXPECT_EQ(first.time, 0);
    EXPECT_EQ(second.time, 0);
    EXPECT_EQ(first.fromMe + second.fromMe, 2);  // type 3 and NULL type: sent by the owner
    const MessageRecord& received = g_store.liveMessages[3];
    EXPECT_EQ(received.body, "你好 😀");
    EXPECT_EQ(received.fromMe, 0);
    EXPECT_EQ(received.address, "13812345678");
    EXPECT_EQ(g_store.liveMessages[5].address, "13812345678");  // "+86" removed
    EXPECT_EQ(g_store.liveMessages[5].fromMe, 1);
    EXPECT_EQ(g_store.liveMessages[2].address, "");
    EXPECT_EQ(g_store.liveMessages[2].body, "no address");

    ASSERT_EQ(g_store.columnCount, 19);
    EXPECT_EQ(g_store.columnNames[0], "_id");
    EXPECT_EQ(g_store.columnNames[12], "body");
    EXPECT_EQ(g_store.columnTypes[12], "TEXT");
    EXPECT_EQ(g_store.columnTypes[4], "INTEGER");
}

TEST_F(AndroidReaderTest, DatesWrittenInSecondsAreSecondsSince1970)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidSms({.address = "5551234", .date = std::int64_t{1'357'005'600}, .body = "in seconds"});
        db.AddAndroidSms({.address = "5551234", .date = std::int64_t{1'357'005'700'000}, .body = "in milliseconds"});
    }
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 2);
    EXPECT_EQ(g_store.liveMessages[0].time, 1'357'005'600'000);
    EXPECT_EQ(UnixSeconds(g_store.liveMessages[0].time), 1'357'005'600);  // 2013-01-01 02:00 UTC, not 2044
    EXPECT_EQ(g_store.liveMessages[1].body, "in milliseconds");
}

TEST_F(AndroidReaderTest, RecentTimeIsTheLastMessageInDateOrderNotTheLargest)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("5551234");
        db.AddAndroidSms({.address = "5551234", .date = kAug14, .body = "a"});
        // Text sorts after every number in SQLite and reads as 0.
        db.AddAndroidSms({.address = "5551234", .date = "later", .body = "b"});
    }
    Load(path);
    ASSERT_EQ(g_store.conversationCount, 2);
    EXPECT_EQ(g_store.conversations[1].messageCount, 2);
    EXPECT_EQ(g_store.conversations[1].recentTime, 0);
}

TEST_F(AndroidReaderTest, EmptyAndMissingTablesAndUnreadableFiles)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("1");
        db.AddAndroidAddress("2");
    }
    Load(path);
    EXPECT_EQ(g_store.conversationCount, 3);
    EXPECT_TRUE(g_store.liveMessages.empty());
    EXPECT_EQ(g_store.liveMessageCount, 0);
    EXPECT_EQ(g_store.conversations[1].messageCount, 0);

    // No canonical_addresses: the messages still load, the following statement still runs.
    const auto sub = m_dir / "b";
    std::filesystem::create_directory(sub);
    {
        PhoneDb db(sub / "mmssms.db");
        db.Exec("CREATE TABLE sms (_id INTEGER PRIMARY KEY, address TEXT, date INTEGER, "
                "type INTEGER, body TEXT);");
        db.Exec("INSERT INTO sms VALUES (1, '', 5, 1, 'x');");
    }
    Load(sub / "mmssms.db");
    EXPECT_EQ(g_store.conversationCount, 1);
    EXPECT_EQ(g_store.liveMessageCount, 1);
    EXPECT_EQ(g_store.columnCount, 5);

    // A file SQLite cannot open at all keeps the previous schema; entry 0 stands alone.
    Load(m_dir / "missing" / "mmssms.db");
    EXPECT_EQ(g_store.conversationCount, 1);
    EXPECT_EQ(g_store.conversations[0].address, "Ungrouped");
    EXPECT_EQ(g_store.liveMessageCount, 0);
    EXPECT_EQ(g_store.columnCount, 5);
    EXPECT_EQ(g_store.currentReader->m_deviceKind, kDeviceAndroid);

    // A file that is not a database opens (SQLite reads lazily) and yields nothing.
    const auto junk = m_dir / "c";
    std::filesystem::create_directory(junk);
    std::ofstream(junk / "mmssms.db") << "this is not a database, only some text";
    Load(junk / "mmssms.db");
    EXPECT_EQ(g_store.conversationCount, 1);
    EXPECT_EQ(g_store.liveMessageCount, 0);

    // An _id that is not the row id, in no order and repeated: every row still loads (the
    // check for a damaged table goes by the table's own row id).
    const auto loose = m_dir / "d";
    std::filesystem::create_directory(loose);
    {
        PhoneDb db(loose / "mmssms.db");
        db.Exec("CREATE TABLE sms (_id INTEGER, thread_id INTEGER, address TEXT, date INTEGER, type INTEGER, body TEXT);"
                "CREATE TABLE canonical_addresses (_id INTEGER PRIMARY KEY, address TEXT);"
                "INSERT INTO sms VALUES (9, 1, '1', 5, 1, 'a'), (3, 1, '1', 6, 1, 'b'), (3, 1, '1', 7, 1, 'c');");
    }
    Load(loose / "mmssms.db");
    EXPECT_EQ(g_store.liveMessageCount, 3);
    EXPECT_TRUE(g_store.currentReader->m_loadWarnings.empty());
}

TEST_F(AndroidReaderTest, AFullTableKeeps4999EntriesAndTheSchemaKeeps300Columns)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db(path);
        std::string create = "CREATE TABLE sms (_id INTEGER PRIMARY KEY, address TEXT, date INTEGER, "
                             "type INTEGER, Body Text";
        for (int i = 0; i < 310; ++i) create += ", Extra" + std::to_string(i) + " Integer";
        db.Exec(create + ");");
        db.Exec("CREATE TABLE canonical_addresses (_id INTEGER PRIMARY KEY, address TEXT);");
        db.Exec("BEGIN");
        for (int i = 0; i < 5000; ++i) db.AddAndroidAddress("1380000" + std::to_string(10000 + i));
        db.Exec("COMMIT");
        db.Exec("INSERT INTO sms (address, date, type, body) VALUES ('138000014997', 1, 1, 'in'), "
                "('138000014998', 2, 1, 'out of the table');");
    }
    Load(path);
    EXPECT_EQ(g_store.conversationCount, kConversationLimit);
    EXPECT_TRUE(g_store.conversations[kConversationCapacity - 1] == ContactRecord{});
    EXPECT_EQ(FindConversation("138000014998"), -1);  // the 4999th partner row has no slot
    EXPECT_GT(FindConversation("138000014997"), 0);
    EXPECT_EQ(g_store.conversations[1].address, "138000014997");  // newest first
    EXPECT_EQ(g_store.conversations[1].messageCount, 1);

    EXPECT_EQ(g_store.columnCount, kColumnCapacity);
    EXPECT_EQ(g_store.columnNames[4], "body");
    EXPECT_EQ(g_store.columnTypes[4], "TEXT");
    EXPECT_EQ(g_store.columnNames[299], "extra294");
    EXPECT_EQ(g_store.columnTypes[299], "INTEGER");
}

// The tally as written out in the loading rules: every message against every entry in order;
// a message that matches none (and has no thread to go by) counts in the catch-all entry.
std::vector<ContactRecord> LiteralTally(std::vector<ContactRecord> entries)
{
    for (auto& e : entries) e.messageCount = 0, e.recentTime = 0;
    for (int m = 0; m < g_store.liveMessageCount; ++m) {
        ContactRecord* target = &entries[0];
        for (auto& e : entries) {
            if (e.address == g_store.liveMessages[m].address) {
                target = &e;
                break;
            }
        }
        ++target->messageCount;
        target->recentTime = g_store.liveMessages[m].time;
    }
    return entries;
}

TEST_F(AndroidReaderTest, TallyEqualsTheLiteralLoopsWithRepeatedAddresses)
{
    const auto path = m_dir / "mmssms.db";
    std::mt19937 random(7);
    {
        PhoneDb db = PhoneDb::Android(path);
        db.Exec("BEGIN");
        for (int i = 0; i < 40; ++i) {
            // "+86" and plain spellings of the same numbers give repeated entries.
            const std::string number = "1390000" + std::to_string(random() % 25);
            db.AddAndroidAddress(random() % 2 ? "+86" + number : number);
        }
        for (int i = 0; i < 2000; ++i) {
            const std::string number = "1390000" + std::to_string(random() % 30);
            db.AddAndroidSms({.address = random() % 3 ? number : "+86" + number,
                              .date = kAug14 + static_cast<std::int64_t>(random() % 100000),
                              .body = "m" + std::to_string(i)});
        }
        db.AddAndroidSms({.address = "Ungrouped", .date = kAug14, .body = "counts in entry 0"});
        db.Exec("COMMIT");
    }
    Load(path);
    const int count = g_store.conversationCount;
    std::vector<ContactRecord> entries(g_store.conversations.begin(), g_store.conversations.begin() + count);
    const std::vector<ContactRecord> expected = LiteralTally(entries);
    for (int i = 0; i < count; ++i) g_store.conversations[i].messageCount = 0, g_store.conversations[i].recentTime = 0;
    CAndroidSms::TallyMessages();
    for (int i = 0; i < count; ++i) EXPECT_EQ(g_store.conversations[i], expected[i]) << "entry " << i;
    EXPECT_GT(g_store.conversations[0].messageCount, 1);  // "Ungrouped" itself and the unmatched numbers
}

}  // namespace

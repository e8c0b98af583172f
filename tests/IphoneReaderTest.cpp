// The iPhone reader on fixture databases built with the phone's real tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "StoreHelpers.h"
#include "readers/IphoneSms.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"

namespace {

using fixtures::IphoneMessage;
using fixtures::PhoneDb;
using IphoneReaderTest = FreshStore;

constexpr std::int64_t kAug14 = 461'234'567;  // seconds since 2001 (shows as 2015-08-14)

TEST_F(IphoneReaderTest, LoadsHandlesMessagesAndTheSchema)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "+8613812345678");
        db.AddIphoneHandle(2, "friend@example.com");
        db.AddIphoneHandle(3, "13900000000");
        db.AddIphoneMessage({.text = "你好", .handleId = 1, .date = kAug14, .isFromMe = 0});
        db.AddIphoneMessage({.text = "reply", .handleId = 1, .date = kAug14 + 60, .isFromMe = 1});
        db.AddIphoneMessage({.text = nullptr, .handleId = 2, .date = kAug14 - 60, .isFromMe = nullptr});
        db.AddIphoneMessage({.text = "no handle", .handleId = nullptr, .date = kAug14 + 5});
        db.AddIphoneMessage({.text = "handle 0", .handleId = 0, .date = kAug14 + 6});
        db.AddIphoneMessage({.text = "ns date", .handleId = 3, .date = std::int64_t{461'234'567'000'000'000}});
        db.AddIphoneMessage({.text = "negative", .handleId = 2, .date = std::int64_t{-5}});
    }
    Load(path);

    ASSERT_EQ(g_store.conversationCount, 4);
    EXPECT_EQ(g_store.conversations[0].address, "Unknown");
    EXPECT_EQ(g_store.conversations[0].key, "");
    EXPECT_EQ(g_store.conversations[0].messageCount, 2);  // the NULL handle_id and handle 0 (no chat)
    EXPECT_EQ(g_store.conversations[0].recentTime, kAug14 + 6);

    const ContactRecord& china = g_store.conversations[1];
    EXPECT_EQ(china.address, "13812345678");  // "+86" removed from the address, not the key
    EXPECT_EQ(china.key, "1");
    EXPECT_EQ(china.messageCount, 2);
    EXPECT_EQ(china.recentTime, kAug14 + 60);
    const ContactRecord& nanoseconds = g_store.conversations[2];
    EXPECT_EQ(nanoseconds.address, "13900000000");
    EXPECT_EQ(nanoseconds.key, "3");
    EXPECT_EQ(nanoseconds.recentTime, kAug14);  // stored in nanoseconds, kept in seconds
    const ContactRecord& mail = g_store.conversations[3];
    EXPECT_EQ(mail.address, "friend@example.com");
    EXPECT_EQ(mail.messageCount, 2);
    EXPECT_EQ(mail.recentTime, kAug14 - 60);  // the largest time, and never below 0

    ASSERT_EQ(g_store.liveMessageCount, 7);
    EXPECT_EQ(g_store.liveMessages[0].time, -5);
    EXPECT_EQ(g_store.liveMessages[1].body, "");
    EXPECT_EQ(g_store.liveMessages[1].fromMe, 0);  // NULL is_from_me
    EXPECT_EQ(g_store.liveMessages[2].body, "你好");
    EXPECT_EQ(g_store.liveMessages[2].address, "1");
    EXPECT_EQ(g_store.liveMessages[3].body, "ns date");  // the same instant, in time order
    EXPECT_EQ(g_store.liveMessages[3].time, kAug14);
    EXPECT_EQ(g_store.liveMessages[4].address, "");
    EXPECT_EQ(g_store.liveMessages[5].address, "0");
    EXPECT_EQ(g_store.liveMessages[6].fromMe, 1);

    ASSERT_EQ(g_store.columnCount, 51);
    EXPECT_EQ(g_store.columnNames[2], "text");
    EXPECT_EQ(g_store.columnNames[8], "attributedbody");
    EXPECT_EQ(g_store.columnTypes[8], "BLOB");
    EXPECT_EQ(g_store.columnNames[50], "message_source");
}

TEST_F(IphoneReaderTest, EmptyOrMissingTables)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "1");
        db.AddIphoneHandle(2, "2");
    }
    Load(path);
    EXPECT_EQ(g_store.conversationCount, 3);
    EXPECT_TRUE(g_store.liveMessages.empty());
    EXPECT_EQ(g_store.conversations[1].recentTime, 0);
    EXPECT_EQ(g_store.conversations[1].messageCount, 0);

    const auto sub = m_dir / "b";
    std::filesystem::create_directory(sub);
    {
        PhoneDb db(sub / "sms.db");
        db.Exec("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, handle_id INTEGER, "
                "date INTEGER, is_from_me INTEGER);");
        db.Exec("INSERT INTO message VALUES (1, 'a', NULL, 10, 0), (2, 'b', 4, 20, 1);");
    }
    Load(sub / "sms.db");
    EXPECT_EQ(g_store.conversationCount, 1);
    EXPECT_EQ(g_store.conversations[0].messageCount, 2);  // no handle table: both in the catch-all entry
    EXPECT_EQ(g_store.liveMessageCount, 2);
}

TEST_F(IphoneReaderTest, ReadsRowsCommittedToTheLog)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path, {.writeAheadLog = true});
        db.AddIphoneHandle(1, "5550001");
        db.AddIphoneMessage({.text = "checkpointed", .handleId = 1, .date = kAug14});
        db.Checkpoint();
        db.AddIphoneMessage({.text = "only in the log", .handleId = 1, .date = kAug14 + 1});
        db.CloseKeepingLog();
    }
    ASSERT_TRUE(std::filesystem::exists(path.string() + "-wal"));
    Load(path);
    ASSERT_EQ(g_store.liveMessageCount, 2);
    EXPECT_EQ(g_store.liveMessages[1].body, "only in the log");
    EXPECT_EQ(g_store.conversations[1].messageCount, 2);
}

TEST_F(IphoneReaderTest, OpeningIphoneAfterAndroidLeavesNothingBehind)
{
    const auto android = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(android);
        for (int i = 0; i < 5; ++i) db.AddAndroidAddress("555000" + std::to_string(i));
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'439'532'000'123}, .body = "a"});
    }
    Load(android);
    g_store.currentReader->m_recovered.resize(1);
    g_store.currentReader->m_recoveredCount = 1;
    ASSERT_EQ(g_store.conversations[0].address, "Ungrouped");

    const auto iphone = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(iphone);
        db.AddIphoneHandle(9, "friend");
    }
    Load(iphone);
    EXPECT_EQ(g_store.currentReader->m_deviceKind, kDeviceIphone);
    EXPECT_EQ(g_store.currentReader->m_recoveredCount, 0);
    EXPECT_EQ(g_store.conversations[0].address, "Unknown");
    EXPECT_EQ(g_store.conversationCount, 2);
    EXPECT_EQ(g_store.liveMessageCount, 0);
    for (int i = 2; i < kConversationCapacity; ++i) ASSERT_EQ(g_store.conversations[i], ContactRecord{});
}

TEST_F(IphoneReaderTest, CountingEqualsTheLiteralLoopsWithRepeatedKeys)
{
    // Entries with repeated and empty keys, set up directly: every message counts in every
    // entry whose key equals its address.
    std::mt19937 random(11);
    g_store.conversationCount = 60;
    for (int i = 0; i < 60; ++i) g_store.conversations[i].key = i == 0 ? "" : std::to_string(random() % 20);
    g_store.liveMessages.resize(3000);
    g_store.liveMessageCount = 3000;
    for (auto& m : g_store.liveMessages) {
        const auto pick = random() % 25;
        m.address = pick == 24 ? "" : std::to_string(pick);
        m.time = static_cast<std::int64_t>(random() % 2000) - 1000;
    }
    std::vector<ContactRecord> expected(g_store.conversations.begin(), g_store.conversations.begin() + 60);
    for (auto& e : expected) {
        e.messageCount = 0;
        e.recentTime = 0;
        for (int m = 0; m < g_store.liveMessageCount; ++m) {
            if (g_store.liveMessages[m].address != e.key) continue;
            ++e.messageCount;
            if (g_store.liveMessages[m].time > e.recentTime) e.recentTime = g_store.liveMessages[m].time;
        }
    }
    // A message whose key no entry has counts in the catch-all entry.
    for (int m = 0; m < g_store.liveMessageCount; ++m) {
        const std::string& key = g_store.liveMessages[m].address;
        if (std::any_of(expected.begin(), expected.end(), [&](const ContactRecord& e) { return e.key == key; })) continue;
        ++expected[0].messageCount;
        expected[0].recentTime = std::max(expected[0].recentTime, g_store.liveMessages[m].time);
    }
    CIphoneSms::CountConversationMessages();
    for (int i = 0; i < 60; ++i) EXPECT_EQ(g_store.conversations[i], expected[i]) << "entry " << i;
}

}  // namespace

namespace {

// iOS 5 and earlier: no handle table; each row names its partner, SMS dates are since 1970,
// iMessage dates since 2001; conversations are msg_group rows (a group of two members is a
// group conversation), MMS texts and files are pieces, iMessage files madrid attachments.
TEST_F(IphoneReaderTest, OldestIphonesWithoutHandleTable)
{
    const auto path = m_dir / "3d0d7e5fb2ce288813306e4d4636395e047a3d28";  // a backup's name for it
    {
        PhoneDb db = PhoneDb::IphoneLegacy(path);
        db.AddIphoneLegacyGroup(1, {"+8613812345678"});
        db.AddIphoneLegacyGroup(2, {"+15550001111", "+15550002222"});
        const std::int64_t unix = kAug14 + 978'307'200;
        db.AddIphoneLegacyMessage({.id = std::int64_t{1}, .address = "+8613812345678", .date = unix, .text = "sms in", .flags = 2, .groupId = 1});
        db.AddIphoneLegacyMessage({.id = std::int64_t{2}, .address = "+8613812345678", .date = unix + 60, .text = "sms out", .flags = 3, .groupId = 1});
        db.AddIphoneLegacyMessage({.id = std::int64_t{3}, .date = kAug14 + 120, .text = "imessage out", .flags = 0, .groupId = 1,
                                   .isMadrid = 1, .madridHandle = "+8613812345678", .madridFlags = 36869});
        db.AddIphoneLegacyMessage({.id = std::int64_t{4}, .address = "+15550002222", .date = unix + 180, .flags = 2, .groupId = 2});
        db.AddIphoneLegacyMessage({.id = std::int64_t{5}, .date = kAug14 + 240, .text = "imessage in", .flags = 0, .groupId = 1,
                                   .isMadrid = 1, .madridHandle = "+8613812345678", .madridFlags = 12289});
        db.Run("INSERT INTO msg_pieces (message_id, data, part_id, content_type, content_loc) VALUES "
               "(4, 'a picture', 0, 'image/jpeg', 'IMG_0001.jpg'), (4, CAST('slide text' AS BLOB), 1, 'text/plain', 'text_0.txt')", {});
        db.Run("INSERT INTO madrid_attachment (attachment_guid, filename, mime_type, message_id) "
               "VALUES ('G1', '~/Library/SMS/Attachments/ab/01/G1/photo.png', 'image/png', 3)", {});
    }
    ASSERT_EQ(OpenDatabaseFile(path.string()).outcome, OpenOutcome::OpenedIphone);

    ASSERT_EQ(g_store.liveMessageCount, 5);
    const MessageRecord* m = g_store.liveMessages.data();
    EXPECT_EQ(m[4].fromMe, 0);
    EXPECT_EQ(m[0].body, "sms in");
    EXPECT_EQ(m[0].time, kAug14);
    EXPECT_EQ(m[0].fromMe, 0);
    EXPECT_EQ(m[1].fromMe, 1);
    EXPECT_EQ(m[2].body, "imessage out");
    EXPECT_EQ(m[2].time, kAug14 + 120);
    EXPECT_EQ(m[2].kind, MessageKind::IMessage);
    EXPECT_EQ(m[2].fromMe, 1);
    ASSERT_EQ(m[2].details->attachments.size(), 1u);
    EXPECT_EQ(m[2].details->attachments[0].name, "photo.png");
    EXPECT_EQ(m[3].kind, MessageKind::Mms);
    EXPECT_EQ(m[3].body, "slide text");
    ASSERT_EQ(m[3].details->attachments.size(), 1u);
    EXPECT_EQ(m[3].details->attachments[0].name, "IMG_0001.jpg");
    EXPECT_EQ(m[3].inGroup, 1);

    // One conversation for the person whatever the service, one for the group.
    std::map<std::string, std::int32_t> counts;
    for (std::int32_t i = 1; i < g_store.conversationCount; ++i) counts[g_store.conversations[i].address] = g_store.conversations[i].messageCount;
    EXPECT_EQ(counts, (std::map<std::string, std::int32_t>{{"13812345678", 4}, {"+15550001111, +15550002222", 1}}));
    EXPECT_EQ(g_store.conversations[0].messageCount, 0);
}

}  // namespace

namespace {

// One person, two handles (the number used with SMS and with iMessage), one chat of both: one
// conversation listing both keys, never a group; a deleted message of either handle joins it.
TEST_F(IphoneReaderTest, OneConversationPerPersonWhateverTheService)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "+15550001");
        db.Run("INSERT INTO handle (ROWID, id, country, service) VALUES (2, '+15550001', 'us', 'iMessage')", {});
        db.AddIphoneHandle(3, "+15550003");
        db.Exec("INSERT INTO chat (ROWID, guid) VALUES (1, 'iMessage;-;+15550001');"
                "INSERT INTO chat_handle_join VALUES (1, 1), (1, 2);");
        db.AddIphoneMessage({.text = "by sms", .handleId = 1, .date = kAug14, .id = std::int64_t{1}});
        db.AddIphoneMessage({.text = "by imessage", .handleId = 2, .date = kAug14 + 1, .id = std::int64_t{2}});
        db.AddIphoneMessage({.text = "someone else", .handleId = 3, .date = kAug14 + 2, .id = std::int64_t{3}});
        db.AddIphoneMessage({.text = "deleted imessage 晚上一起吃饭吗", .handleId = 2, .date = kAug14 + 3, .id = std::int64_t{4}});
        // Sent in the person's chat, its handle naming someone else: the chat's.
        db.AddIphoneMessage({.text = "sent in the chat", .handleId = 3, .date = kAug14 + 4, .isFromMe = 1, .id = std::int64_t{5}});
        db.Exec("INSERT INTO chat_message_join VALUES (1, 1), (1, 2), (1, 4), (1, 5); DELETE FROM message WHERE ROWID = 4;");
    }
    Load(path);
    ASSERT_EQ(g_store.conversationCount, 3);
    const ContactRecord& person = g_store.conversations[FindConversation("+15550001")];
    EXPECT_EQ(person.isGroup, 0);
    EXPECT_EQ(person.keys, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(person.messageCount, 3);
    EXPECT_EQ(g_store.conversations[FindConversation("+15550003")].messageCount, 1);
    RunDeepRecoverySteps(path.string());
    ASSERT_EQ(g_store.currentReader->m_recoveredCount, 1);
    EXPECT_EQ(g_store.conversations[FindConversation("+15550001")].recoveredCount, 1);
}

}  // namespace

// What phones keep beyond the text tables: Android MMS and group threads, iPhone group chats,
// attachments, "Recently Deleted", edits, tapbacks and sending status; and damaged rows of
// each, which must load to something sensible.
#include <gtest/gtest.h>

#include <fstream>

#include "StoreHelpers.h"
#include "presentation/ConversationView.h"
#include "query/Search.h"
#include "readers/AttachmentFiles.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"
#include "store/Charsets.h"
#include "store/TimeText.h"

namespace {

using fixtures::AndroidMms;
using fixtures::PhoneDb;

class PhoneExtrasTest : public FreshStore {
protected:
    fixtures::TempDir m_dir;

    static int Row(const std::string& address)
    {
        for (int row = 0; row < g_store.conversationCount; ++row) {
            if (g_store.conversations[row].address == address) return row;
        }
        ADD_FAILURE() << "no row " << address;
        return 0;
    }
    static std::vector<std::string> Headings(int row)
    {
        std::vector<std::string> headings;
        for (const ShownMessage& shown : CollectConversation(row)) headings.push_back(shown.heading);
        return headings;
    }
    static const MessageRecord* WithBody(const std::string& body)
    {
        for (std::int32_t m = 0; m < g_store.liveMessageCount; ++m) {
            if (g_store.liveMessages[m].body == body) return &g_store.liveMessages[m];
        }
        return nullptr;
    }
};

TEST(Charsets, HeadersWidenedByTheProviderAndPartTextsInTheirOwnSets)
{
    const std::string utf8 = "Grüße 你好";
    std::string widened;  // each byte stored as the Latin-1 letter of that value, written as UTF-8
    for (const unsigned char c : utf8) widened += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string{static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    EXPECT_EQ(DecodeWidenedHeader(widened, 106), utf8);
    EXPECT_EQ(DecodeWidenedHeader("caf\xC3\xA9", 4), "café");                // Latin-1 bytes
    EXPECT_EQ(DecodeWidenedHeader("already 你好", 106), "already 你好");     // not widened: as it is
    EXPECT_EQ(DecodeCharset(std::string("\x04\x1F\x04\x40\x04\x38", 6), 1000), "При");  // UCS-2
    EXPECT_EQ(DecodeCharset("\x82\xb1\x82\xf1", 17), "こん");                 // Shift_JIS
    EXPECT_EQ(DecodeCharset("ok \xFF", 106), "ok \xEF\xBF\xBD");
    EXPECT_EQ(DecodeCharset("\x82\xb1\xFF", 17), "こ\xEF\xBF\xBD");          // a bad byte, shown
    EXPECT_EQ(DecodeCharset("plain", 99999), "plain");                       // a set no one knows
}

// One database with all the Android shapes: picture messages, a group thread of three, a
// message not yet downloaded, a report, and rows that point nowhere or hold nonsense.
TEST_F(PhoneExtrasTest, AndroidMmsAndGroupThreads)
{
    const auto folder = m_dir / "databases";
    std::filesystem::create_directories(folder / "app_parts");
    std::ofstream(folder / "app_parts" / "PART_1_cat.png", std::ios::binary) << fixtures::SmallPng(4, 4, 1, 2, 3);
    const auto path = folder / "mmssms.db";
    const std::string parts = "/data/user_de/0/com.android.providers.telephony/app_parts/";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.Exec(fixtures::kAndroidMmsSchema);
        for (const char* address : {"+15550001", "+15550002", "+15550003"}) db.AddAndroidAddress(address);
        db.Exec("INSERT INTO threads (_id, recipient_ids) VALUES (1, '1'), (2, '1 2 3'), (3, '2 77');");
        db.AddAndroidSms({.address = "+15550001", .date = 1'600'000'000'000, .body = "sms before", .threadId = 1});
        db.AddAndroidSms({.address = "+15550001", .date = 1'600'000'900'000, .type = 5, .body = "failed sms", .threadId = 1});
        db.AddAndroidSms({.address = "+15550002", .date = 1'600'000'950'000, .type = 2, .body = "group sms", .threadId = 2});
        db.AddAndroidMms({.id = 1, .threadId = 1, .date = 1'600'000'100, .from = "+15550001", .texts = {"look", "at this"},
                          .files = {{"image/png", "cat.png", parts + "PART_1_cat.png"}, {"video/mp4", "", parts + "PART_2"}}});
        db.AddAndroidMms({.id = 2, .threadId = 2, .date = 1'600'000'200, .box = 2, .type = 128,
                          .subject = "Gr\xC3\x83\xC2\xBC\xC3\x83\xC2\x9F" "e",  // "Grüße" widened
                          .from = "insert-address-token", .to = {"+15550002", "+15550003"}, .texts = {"to all"}});
        db.AddAndroidMms({.id = 3, .threadId = 2, .date = 1'600'000'300, .from = "+15550003", .texts = {"from three"}});
        db.AddAndroidMms({.id = 4, .threadId = 1, .date = 1'600'000'400, .type = 130, .from = "+15550001"});
        db.AddAndroidMms({.id = 5, .threadId = 1, .date = 1'600'000'500, .type = 134, .from = "+15550001"});  // a report
        db.AddAndroidMms({.id = 6, .threadId = 3, .date = std::int64_t{0}, .from = "+15550002", .texts = {"date zero"}});
        db.AddAndroidMms({.id = 7, .threadId = 99, .date = INT64_MAX, .from = "+15559999", .texts = {"huge date"}});
        db.AddAndroidMms({.id = 8, .threadId = 1, .date = -5, .box = 3, .type = 128, .from = "insert-address-token",
                          .to = {"+15550001"}, .texts = {"draft mms"}});
        db.Exec("INSERT INTO part (mid, seq, ct, text) VALUES (404, 0, 'text/plain', 'part of no message');"
                "INSERT INTO part (mid, seq, ct, chset, text) VALUES (3, 1, 'text/plain', 17, X'82b182f1');");
    }
    const auto before = fixtures::SnapshotFolder(m_dir.Path());
    ASSERT_EQ(OpenDatabaseFile(path.string()).outcome, OpenOutcome::OpenedAndroid);
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before) << "a file changed";

    EXPECT_EQ(WithBody("part of no message"), nullptr);
    const MessageRecord* picture = WithBody("look\nat this");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->kind, MessageKind::Mms);
    EXPECT_EQ(picture->time, 1'600'000'100'000);  // seconds made milliseconds like the sms table's
    ASSERT_EQ(picture->details->attachments.size(), 2u);
    EXPECT_EQ(picture->details->attachments[0].name, "cat.png");
    EXPECT_TRUE(picture->details->attachments[0].present);
    EXPECT_EQ(picture->details->attachments[0].size, static_cast<std::int64_t>(std::filesystem::file_size(folder / "app_parts" / "PART_1_cat.png")));
    EXPECT_FALSE(picture->details->attachments[1].present);  // its file is gone: listed, not an error
    ASSERT_NE(WithBody("from three\nこん"), nullptr);
    EXPECT_EQ(WithBody("huge date")->time, INT64_MAX);
    EXPECT_EQ(WithBody("draft mms")->status, MessageStatus::Draft);

    const int group = Row("+15550001, +15550002, +15550003");
    EXPECT_EQ(g_store.conversations[group].isGroup, 1);
    EXPECT_EQ(g_store.conversations[group].messageCount, 3);  // SMS and MMS of the thread, once each
    EXPECT_EQ(Headings(group), (std::vector<std::string>{"Me 2020-09-13 12:30:00", "+15550003 2020-09-13 12:31:40",
                                                         "Me 2020-09-13 12:42:30"}));
    EXPECT_EQ(CollectConversation(group)[0].message->details->subject, "Grüße");
    const int partner = Row("+15550001");
    EXPECT_EQ(g_store.conversations[partner].messageCount, 5);  // the report is no message
    const std::vector<std::string> headings = Headings(partner);
    EXPECT_NE(std::find(headings.begin(), headings.end(), "+15550001 2020-09-13 12:33:20 [not downloaded]"), headings.end());
    EXPECT_NE(std::find(headings.begin(), headings.end(), "Me 2020-09-13 12:41:40 [failed]"), headings.end());
    // A thread naming an address that is gone is still a group, of the members known.
    EXPECT_EQ(Headings(Row("+15550002, (1 unknown)")), (std::vector<std::string>{"+15550002 None"}));
    int shown = 0;
    for (int row = 0; row < g_store.conversationCount; ++row) shown += static_cast<int>(CollectConversation(row).size());
    EXPECT_EQ(shown, g_store.liveMessageCount);  // every message once
}

// The iPhone of today: chats with names, attachments beside the database, messages in
// "Recently Deleted", an edit, a tapback, a failed send; nonsense in the same tables.
TEST_F(PhoneExtrasTest, IphoneChatsAttachmentsRecentlyDeletedEditsAndTapbacks)
{
    const auto folder = m_dir / "SMS";
    std::filesystem::create_directories(folder / "Attachments" / "ab");
    std::ofstream(folder / "Attachments" / "ab" / "IMG_1.png", std::ios::binary) << "png";
    const auto path = folder / "sms.db";
    constexpr std::int64_t kNano = 1'000'000'000, t = 700'000'000;
    {
        PhoneDb db = PhoneDb::IphoneCurrent(path);
        db.Exec(fixtures::kIphoneExtrasSchema);
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneHandle(2, "+15550002");
        db.Exec("INSERT INTO chat (ROWID, guid, display_name) VALUES (1, 'iMessage;-;+15550001', NULL), "
                "(2, 'iMessage;+;chat1', 'Climbing'), (3, 'iMessage;+;chat2', '');"
                "INSERT INTO chat_handle_join VALUES (1, 1), (2, 1), (2, 2), (3, 1), (3, 2);");
        auto add = [&](std::int64_t id, std::int64_t handle, std::int64_t chat, int fromMe, const char* text) {
            db.AddIphoneMessage({.text = text != nullptr ? fixtures::Value(text) : fixtures::Value(nullptr), .handleId = handle, .date = (t + id) * kNano, .isFromMe = fromMe, .id = id});
            db.Run("INSERT INTO chat_message_join VALUES (?1, ?2)", {chat, id});
        };
        add(1, 1, 1, 0, "one to one");
        add(2, 2, 2, 0, "in the named group");
        add(3, 0, 2, 1, "mine in the group");
        add(4, 1, 3, 0, "in the unnamed group \xEF\xBF\xBC");
        add(5, 2, 2, 0, "Loved \xE2\x80\x9Cmine\xE2\x80\x9D");
        add(6, 1, 1, 0, "after the edit");
        add(7, 1, 1, 1, "failed");
        add(8, 1, 1, 0, nullptr);
        add(11, 0, 2, 1, "sent fine");
        db.Exec("UPDATE message SET associated_message_type = 2000, associated_message_guid = 'p:0/' || "
                "(SELECT guid FROM message WHERE ROWID = 3) WHERE ROWID = 5;"
                "UPDATE message SET error = 22 WHERE ROWID = 7;"
                "UPDATE message SET is_sent = 0 WHERE ROWID = 3;"
                "DELETE FROM chat_message_join WHERE message_id = 8;"
                "INSERT INTO chat_recoverable_message_join VALUES (1, 8, 700000100000000000, 0);");
        db.Run("UPDATE message SET date_edited = 1, message_summary_info = ?1 WHERE ROWID = 6",
               {fixtures::EditHistory({"before the edit", "after the edit"})});
        // Its text in two parts (an attachment's mark, then words): joined as the phone wrote them.
        db.Run("INSERT INTO recoverable_message_part VALUES (1, 8, 0, 1, ?1, 0)", {fixtures::ArchivedAttributedString("\uFFFC")});
        db.Run("INSERT INTO recoverable_message_part VALUES (1, 8, 1, 1, ?1, 0)", {fixtures::ArchivedAttributedString("gone soon")});
        // Parts whose message row is gone: a message of their own, without a time.
        db.Run("INSERT INTO recoverable_message_part VALUES (1, 9, 0, 700000200000000000, ?1, 0)",
               {fixtures::ArchivedAttributedString("row gone")});
        db.Exec("INSERT INTO recoverable_message_part VALUES (1, 10, 0, 1, X'00ff04', 0);"  // garbage, no row: no message
                "INSERT INTO attachment (ROWID, guid, filename, mime_type, transfer_name, total_bytes) VALUES "
                "(1, 'a1', '~/Library/SMS/Attachments/ab/IMG_1.png', 'image/png', NULL, -5), "
                "(2, 'a2', NULL, NULL, NULL, 9223372036854775807), (3, 'a3', '~/Library/SMS/../../etc/passwd', 'x', 'p', 1);"
                "INSERT INTO message_attachment_join VALUES (4, 1), (4, 2), (4, 3), (999, 1);");
    }
    const auto before = fixtures::SnapshotFolder(m_dir.Path());
    ASSERT_EQ(OpenDatabaseFile(path.string()).outcome, OpenOutcome::OpenedIphone);
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before) << "a file changed";

    const int named = Row("Climbing");
    EXPECT_EQ(g_store.conversations[named].members, (std::vector<std::string>{"+15550001", "+15550002"}));
    EXPECT_EQ(g_store.conversations[named].title, "Climbing");  // the group's own name; none for the unnamed one
    // The file marks its sent messages: one it left unmarked was never sent.
    EXPECT_EQ(Headings(named), (std::vector<std::string>{"+15550002 2023-03-08 20:26:42", "Me 2023-03-08 20:26:43 [not sent]",
                                                         "Me 2023-03-08 20:26:51"}));
    EXPECT_EQ(CollectConversation(named)[1].details, "Loved by +15550002");  // the tapback, not a text of its own
    std::string error;
    const std::vector<SearchHit> hits = SearchMessages({.text = "+15550002"}, error);
    EXPECT_TRUE(std::any_of(hits.begin(), hits.end(), [&](const SearchHit& hit) { return hit.row == named; }));  // by a member
    const int unnamed = Row("+15550001, +15550002");
    EXPECT_EQ(g_store.conversations[unnamed].title, "");
    ASSERT_EQ(CollectConversation(unnamed).size(), 1u);
    const MessageRecord& withFiles = *CollectConversation(unnamed)[0].message;
    ASSERT_EQ(withFiles.details->attachments.size(), 3u);
    EXPECT_TRUE(withFiles.details->attachments[0].present);
    EXPECT_EQ(withFiles.details->attachments[0].name, "IMG_1.png");  // no transfer name: the file's
    EXPECT_EQ(withFiles.details->attachments[0].size, 3);            // an absurd size gives way to the file's
    EXPECT_FALSE(withFiles.details->attachments[1].present);
    EXPECT_FALSE(withFiles.details->attachments[2].present);  // never outside the folder

    const int partner = Row("+15550001");
    EXPECT_EQ(g_store.conversations[partner].messageCount, 3);  // one to one, the edit, the failed one
    EXPECT_EQ(g_store.conversations[partner].keptDeletedCount, 2);
    std::vector<ShownMessage> shown = CollectConversation(partner);
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].message->body, "row gone");
    EXPECT_EQ(shown[0].heading, "+15550001 None — deleted on 2023-03-08 20:30:00");
    shown.erase(shown.begin());
    EXPECT_EQ(shown[1].heading, "+15550001 2023-03-08 20:26:46 (edited)");
    EXPECT_EQ(shown[1].details, "Before the edit: before the edit");
    EXPECT_EQ(shown[2].heading, "Me 2023-03-08 20:26:47 [failed]");
    EXPECT_EQ(shown[3].message->body, "\uFFFCgone soon");
    EXPECT_EQ(shown[3].heading, "+15550001 2023-03-08 20:26:48 — deleted on 2023-03-08 20:28:20");

    // The tapback folded into its message is a live row: neither recovery reports it.
    for (const bool deep : {false, true}) {
        deep ? RunDeepRecoverySteps(path.string()) : static_cast<void>(RunRecoverySteps(path.string()));
        const std::vector<MessageRecord>& found = g_store.currentReader->m_recovered;
        EXPECT_TRUE(std::none_of(found.begin(), found.end(), [](const MessageRecord& m) { return m.body.starts_with("Loved"); }))
            << (deep ? "deep" : "default");
    }
}

}  // namespace

namespace {

// Deleted rows of the iPhone's file and set-aside tables come back: a file record that no live
// message has, a set-aside text purged from "Recently Deleted" (in its chat, with its delete
// time); live files (an older version of their row too) and texts still set aside are not
// reported again.
TEST_F(PhoneExtrasTest, IphoneDeepRecoveryOfFilesAndPurgedSetAsideTexts)
{
    const auto path = m_dir / "sms.db";
    constexpr std::int64_t kNano = 1'000'000'000, t = 700'000'000;
    {
        PhoneDb db = PhoneDb::IphoneCurrent(path, {.writeAheadLog = true});
        db.Exec(fixtures::kIphoneExtrasSchema);
        db.AddIphoneHandle(1, "+15550001");
        db.Exec("INSERT INTO chat (ROWID, guid) VALUES (1, 'iMessage;-;+15550001'); INSERT INTO chat_handle_join VALUES (1, 1);");
        for (const std::int64_t id : {1, 2}) {
            db.AddIphoneMessage({.text = "picture \xEF\xBF\xBC", .handleId = 1, .date = (t + id) * kNano, .id = id});
            db.Run("INSERT INTO chat_message_join VALUES (1, ?1)", {id});
            db.Run("INSERT INTO attachment (ROWID, guid, created_date, filename, mime_type, transfer_name, total_bytes) "
                   "VALUES (?1, ?2, ?3, ?4, 'image/jpeg', ?5, 2048)",
                   {id, "guid-" + std::to_string(id), t + id, "~/Library/SMS/Attachments/0" + std::to_string(id) + "/IMG.jpeg",
                    "IMG_" + std::to_string(id) + ".jpeg"});
            db.Run("INSERT INTO message_attachment_join VALUES (?1, ?1)", {id});
        }
        // The live file's row as it was before the download: an older version left in the file.
        db.Exec("UPDATE attachment SET filename = NULL WHERE ROWID = 1;"
                "UPDATE attachment SET filename = '~/Library/SMS/Attachments/01/IMG.jpeg', transfer_name = 'IMG_1.jpeg' "
                "WHERE ROWID = 1;");
        for (const std::int64_t id : {3, 4}) {
            db.Run("INSERT INTO chat_recoverable_message_join VALUES (1, ?1, ?2, 0)", {id, (t + 100 + id) * kNano});
            db.Run("INSERT INTO recoverable_message_part VALUES (1, ?1, 0, ?2, ?3, 0)",
                   {id, (t + 100 + id) * kNano, fixtures::ArchivedAttributedString(id == 3 ? "purged for good" : "still set aside")});
        }
        // Versions of the row in the log's commits: its handle not yet known, then known again.
        db.Exec("UPDATE message SET handle_id = 0 WHERE ROWID = 2;");
        db.Exec("UPDATE message SET handle_id = 1, service = 'iMessage', version = 0 WHERE ROWID = 2;"  // any version: still a row
                "DELETE FROM message WHERE ROWID = 2; DELETE FROM message_attachment_join WHERE message_id = 2;"
                "DELETE FROM attachment WHERE ROWID = 2; DELETE FROM chat_recoverable_message_join WHERE message_id = 3;"
                "DELETE FROM recoverable_message_part WHERE message_id = 3;");
        db.CloseKeepingLog();  // every version of the rows in the log
    }
    // The deleted photo's file is still beside the database.
    std::filesystem::create_directories(m_dir / "Attachments" / "02");
    std::ofstream(m_dir / "Attachments" / "02" / "IMG.jpeg", std::ios::binary) << "jpeg";
    ASSERT_EQ(OpenDatabaseFile(path.string()).outcome, OpenOutcome::OpenedIphone);
    RunDeepRecoverySteps(path.string());
    MarkAttachmentsPresent([&path](const std::string& phonePath) { return AttachmentBesideDatabase(path.string(), phonePath); },
                           true);
    const std::vector<MessageRecord>& found = g_store.currentReader->m_recovered;
    auto with = [&](auto test) { return std::count_if(found.begin(), found.end(), test); };
    // One find for the row, with its newest values and its other version listed.
    EXPECT_EQ(with([](const MessageRecord& m) { return m.body == "picture \xEF\xBF\xBC"; }), 1);
    EXPECT_EQ(with([](const MessageRecord& m) {
                  const auto& versions = m.details->versions;
                  return m.body == "picture \xEF\xBF\xBC" && m.kind == MessageKind::IMessage && m.address == "1" &&
                         std::any_of(versions.begin(), versions.end(), [](const RowVersion& v) { return v.address == "0"; });
              }),
              1);
    EXPECT_EQ(with([](const MessageRecord& m) {
                  const auto& files = m.details->attachments;
                  return files.size() == 1 && files[0].name == "IMG_2.jpeg" && files[0].mime == "image/jpeg" &&
                         files[0].size == 2048 && m.time == t + 2 && files[0].present;
              }),
              1);
    EXPECT_EQ(with([](const MessageRecord& m) {
                  return !m.details->attachments.empty() && m.details->attachments[0].name != "IMG_2.jpeg";
              }),
              0);
    EXPECT_EQ(with([](const MessageRecord& m) { return m.body == "still set aside"; }), 0);
    const auto purged = std::find_if(found.begin(), found.end(), [](const MessageRecord& m) { return m.body == "purged for good"; });
    ASSERT_NE(purged, found.end());
    EXPECT_EQ(purged->rowId, 3);
    EXPECT_EQ(purged->details->deletedTime, t + 103);
    EXPECT_EQ(purged->unassignedFlag, 0);  // in its chat's conversation, and there alone
    EXPECT_EQ(purged->recentlyDeleted, 0);  // no longer in "Recently Deleted"
    int shownIn = 0;
    for (int row = 0; row < g_store.conversationCount; ++row) {
        for (const ShownMessage& shown : CollectConversation(row)) {
            if (shown.message->body != "purged for good") continue;
            ++shownIn;
            EXPECT_EQ(g_store.conversations[row].address, "+15550001");
            EXPECT_EQ(shown.heading, "+15550001 None — deleted on 2023-03-08 20:28:23");
        }
    }
    EXPECT_EQ(shownIn, 1);
}

}  // namespace

namespace {

// A text part removed from a live MMS (a draft rewritten) comes back beside that message, in
// its conversation and at its time; the parts it still holds are not reported.
TEST_F(PhoneExtrasTest, AndroidDeepRecoveryOfAPartALiveMmsNoLongerHolds)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.Exec(fixtures::kAndroidMmsSchema);
        db.AddAndroidAddress("+15550001");
        db.Exec("INSERT INTO threads (_id, recipient_ids) VALUES (1, '1');");
        db.AddAndroidMms({.id = 1, .threadId = 1, .date = 1'600'000'100, .box = 3, .type = 128,
                          .from = "insert-address-token", .to = {"+15550001"}, .texts = {"still here", "first draft words"}});
        db.Exec("DELETE FROM part WHERE text = 'first draft words';");
    }
    ASSERT_EQ(OpenDatabaseFile(path.string()).outcome, OpenOutcome::OpenedAndroid);
    RunDeepRecoverySteps(path.string());
    const std::vector<MessageRecord>& found = g_store.currentReader->m_recovered;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].body, "first draft words");
    EXPECT_EQ(found[0].time, 1'600'000'100'000);
    EXPECT_EQ(found[0].status, MessageStatus::Draft);
    EXPECT_EQ(found[0].unassignedFlag, 0);
    EXPECT_EQ(g_store.conversations[found[0].countedIn].address, "+15550001");
}

}  // namespace

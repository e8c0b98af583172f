// Writes the sample databases under samples/: a small Android mmssms.db (with a "-wal" log
// holding the latest deletions), an iPhone sms.db of 2015 and one of today (with its "-wal"),
// all with deleted messages whose bytes are still in the files. Deterministic text and times; rerun with: kestrow-make-samples DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fixtures/Backups.h"
#include "fixtures/PhoneDb.h"

// The password of the encrypted backup sample (said in the README).
constexpr const char* kSamplePassword = "kestrow-sample";

namespace {

using fixtures::PhoneDb;

const std::vector<std::string> kPhrases = {
    "晚上一起吃饭吗？",
    "我到了，在门口等你",
    "明天的会议改到下午三点，记得带上合同。",
    "收到，谢谢！",
    "生日快乐🎂🎉 祝你天天开心",
    "路上注意安全，到家说一声",
    "好的👍",
    "Ça va ? On se voit au café de René à midi.",
    "Jürgen kommt später — viele Grüße aus München",
    "¿Dónde estás? Mañana vamos a la playa 🏖️",
    "Smörgåsbord at Björn's, 7pm. Bring the crème brûlée!",
    "Running late, 10 min",
    "Can you pick up milk on the way home?",
    "哈哈哈😂 太好笑了",
    "周末去爬山怎么样？天气预报说是晴天☀️",
    "I'll call you after the meeting.",
    "快递放在楼下的丰巢柜了，取件码 6642",
    "Merci beaucoup, à bientôt !",
    "😀😃😄😁",
    "老地方见",
};

struct Partner {
    std::string canonical;  // as canonical_addresses / handle.id keeps it
    std::string spelling;   // as individual messages carry it
};

const std::vector<Partner> kPartners = {
    {"+8613812345678", "13812345678"},
    {"13987654321", "+8613987654321"},
    {"10086", "10086"},
    {"+8615011112222", "+8615011112222"},
    {"18600001111", "18600001111"},
    {"+14155550123", "+14155550123"},
    {"+33612345678", "+33612345678"},
    {"13700137000", "13700137000"},
    {"+8613511223344", "13511223344"},
    {"95588", "95588"},
    {"+491701234567", "+491701234567"},
    {"15900009999", "15900009999"},
};

std::string Body(std::mt19937& random, int index)
{
    std::string body = kPhrases[random() % kPhrases.size()];
    if (random() % 3 == 0) body += " " + kPhrases[random() % kPhrases.size()];
    if (index % 37 == 0) body = "您的验证码是" + std::to_string(100000 + random() % 900000) + "，5分钟内有效，请勿泄露。";
    return body;
}

// A message longer than one 4096-byte page, so that it continues on overflow pages.
std::string LongBody()
{
    std::string body = "长消息 / long message: ";
    while (body.size() < 5000) body += "这是一段很长的文字，用来测试超过一页的短信。The quick brown fox jumps over the lazy dog. ";
    return body;
}

// Picture messages, a group thread of the first three partners with MMS from each of them and
// from the owner, a message not yet downloaded and a delivery report (which is no message).
// The pictures are small files in app_parts/ beside the database, as on the phone.
constexpr std::int64_t kDeletedMms = 20;  // the MMS the sample deletes again

void AddAndroidMms(PhoneDb& db, const std::filesystem::path& folder, std::int64_t seconds)
{
    db.Exec(fixtures::kAndroidMmsSchema);
    const std::int64_t group = static_cast<std::int64_t>(kPartners.size() + 1);
    db.Run("INSERT INTO threads (_id, recipient_ids, type) VALUES (?1, '1 2 3', 1)", {group});
    std::filesystem::create_directories(folder / "app_parts");
    const std::string parts = "/data/user_de/0/com.android.providers.telephony/app_parts/";
    auto picture = [&](const std::string& name, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
        std::ofstream(folder / "app_parts" / name, std::ios::binary) << fixtures::SmallPng(16, 12, red, green, blue);
        return fixtures::AndroidMms::File{"image/png", name.substr(name.find('_', 5) + 1), parts + name};
    };
    std::int64_t id = 1;
    auto next = [&] { return seconds += 600, seconds; };
    db.AddAndroidMms({.id = id++, .threadId = 1, .date = next(), .box = 1, .type = 132, .from = kPartners[0].canonical,
                      .texts = {"看看这张照片"}, .files = {picture("PART_1435600000000_sunset.png", 230, 120, 40)}});
    db.AddAndroidMms({.id = id++, .threadId = 1, .date = next(), .box = 2, .type = 128, .subject = "Re: photo",
                      .from = "insert-address-token", .to = {kPartners[0].canonical}, .texts = {"真漂亮！"}});
    db.AddAndroidMms({.id = id++, .threadId = group, .date = next(), .box = 2, .type = 128, .subject = "周末计划",
                      .from = "insert-address-token",
                      .to = {kPartners[0].canonical, kPartners[1].canonical, kPartners[2].canonical},
                      .texts = {"周六上午十点，公园门口集合", "带上水和零食"}});
    for (std::size_t p = 0; p < 3; ++p) {
        db.AddAndroidMms({.id = id++, .threadId = group, .date = next(), .box = 1, .type = 132, .from = kPartners[p].canonical,
                          .to = {kPartners[(p + 1) % 3].canonical, kPartners[(p + 2) % 3].canonical},
                          .texts = {kPhrases[p * 3]},
                          .files = p == 1 ? std::vector{picture("PART_1435700000000_map.png", 40, 160, 90)}
                                          : std::vector<fixtures::AndroidMms::File>{}});
    }
    // A photo whose file is gone from app_parts: listed, marked missing.
    db.AddAndroidMms({.id = id++, .threadId = group, .date = next(), .box = 1, .type = 132, .from = kPartners[1].canonical,
                      .files = {{"image/jpeg", "IMG_2041.jpg", parts + "PART_1435800000000_IMG_2041.jpg"}}});
    db.AddAndroidMms({.id = id++, .threadId = 4, .date = next(), .box = 1, .type = 130, .from = kPartners[3].canonical});
    db.AddAndroidMms({.id = id++, .threadId = 1, .date = next(), .box = 1, .type = 134, .from = kPartners[0].canonical});
    // A picture message deleted later (see MakeAndroid): the provider removed its file too.
    db.AddAndroidMms({.id = kDeletedMms, .threadId = 2, .date = next(), .box = 1, .type = 132, .from = kPartners[1].canonical,
                      .texts = {"这张别给别人看"}, .files = {{"image/jpeg", "IMG_2077.jpg", parts + "PART_1435900000000_IMG_2077.jpg"}}});
}

void MakeAndroid(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    const auto path = folder / "mmssms.db";
    std::mt19937 random(2015);
    PhoneDb db = PhoneDb::Android(path, {.writeAheadLog = true});
    db.Exec("BEGIN");
    for (std::size_t p = 0; p < kPartners.size(); ++p) {
        db.AddAndroidAddress(kPartners[p].canonical);
        db.Run("INSERT INTO threads (_id, recipient_ids) VALUES (?1, ?2)",
               {static_cast<std::int64_t>(p + 1), std::to_string(p + 1)});
    }
    std::int64_t date = 1'435'000'000'000;  // June 2015, milliseconds since 1970
    const int kMessages = 320;
    for (int i = 0; i < kMessages; ++i) {
        const std::size_t p = random() % kPartners.size();
        date += 60'000 + static_cast<std::int64_t>(random() % 40'000'000);
        db.AddAndroidSms({.address = kPartners[p].spelling,
                          .date = date,
                          .type = std::int64_t{random() % 2 ? 1 : 2},
                          .body = i == 150 ? LongBody() : Body(random, i),
                          .threadId = static_cast<std::int64_t>(p + 1),
                          .id = std::int64_t{1000 + i}});
    }
    // Messages of no conversation: an empty address, as drafts and some broadcasts have.
    db.AddAndroidSms({.address = "", .date = date + 1000, .type = 3, .body = "草稿：记得买票", .id = std::int64_t{2000}});
    // A message that failed to go out.
    db.AddAndroidSms({.address = kPartners[0].spelling, .date = date + 2000, .type = 5, .body = "发不出去？", .threadId = 1,
                      .id = std::int64_t{2001}});
    AddAndroidMms(db, folder, date / 1000);
    db.Exec("COMMIT");
    db.Checkpoint();

    // Older deletions: freed cells in the main file (secure delete is off).
    db.Exec("DELETE FROM sms WHERE _id IN (1005, 1017, 1030, 1044, 1061, 1078, 1090, 1102, 1119, "
            "1133, 1150, 1166, 1181, 1197, 1210, 1224, 1239, 1255, 1270, 1288);");
    // An MMS goes with its parts and addresses, as the provider's triggers delete them.
    db.Run("DELETE FROM part WHERE mid = ?1; ", {kDeletedMms});
    db.Run("DELETE FROM addr WHERE msg_id = ?1;", {kDeletedMms});
    db.Run("DELETE FROM pdu WHERE _id = ?1;", {kDeletedMms});
    db.Checkpoint();
    // The latest messages arrived after that checkpoint and were deleted again: they exist only
    // in the log, which a copy of a running phone carries along.
    db.Exec("BEGIN");
    for (int i = 0; i < 8; ++i) {
        const std::size_t p = random() % kPartners.size();
        date += 60'000 + static_cast<std::int64_t>(random() % 4'000'000);
        db.AddAndroidSms({.address = kPartners[p].spelling,
                          .date = date,
                          .type = std::int64_t{random() % 2 ? 1 : 2},
                          .body = Body(random, i) + " (" + std::to_string(i + 1) + ")",
                          .threadId = static_cast<std::int64_t>(p + 1),
                          .id = std::int64_t{3000 + i}});
    }
    db.Exec("COMMIT");
    db.Exec("DELETE FROM sms WHERE _id >= 3000;");
    db.CloseKeepingLog();
    std::filesystem::remove(path.string() + "-shm");
}

void MakeIphone(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    const auto path = folder / "sms.db";
    std::mt19937 random(2016);
    PhoneDb db = PhoneDb::Iphone(path, {.writeAheadLog = true});
    db.Exec("BEGIN");
    std::vector<std::string> handles;
    for (const Partner& partner : kPartners) handles.push_back(partner.canonical);
    handles[4] = "lin.wei@icloud.com";
    for (std::size_t h = 0; h < handles.size(); ++h) {
        const auto rowid = static_cast<std::int64_t>(h + 1);
        db.AddIphoneHandle(rowid, handles[h]);
        db.Run("INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name) "
               "VALUES (?1, ?2, 45, 3, ?3, 'SMS')",
               {rowid, "SMS;-;" + handles[h], handles[h]});
        db.Run("INSERT INTO chat_handle_join VALUES (?1, ?1)", {rowid});
    }
    std::int64_t date = 456'000'000;  // June 2015, seconds since 2001
    const int kMessages = 300;
    for (int i = 0; i < kMessages; ++i) {
        const auto handle = static_cast<std::int64_t>(random() % handles.size() + 1);
        date += 60 + static_cast<std::int64_t>(random() % 40'000);
        const std::int64_t rowid = 1000 + i;
        db.AddIphoneMessage({.text = i == 120 ? LongBody() : Body(random, i),
                             .handleId = handle,
                             .date = date,
                             .isFromMe = static_cast<std::int64_t>(random() % 2),
                             .id = rowid});
        db.Run("INSERT INTO chat_message_join VALUES (?1, ?2)", {handle, rowid});
    }
    db.Exec("COMMIT");
    db.Exec("DELETE FROM message WHERE ROWID IN (1003, 1021, 1042, 1057, 1068, 1084, 1099, 1113, "
            "1136, 1152, 1170, 1188, 1203, 1219, 1237, 1251, 1266, 1280);");
    db.Exec("DELETE FROM chat_message_join WHERE message_id NOT IN (SELECT ROWID FROM message);");
    db.Checkpoint();
    db.Close();
}

// A phone of today (iOS 16): nanosecond dates, many texts only in attributedBody, a group chat
// whose sent messages have handle_id 0, and deletions whose bytes stay in the file and in the
// "-wal" log that a copy of a running phone carries along.
// Files sent with messages, as the phone names them under ~/Library/ (the current iPhone sample
// keeps them beside its database, the backups in their MediaDomain).
std::vector<std::pair<std::string, std::string>> SampleAttachments()
{
    return {
        {"Library/SMS/Attachments/3a/10/6C3E0F8A-1B2C-4D5E-8F90-A1B2C3D4E5F6/note.txt", "Bring the blue folder, please.\n"},
        {"Library/SMS/Attachments/7f/15/0D9C8B7A-6E5F-4A3B-2C1D-0E9F8A7B6C5D/IMG_0001.vcf",
         "BEGIN:VCARD\nVERSION:3.0\nFN:Li Wei\nTEL:+8613812345678\nEND:VCARD\n"},
        {"Library/SMS/Attachments/b2/02/9E8D7C6B-5A4F-4E3D-8C2B-1A0F9E8D7C6B/IMG_0002.png", fixtures::SmallPng(24, 16, 60, 130, 210)},
    };
}

// What today's iPhones keep beyond the texts: a second, unnamed group, messages with
// attachments (files beside the database), "Recently Deleted" messages, an edited and an
// unsent message, one that failed, and a tapback.
template <typename Add>
void AddIphoneExtras(PhoneDb& db, const std::filesystem::path& folder, std::int64_t group, Add& add)
{
    const std::int64_t unnamed = group + 1;
    db.Run("INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name) "
           "VALUES (?1, 'SMS;+;chat771203', 43, 3, 'chat771203', 'SMS')", {unnamed});
    for (std::int64_t h = 4; h <= 5; ++h) db.Run("INSERT INTO chat_handle_join VALUES (?1, ?2)", {unnamed, h});
    add(5500, 4, unnamed, false, "On arrive samedi vers midi");
    add(5501, 5, unnamed, false, "Perfekt, ich hole euch ab");
    add(5502, 0, unnamed, true, "Thanks both!");

    const std::vector<std::pair<std::string, std::string>> files = SampleAttachments();
    const char* mimes[] = {"text/plain", "text/vcard", "image/png"};
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::filesystem::path file = folder / std::filesystem::path(files[k].first).lexically_relative("Library/SMS");
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << files[k].second;
        const auto rowid = static_cast<std::int64_t>(5510 + k);
        add(rowid, 1, 1, k == 2, k == 2 ? "\xEF\xBF\xBC" : "Here it is \xEF\xBF\xBC");
        db.Run("INSERT INTO attachment (ROWID, guid, filename, mime_type, transfer_name, total_bytes) "
               "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
               {rowid, "at_" + std::to_string(rowid), "~/" + files[k].first, std::string(mimes[k]),
                std::filesystem::path(files[k].first).filename().string(), static_cast<std::int64_t>(files[k].second.size())});
        db.Run("INSERT INTO message_attachment_join VALUES (?1, ?1)", {rowid});
    }
    // A photo the phone offloaded: its row names a file no copy holds.
    add(5513, 2, 2, false, "\xEF\xBF\xBC");
    db.Run("INSERT INTO attachment (ROWID, guid, filename, mime_type, transfer_name, total_bytes) VALUES (5513, 'at_5513', "
           "'~/Library/SMS/Attachments/0c/12/IMG_4410.HEIC', 'image/heic', 'IMG_4410.HEIC', 2431877)", {});
    db.Run("INSERT INTO message_attachment_join VALUES (5513, 5513)", {});
    // A photo message deleted later with its attachment row (see MakeIphoneCurrent).
    add(5514, 3, 3, true, "\xEF\xBF\xBC");
    db.Run("INSERT INTO attachment (ROWID, guid, created_date, filename, mime_type, transfer_name, total_bytes) VALUES "
           "(5514, 'at_5514', 700900000, '~/Library/SMS/Attachments/5e/14/IMG_5014.jpeg', 'image/jpeg', 'IMG_5014.jpeg', "
           "1820344)", {});
    db.Run("INSERT INTO message_attachment_join VALUES (5514, 5514)", {});

    add(5520, 3, 3, false, "See you at 7");
    db.Run("UPDATE message SET text = 'See you at 8', attributedBody = ?1, date_edited = date + 60000000000, "
           "message_summary_info = ?2 WHERE ROWID = 5520",
           {fixtures::ArchivedAttributedString("See you at 8"), fixtures::EditHistory({"See you at 7", "See you at 8"})});
    add(5521, 0, 3, true, "wrong chat, sorry");
    db.Run("UPDATE message SET text = NULL, attributedBody = NULL, date_retracted = date + 30000000000 WHERE ROWID = 5521", {});
    add(5522, 4, 4, true, "Le train a du retard");
    db.Run("UPDATE message SET error = 4, is_sent = 0 WHERE ROWID = 5522", {});
    // A tapback on the last message of the named group.
    add(5523, 2, group, false, "Loved \u201CThanks\u201D");
    db.Run("UPDATE message SET associated_message_type = 2000, associated_message_guid = 'p:0/' || "
           "(SELECT guid FROM message WHERE ROWID = (SELECT max(message_id) FROM chat_message_join WHERE chat_id = ?1 "
           "AND message_id < 5500)) WHERE ROWID = 5523", {group});
    // Two messages in "Recently Deleted": their rows stay, their texts wait in the parts table.
    // The third was purged from there later (see MakeIphoneCurrent).
    for (const auto& [rowid, text] : {std::pair<std::int64_t, std::string>{5530, "这条我删了"}, {5531, "Delete me later"},
                                      {5532, "Purged for good"}}) {
        const std::int64_t chat = rowid == 5530 ? 2 : 6;
        add(rowid, chat, chat, false, text);
        db.Run("UPDATE message SET text = NULL, attributedBody = NULL WHERE ROWID = ?1", {rowid});
        db.Run("DELETE FROM chat_message_join WHERE message_id = ?1", {rowid});
        db.Run("INSERT INTO chat_recoverable_message_join SELECT ?1, ?2, date + 86400000000000, 0 FROM message WHERE ROWID = ?2", {chat, rowid});
        db.Run("INSERT INTO recoverable_message_part SELECT ?1, ?2, 0, date + 86400000000000, ?3, 0 FROM message WHERE ROWID = ?2",
               {chat, rowid, fixtures::ArchivedAttributedString(text)});
    }
}

void MakeIphoneCurrent(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    const auto path = folder / "sms.db";
    std::mt19937 random(2023);
    PhoneDb db = PhoneDb::IphoneCurrent(path, {.writeAheadLog = true});
    db.Exec("BEGIN");
    const std::vector<std::string> handles = {"+14155550123", "+8613812345678", "mei.chen@icloud.com",
                                              "+33612345678", "+491701234567", "+15125550199"};
    for (std::size_t h = 0; h < handles.size(); ++h) {
        const auto rowid = static_cast<std::int64_t>(h + 1);
        db.AddIphoneHandle(rowid, handles[h]);
        db.Run("INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name) "
               "VALUES (?1, ?2, 45, 3, ?3, 'iMessage')",
               {rowid, "iMessage;-;" + handles[h], handles[h]});
        db.Run("INSERT INTO chat_handle_join VALUES (?1, ?1)", {rowid});
    }
    // A group chat of the first three partners.
    const std::int64_t group = static_cast<std::int64_t>(handles.size() + 1);
    db.Run("INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name) "
           "VALUES (?1, 'iMessage;+;chat482910', 43, 3, 'chat482910', 'iMessage')",
           {group});
    for (std::int64_t h = 1; h <= 3; ++h) db.Run("INSERT INTO chat_handle_join VALUES (?1, ?2)", {group, h});

    constexpr std::int64_t kNano = 1'000'000'000;
    std::int64_t seconds = 700'000'000;  // March 2023, seconds since 2001
    auto add = [&](std::int64_t rowid, std::int64_t handle, std::int64_t chat, bool fromMe, const std::string& body) {
        seconds += 30 + static_cast<std::int64_t>(random() % 20'000);
        const std::int64_t date = seconds * kNano + static_cast<std::int64_t>(random() % kNano);
        // From iOS 16 on most texts are kept only in the archived attributed string.
        const bool archivedOnly = random() % 3 != 0;
        db.AddIphoneMessage({.text = archivedOnly ? fixtures::Value(nullptr) : fixtures::Value(body),
                             .handleId = handle,
                             .date = date,
                             .isFromMe = std::int64_t{fromMe},
                             .id = rowid,
                             .attributedBody = fixtures::ArchivedAttributedString(body)});
        db.Run("INSERT INTO chat_message_join VALUES (?1, ?2)", {chat, rowid});
    };
    db.Exec(fixtures::kIphoneExtrasSchema);
    db.Run("UPDATE chat SET display_name = 'Weekend trip' WHERE ROWID = ?1", {group});
    const int kMessages = 280;
    for (int i = 0; i < kMessages; ++i) {
        const std::int64_t rowid = 5000 + i;
        if (i % 9 == 4) {
            // The group: received messages carry their sender, sent ones handle 0.
            const bool fromMe = random() % 2 == 0;
            add(rowid, fromMe ? 0 : static_cast<std::int64_t>(random() % 3 + 1), group, fromMe, Body(random, i));
        } else {
            const auto handle = static_cast<std::int64_t>(random() % handles.size() + 1);
            add(rowid, handle, handle, random() % 2 == 0, i == 140 ? LongBody() : Body(random, i));
        }
    }
    AddIphoneExtras(db, folder, group, add);
    db.Exec("COMMIT");
    db.Checkpoint();
    // Deletions whose freed cells stay in the main file.
    db.Exec("DELETE FROM message WHERE ROWID IN (5007, 5019, 5031, 5046, 5058, 5072, 5085, 5103, 5121, 5137, "
            "5150, 5166, 5184, 5199, 5213, 5230, 5248, 5262);");
    db.Exec("DELETE FROM chat_message_join WHERE message_id NOT IN (SELECT ROWID FROM message);");
    // A photo message deleted with its attachment row; a set-aside text purged.
    db.Exec("DELETE FROM message WHERE ROWID IN (5514, 5532); DELETE FROM message_attachment_join WHERE message_id = 5514;"
            "DELETE FROM attachment WHERE ROWID = 5514; DELETE FROM chat_recoverable_message_join WHERE message_id = 5532;"
            "DELETE FROM recoverable_message_part WHERE message_id = 5532;");
    db.Checkpoint();
    // The latest messages and deletions are still only in the log.
    db.Exec("BEGIN");
    for (int i = 0; i < 10; ++i) {
        const auto handle = static_cast<std::int64_t>(random() % handles.size() + 1);
        add(6000 + i, handle, handle, random() % 2 == 0, Body(random, i) + " [" + std::to_string(i + 1) + "]");
    }
    db.Exec("COMMIT");
    db.Exec("DELETE FROM message WHERE ROWID IN (6002, 6005, 6008, 5270);");
    db.Exec("DELETE FROM chat_message_join WHERE message_id NOT IN (SELECT ROWID FROM message);");
    db.CloseKeepingLog();
    std::filesystem::remove(path.string() + "-shm");
}

}  // namespace

// The samples' contacts, written as people type numbers: local and international forms, an
// e-mail address in other letters' case, and one number two people share (which names neither).
const std::vector<fixtures::Person> kIphoneContacts = {
    {"Wang Fang", {"(415) 555-0123"}, {}},  {"Chen Mei", {}, {"Mei.Chen@iCloud.com"}},
    {"Li Wei", {"138 1234 5678"}, {}},      {"Camille Martin", {"+33 6 12 34 56 78"}, {}},
    {"Jonas Becker", {"+49 170 1234567"}, {}}, {"Alex Brown", {"+1 512-555-0199"}, {}},
    {"Sam Brown", {"+1 512-555-0199"}, {}},
};
const std::vector<fixtures::Person> kAndroidContacts = {
    {"Li Wei", {"138 1234 5678"}, {}, "+8613812345678"}, {"Zhang Min", {"139-8765-4321"}, {}, "+8613987654321"},
    {"Wang Fang", {"+1 415-555-0123"}, {}},             {"China Mobile", {"10086"}, {}},
    {"Camille Martin", {"+33 6 12 34 56 78"}, {}},      {"Jonas Becker", {"+49 170 1234567"}, {}},
};

// Attachments the backups keep beside the messages, where the current iPhone sample's rows
// name them.
const std::vector<std::pair<std::string, std::string>> kAttachments = SampleAttachments();

// The containers people hold, made around the samples already written: a plain and an
// encrypted iPhone backup of the current iPhone sample with an address book, and an Android
// extraction archive of the Android sample (its database and log under data/user_de/0/, the
// contacts under data/user/0/).
void MakeContainers(const std::filesystem::path& root)
{
    namespace fs = std::filesystem;
    const fs::path iphone = root / "iphone-current" / "sms.db";
    const fixtures::TempDir scratch;
    fixtures::WriteIphoneAddressBook(scratch / "AddressBook.sqlitedb", kIphoneContacts);
    fixtures::WriteAndroidContacts(scratch / "contacts2.db", kAndroidContacts);
    for (const auto& [folder, password] : {std::pair{std::string("iphone-backup"), std::optional<std::string>()},
                                           std::pair{std::string("iphone-backup-encrypted"),
                                                     std::optional<std::string>(kSamplePassword)}}) {
        fs::remove_all(root / folder);
        fixtures::WriteIphoneBackup(iphone, root / folder / "00008030-000A1B2C3D4E5F60", password,
                                    fixtures::BackupDamage::None,
                                    {.addressBook = scratch / "AddressBook.sqlitedb", .attachments = kAttachments});
    }
    const std::string inside = "data/user_de/0/com.android.providers.telephony/databases/";
    std::vector<fixtures::ArchiveMember> members;
    for (const char* suffix : {"", "-wal"}) {
        if (!fs::exists(root / "android" / (std::string("mmssms.db") + suffix))) continue;
        std::ifstream in(root / "android" / (std::string("mmssms.db") + suffix), std::ios::binary);
        members.push_back({inside + "mmssms.db" + suffix, std::string(std::istreambuf_iterator<char>(in), {})});
    }
    // The picture messages' files, where the provider keeps them.
    for (const auto& part : fs::directory_iterator(root / "android" / "app_parts")) {
        std::ifstream in(part.path(), std::ios::binary);
        members.push_back({"data/user_de/0/com.android.providers.telephony/app_parts/" + part.path().filename().string(),
                           std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::ifstream contacts(scratch / "contacts2.db", std::ios::binary);
    members.push_back({"data/user/0/com.android.providers.contacts/databases/contacts2.db",
                       std::string(std::istreambuf_iterator<char>(contacts), {})});
    fs::create_directories(root / "android-extraction");
    fs::remove(root / "android-extraction" / "extraction.tar.gz");
    fixtures::WriteArchive(root / "android-extraction" / "extraction.tar.gz", members);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--containers") {
        const std::filesystem::path root = argc > 2 ? argv[2] : "samples";
        MakeContainers(root);
        std::printf("wrote the backups and the extraction under %s\n", root.c_str());
        return 0;
    }
    const std::filesystem::path root = argc > 1 ? argv[1] : "samples";
    try {
        MakeAndroid(root / "android");
        MakeIphone(root / "iphone");
        MakeIphoneCurrent(root / "iphone-current");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrow-make-samples: %s\n", error.what());
        return 1;
    }
    std::printf("wrote %s, %s and %s\n", (root / "android" / "mmssms.db").c_str(), (root / "iphone" / "sms.db").c_str(),
                (root / "iphone-current" / "sms.db").c_str());
    return 0;
}

// kestrow-cli as a user runs it: exit statuses, messages, text and JSON output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <iterator>
#include <nlohmann/json.hpp>

#include "StoreHelpers.h"
#include "fixtures/Backups.h"

namespace {

using fixtures::PhoneDb;
using nlohmann::json;

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliTest : public FreshStore {
protected:
    CliResult Run(const std::vector<std::string>& args)
    {
        std::string command = "TZ=UTC " + Quote(KESTROW_CLI_PATH);
        for (const auto& arg : args) command += " " + Quote(arg);
        const auto out = m_output / "out";
        const auto err = m_output / "err";
        command += " > " + Quote(out.string()) + " 2> " + Quote(err.string()) + " < /dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
    }

    // An Android database with two partners and three messages.
    std::filesystem::path Android(const std::filesystem::path& folder)
    {
        std::filesystem::create_directories(folder);
        const auto path = folder / "mmssms.db";
        fixtures::WriteTwoPartnerAndroid(path);
        return path;
    }

    fixtures::TempDir m_output;
};

TEST_F(CliTest, HelpVersionAndUsageErrors)
{
    const CliResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("conversations"), std::string::npos);
    EXPECT_NE(help.out.find("messages"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);

    const CliResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("kestrow-cli ") + KESTROW_VERSION + "\n");

    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"conversations"}).status, 2);
    EXPECT_EQ(Run({"frobnicate", "x"}).status, 2);
}

// Rows out of range say which rows there are; one conversation is "1 conversation"; an address
// too long for a file name still gets a file; a folder that cannot be made says why.
TEST_F(CliTest, RowsNamesAndFoldersAtTheirEdges)
{
    const auto path = Android(m_dir / "a");
    const CliResult negative = Run({"messages", "--conversation", "-1", path.string()});
    EXPECT_EQ(negative.status, 2);
    EXPECT_NE(negative.err.find("no conversation -1 in '" + path.string() + "': rows are 0 to 2"), std::string::npos)
        << negative.err;
    EXPECT_EQ(Run({"export", path.string(), "--to", (m_dir / "o").string(), "--rows", "-3"}).status, 2);
    const CliResult one = Run({"export", path.string(), "--to", (m_dir / "one").string(), "--rows", "2"});
    EXPECT_NE(one.out.find("Exported 1 conversation ("), std::string::npos) << one.out;

    const auto longPath = m_dir / "long" / "mmssms.db";
    std::filesystem::create_directories(longPath.parent_path());
    const std::string address(300, '7');
    {
        PhoneDb db = PhoneDb::Android(longPath);
        for (const std::string& a : {address, address + "8"}) {
            db.AddAndroidAddress(a);
            db.AddAndroidSms({.address = a, .date = std::int64_t{1'600'000'000'000}, .body = "long"});
        }
    }
    const CliResult longNames = Run({"export", longPath.string(), "--to", (m_dir / "out").string(), "--all"});
    EXPECT_EQ(longNames.status, 0) << longNames.err;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir / "out")) names.insert(entry.path().filename());
    EXPECT_EQ(names.size(), 3u);  // Ungrouped and the two long ones, each its own file

    std::ofstream(m_dir / "plain") << "a file";
    const CliResult blocked = Run({"export", path.string(), "--to", (m_dir / "plain" / "sub").string(), "--all"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("Not a directory"), std::string::npos) << blocked.err;
}

TEST_F(CliTest, TheNameOrTheTablesDecideTheKindAndFileErrorsNameTheFile)
{
    std::ofstream(m_dir / "chat.db") << "plain text";
    const CliResult wrongName = Run({"conversations", (m_dir / "chat.db").string()});
    EXPECT_EQ(wrongName.status, 2);
    EXPECT_NE(wrongName.err.find("chat.db"), std::string::npos);
    EXPECT_NE(wrongName.err.find("mmssms.db"), std::string::npos);
    EXPECT_NE(wrongName.err.find("sms.db"), std::string::npos);
    PhoneDb(m_dir / "old_mmssms.db").Exec("CREATE TABLE notes (text TEXT);");
    EXPECT_EQ(Run({"conversations", (m_dir / "old_mmssms.db").string()}).status, 2);
    EXPECT_EQ(Run({"conversations", (m_dir / "missing.db").string()}).status, 1);

    // A backup keeps the database under a name of its own: the tables tell.
    const auto backup = m_dir / "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    fixtures::WriteTwoPartnerAndroid(backup);
    const CliResult byTables = Run({"conversations", "--json", backup.string()});
    EXPECT_EQ(byTables.status, 0);
    EXPECT_EQ(json::parse(byTables.out)["kind"], "android");

    const auto missing = (m_dir / "mmssms.db").string();
    const CliResult notThere = Run({"conversations", missing});
    EXPECT_EQ(notThere.status, 1);
    EXPECT_NE(notThere.err.find(missing), std::string::npos);
    EXPECT_NE(notThere.err.find("No such file"), std::string::npos);

    // A folder is a backup or an extraction, or no source at all.
    std::filesystem::create_directory(m_dir / "sms.db");
    const CliResult folder = Run({"messages", (m_dir / "sms.db").string()});
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find("is a folder that holds neither an iPhone backup"), std::string::npos) << folder.err;

    // Not a database, or empty: nothing can be read, and the status says so.
    const auto junk = m_dir / "x" / "MMSSMS.DB";
    std::filesystem::create_directory(m_dir / "x");
    std::ofstream(junk) << "plain text";
    const CliResult text = Run({"conversations", "--json", junk.string()});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("not an SQLite"), std::string::npos);
    EXPECT_EQ(text.out, "");
    std::ofstream(junk, std::ios::trunc).close();
    EXPECT_EQ(Run({"recover", junk.string()}).status, 1);
    // Random bytes, as an encrypted backup keeps the file: said to be encrypted.
    {
        std::ofstream out(junk, std::ios::binary | std::ios::trunc);
        std::mt19937 random(5);
        for (int i = 0; i < 8192; ++i) out.put(static_cast<char>(random() & 0xFF));
    }
    const CliResult encrypted = Run({"messages", junk.string()});
    EXPECT_EQ(encrypted.status, 1);
    EXPECT_NE(encrypted.err.find("is encrypted"), std::string::npos) << encrypted.err;

    // A backslash separates the name too.
    const auto backslash = m_dir / "phone\\mmssms.db";
    std::filesystem::copy_file(junk, backslash);
    const CliResult named = Run({"conversations", backslash.string()});
    EXPECT_EQ(named.status, 1);  // taken as Android (not "no message database", 2), but empty
    EXPECT_NE(named.err.find("is encrypted"), std::string::npos);  // a copy of the random bytes above
}

// An iPhone backup folder (hashed file names listed in Manifest.db, the log a file of its own)
// and an Android extraction with two users read as their databases do, and stay as they were.
TEST_F(CliTest, BackupsAndExtractionsAreReadWhereTheyLie)
{
    const auto loose = m_dir / "loose";
    std::filesystem::create_directories(loose);
    {
        PhoneDb db = PhoneDb::Iphone(loose / "sms.db", {.writeAheadLog = true});
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "in the main file", .handleId = 1, .date = std::int64_t{700'000'000}});
        db.Checkpoint();
        db.AddIphoneMessage({.text = "only in the log", .handleId = 1, .date = std::int64_t{700'000'100}});
        db.CloseKeepingLog();
    }
    const std::string expected = Run({"messages", (loose / "sms.db").string()}).out;
    EXPECT_NE(expected.find("only in the log"), std::string::npos);
    const auto backup = m_dir / "backup";
    fixtures::WriteIphoneBackup(loose / "sms.db", backup);
    const auto before = fixtures::SnapshotFolder(backup);
    const CliResult fromBackup = Run({"messages", backup.string()});
    EXPECT_EQ(fromBackup.status, 0) << fromBackup.err;
    EXPECT_EQ(fromBackup.out, expected);
    EXPECT_EQ(Run({"recover", "--deep", backup.string()}).status, 0);
    EXPECT_TRUE(fixtures::SnapshotFolder(backup) == before);

    // Encrypted: the password from a file, from the environment, or refused when wrong.
    const auto locked = m_dir / "locked";
    fixtures::WriteIphoneBackup(loose / "sms.db", locked, "correct horse");
    const auto lockedBefore = fixtures::SnapshotFolder(locked);
    std::ofstream(m_dir / "password") << "correct horse\n";
    const CliResult unlocked = Run({"messages", "--password-file", (m_dir / "password").string(), locked.string()});
    EXPECT_EQ(unlocked.status, 0) << unlocked.err;
    EXPECT_EQ(unlocked.out, expected);
    ::setenv("KESTROW_PASSWORD", "wrong", 1);
    const CliResult wrong = Run({"messages", locked.string()});
    ::unsetenv("KESTROW_PASSWORD");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("is wrong"), std::string::npos) << wrong.err;
    EXPECT_TRUE(fixtures::SnapshotFolder(locked) == lockedBefore);

    const auto extraction = m_dir / "extraction";
    for (const char* user : {"0", "10"}) {
        const auto folder = extraction / "data" / "user_de" / user / "com.android.providers.telephony" / "databases";
        std::filesystem::create_directories(folder);
        PhoneDb db = PhoneDb::Android(folder / "mmssms.db");
        db.AddAndroidAddress("5550001");
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'000'000}, .body = std::string("user ") + user});
    }
    const auto extractionBefore = fixtures::SnapshotFolder(extraction);
    const CliResult first = Run({"messages", extraction.string()});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("user 0"), std::string::npos);
    EXPECT_NE(first.err.find("users 0, 10; reading user 0"), std::string::npos) << first.err;
    EXPECT_NE(Run({"messages", "--user", "10", extraction.string()}).out.find("user 10"), std::string::npos);
    const CliResult absent = Run({"messages", "--user", "5", extraction.string()});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("no messages of user 5 (users: 0, 10)"), std::string::npos) << absent.err;
    EXPECT_TRUE(fixtures::SnapshotFolder(extraction) == extractionBefore);

    // The same extraction as archives, with hostile members beside: a path climbing out, a
    // link pointing out, a link where the database should be. Only the database is taken.
    const std::string database = ReadFile(extraction / "data/user_de/10/com.android.providers.telephony/databases/mmssms.db");
    const std::string inside = "phone/data/user_de/10/com.android.providers.telephony/databases/";
    for (const char* name : {"extraction.tgz", "extraction.zip"}) {
        const auto archive = m_dir / name;
        fixtures::WriteArchive(archive, {{"../../outside.txt", "escaped"},
                                         {"/tmp/kestrow-absolute.txt", "escaped"},
                                         {"phone/data/user_de/0/com.android.providers.telephony/databases/mmssms.db", "/etc/passwd", true},
                                         {inside + "mmssms.db", database},
                                         {inside + "../databases/mmssms.db-wal", "not followed"}});
        const std::string archiveBefore = ReadFile(archive);
        const CliResult archived = Run({"messages", archive.string()});
        EXPECT_EQ(ReadFile(archive), archiveBefore);
        EXPECT_EQ(archived.status, 0) << name << archived.err;
        EXPECT_NE(archived.out.find("user 10"), std::string::npos) << name;
        EXPECT_FALSE(std::filesystem::exists(m_dir.Path().parent_path() / "outside.txt"));
        EXPECT_FALSE(std::filesystem::exists("/tmp/kestrow-absolute.txt"));
    }
    // A private folder a crashed run left behind goes at the next start; a running one's stays.
    const auto temporary = m_dir / "tmp";
    std::filesystem::create_directories(temporary / "kestrow-source-4194303-abcdef" / "x");
    std::filesystem::create_directories(temporary / ("kestrow-read-" + std::to_string(::getpid()) + "-abcdef"));
    ::setenv("TMPDIR", temporary.c_str(), 1);
    EXPECT_EQ(Run({"messages", (m_dir / "extraction.zip").string()}).status, 0);
    ::unsetenv("TMPDIR");
    EXPECT_FALSE(std::filesystem::exists(temporary / "kestrow-source-4194303-abcdef"));
    EXPECT_TRUE(std::filesystem::exists(temporary / ("kestrow-read-" + std::to_string(::getpid()) + "-abcdef")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temporary), {}), 1);  // the run's own folder went too

    const auto truncated = m_dir / "cut.tgz";
    std::filesystem::copy_file(m_dir / "extraction.tgz", truncated);
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) / 2);
    const CliResult cut = Run({"messages", truncated.string()});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("is damaged or truncated"), std::string::npos) << cut.err;
}

// A picture message in an extraction archive: listed at hand, and its file taken out of the
// archive into the HTML page.
TEST_F(CliTest, AnArchivesPicturesGoIntoTheHtmlPage)
{
    const std::string parts = "data/user_de/0/com.android.providers.telephony/app_parts/";
    {
        PhoneDb db = PhoneDb::Android(m_dir / "mmssms.db");
        db.Exec(fixtures::kAndroidMmsSchema);
        db.AddAndroidAddress("5550001");
        db.AddAndroidMms({.id = 1, .date = std::int64_t{1'600'000'000}, .from = "5550001", .texts = {"look"},
                          .files = {{"image/png", "cat.png", "/" + parts + "PART_1_cat.png"}}});
    }
    const auto archive = m_dir / "extraction.tgz";
    fixtures::WriteArchive(archive, {{"data/user_de/0/com.android.providers.telephony/databases/mmssms.db", ReadFile(m_dir / "mmssms.db")},
                                     {parts + "PART_1_cat.png", fixtures::SmallPng(2, 2, 9, 9, 9)}});
    const CliResult listed = Run({"messages", archive.string()});
    EXPECT_NE(listed.out.find("📎 cat.png — image/png\n"), std::string::npos) << listed.out;  // at hand: not "missing"
    const auto out = m_dir / "page";
    ASSERT_EQ(Run({"export", archive.string(), "--to", out.string(), "--all", "--format", "html", "--single"}).status, 0);
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1);
    const std::string page = ReadFile(std::filesystem::directory_iterator(out)->path());
    EXPECT_NE(page.find("<img src=\"data:image/png;base64,"), std::string::npos);
}

// Files other than small pictures (a card, a picture over 5 MB) are copied into a new folder
// beside the HTML report and linked relatively; a second export makes a folder of its own and
// replaces nothing.
TEST_F(CliTest, AnHtmlReportLinksCopiesOfItsOtherFiles)
{
    const auto sms = m_dir / "Library" / "SMS";
    std::filesystem::create_directories(sms / "Attachments" / "0a");
    std::ofstream(sms / "Attachments" / "0a" / "my card.vcf", std::ios::binary) << "BEGIN:VCARD";
    std::ofstream(sms / "Attachments" / "0a" / "big.jpeg", std::ios::binary) << std::string(5 * 1024 * 1024 + 1, 'j');
    {
        PhoneDb db = PhoneDb::IphoneCurrent(sms / "sms.db");
        db.Exec(fixtures::kIphoneExtrasSchema);
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "\xEF\xBF\xBC", .handleId = 1, .date = std::int64_t{700'000'000}, .id = std::int64_t{1}});
        db.Exec("INSERT INTO attachment (ROWID, guid, filename, mime_type, transfer_name, total_bytes) VALUES "
                "(1, 'a1', '~/Library/SMS/Attachments/0a/my card.vcf', 'text/vcard', 'my card.vcf', 11), "
                "(2, 'a2', '~/Library/SMS/Attachments/0a/big.jpeg', 'image/jpeg', 'big.jpeg', 5242881);"
                "INSERT INTO message_attachment_join VALUES (1, 1), (1, 2);");
    }
    const auto before = fixtures::SnapshotFolder(m_dir / "Library");
    const auto out = m_dir / "out";
    for (const char* folder : {"attachments", "attachments (2)"}) {
        const CliResult result = Run({"export", (sms / "sms.db").string(), "--to", out.string(), "--all", "--format", "html", "--single"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(ReadFile(out / folder / "my card.vcf"), "BEGIN:VCARD");
        EXPECT_EQ(std::filesystem::file_size(out / folder / "big.jpeg"), 5u * 1024 * 1024 + 1);
        EXPECT_NE(result.out.find("copied into " + (out / folder).string()), std::string::npos) << result.out;
    }
    std::vector<std::string> pages;
    for (const auto& file : std::filesystem::directory_iterator(out)) {
        if (file.path().extension() == ".html") pages.push_back(ReadFile(file.path()));
    }
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_NE((pages[0] + pages[1]).find("<a href=\"attachments%20%282%29/my%20card.vcf\">my card.vcf</a>"), std::string::npos);
    EXPECT_NE((pages[0] + pages[1]).find("<img src=\"attachments/big.jpeg\""), std::string::npos);
    EXPECT_EQ((pages[0] + pages[1]).find(";base64,"), std::string::npos);  // neither file is inside a page
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir / "Library") == before) << "the source changed";
}

TEST_F(CliTest, ContactsNameTheConversationsInEveryOutput)
{
    const auto path = Android(m_dir / "a");
    const auto contacts = m_dir / "contacts2.db";
    fixtures::WriteAndroidContacts(contacts, {{"Li Wei", {"138 1234 5678"}, {}}, {"China Mobile", {"10086"}, {}}});
    const CliResult list = Run({"conversations", "--contacts", contacts.string(), path.string()});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("Quantity  Name\n"), std::string::npos) << list.out;
    EXPECT_NE(list.err.find("2 of 2 conversations named"), std::string::npos) << list.err;
    const json conversations = json::parse(Run({"conversations", "--json", "--contacts", contacts.string(), path.string()}).out);
    EXPECT_EQ(conversations["conversations"][1]["names"], json::parse(R"(["Li Wei"])"));
    const json messages = json::parse(Run({"messages", "--json", "--contacts", contacts.string(), path.string()}).out);
    EXPECT_EQ(messages["messages"][1]["sender_name"], "Li Wei");
    EXPECT_TRUE(messages["messages"][2]["sender_name"].is_null());  // sent by the phone's owner
    EXPECT_NE(Run({"messages", "-c", "1", "--contacts", contacts.string(), path.string()}).out.find("Li Wei (13812345678) 2015"),
              std::string::npos);

    const CliResult region = Run({"conversations", "--region", "XX", path.string()});
    EXPECT_EQ(region.status, 2);
    EXPECT_NE(region.err.find("unknown region 'XX'"), std::string::npos) << region.err;
    const CliResult missing = Run({"conversations", "--contacts", (m_dir / "none.db").string(), path.string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot read the contacts"), std::string::npos) << missing.err;

    // A backup's own address book names its conversations (the region from its handles).
    const auto loose = m_dir / "loose";
    std::filesystem::create_directories(loose);
    {
        PhoneDb db = PhoneDb::Iphone(loose / "sms.db");
        db.AddIphoneHandle(1, "+4915112345678");
        db.Exec("UPDATE handle SET country = 'de';");
        db.AddIphoneMessage({.text = "hallo", .handleId = 1, .date = std::int64_t{700'000'000}});
    }
    fixtures::WriteIphoneAddressBook(loose / "AddressBook.sqlitedb", {{"Jonas", {"0151 12345678"}, {}}});
    fixtures::WriteIphoneBackup(loose / "sms.db", m_dir / "backup", std::nullopt, fixtures::BackupDamage::None,
                                {.addressBook = loose / "AddressBook.sqlitedb"});
    const json backup = json::parse(Run({"conversations", "--json", (m_dir / "backup").string()}).out);
    EXPECT_EQ(backup["conversations"][1]["names"], json::parse(R"(["Jonas"])"));
}

TEST_F(CliTest, ConversationsAsJsonAndAsAlignedText)
{
    const auto path = Android(m_dir / "a");
    const CliResult result = Run({"conversations", "--json", path.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const json parsed = json::parse(result.out);
    EXPECT_EQ(parsed["database"], path.string());
    EXPECT_EQ(parsed["kind"], "android");
    const json expected = json::parse(R"([
      {"row": 0, "address": "Ungrouped", "key": "", "recent_time": 0, "recent_time_text": "None",
       "message_count": 0, "recovered_count": 0, "catch_all": true, "names": [],
       "group": false, "title": "", "members": [], "recently_deleted_count": 0},
      {"row": 1, "address": "13812345678", "key": "", "recent_time": 1439532060000,
       "recent_time_text": "2015-08-14 06:01:00", "message_count": 2, "recovered_count": 0,
       "catch_all": false, "names": [null],
       "group": false, "title": "", "members": ["+8613812345678"], "recently_deleted_count": 0},
      {"row": 2, "address": "10086", "key": "", "recent_time": 1439000000000,
       "recent_time_text": "2015-08-08 02:13:20", "message_count": 1, "recovered_count": 0,
       "catch_all": false, "names": [null],
       "group": false, "title": "", "members": ["10086"], "recently_deleted_count": 0}])");
    EXPECT_EQ(parsed["conversations"], expected);

    const CliResult text = Run({"conversations", path.string()});
    ASSERT_EQ(text.status, 0);
    EXPECT_EQ(text.out,
              "Row  Phone Number  Recent Time          Quantity\n"
              "0    Ungrouped     None                 0\n"
              "1    13812345678   2015-08-14 06:01:00  2\n"
              "2    10086         2015-08-08 02:13:20  1\n");
}

TEST_F(CliTest, MessagesInListOrderAndOneConversation)
{
    const auto path = Android(m_dir / "a");
    const CliResult text = Run({"messages", path.string()});
    ASSERT_EQ(text.status, 0);
    EXPECT_EQ(text.out,
              "10086 2015-08-08 02:13:20\nbalance\n\n"
              "13812345678 2015-08-14 06:00:00\n你好\n\n"
              "Me 2015-08-14 06:01:00\nhi\nthere\n\n");

    // Search: the messages that hold the text, with the text around the hit.
    const json found = json::parse(Run({"search", "--json", "-i", path.string(), "THERE"}).out);
    ASSERT_EQ(found["hits"].size(), 1u);
    EXPECT_EQ(found["hits"][0]["context"], "hi there");
    EXPECT_EQ(found["hits"][0]["row"], 1);
    EXPECT_EQ(found["hits"][0]["at"], 3);
    EXPECT_EQ(Run({"search", "--since", "last week", path.string(), "hi"}).status, 2);
    EXPECT_EQ(Run({"search", "--until", "2015-08-13", path.string(), "a"}).out, "2  2015-08-08 02:13:20  10086  balance\n");

    // Another zone by its name; an unknown one is a usage error.
    EXPECT_NE(Run({"messages", "--tz", "Asia/Shanghai", path.string()}).out.find("13812345678 2015-08-14 14:00:00\n"),
              std::string::npos);
    const CliResult zone = Run({"messages", "--tz", "Mars/Olympus", path.string()});
    EXPECT_EQ(zone.status, 2);
    EXPECT_NE(zone.err.find("unknown time zone 'Mars/Olympus'"), std::string::npos) << zone.err;

    const json parsed = json::parse(Run({"messages", "--json", path.string()}).out);
    ASSERT_EQ(parsed["messages"].size(), 3u);
    EXPECT_EQ(parsed["messages"][1], json::parse(R"({"body": "你好", "from_me": false,
        "time": 1439532000123, "time_text": "2015-08-14 06:00:00", "address": "13812345678",
        "recovered": false, "row": 1, "sender_name": null, "kind": "sms", "sender": "13812345678",
        "subject": "", "status": "ok", "attachments": [], "recently_deleted": false, "truncated": false})"));
    EXPECT_EQ(parsed["messages"][0]["row"], 2);  // 10086, listed after the newer conversation

    const CliResult one = Run({"messages", "--conversation", "1", path.string()});
    EXPECT_EQ(one.out, "13812345678 2015-08-14 06:00:00\n你好\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n");
    EXPECT_EQ(Run({"messages", "-c", "3", path.string()}).status, 2);

    // Reports name members and senders as the phone stored them; the display drops "+86".
    const auto stored = m_dir / "stored" / "mmssms.db";
    std::filesystem::create_directories(stored.parent_path());
    {
        PhoneDb db = PhoneDb::Android(stored);
        db.AddAndroidAddress("+8613800138000");
        db.AddAndroidSms({.address = "+8613800138000", .date = std::int64_t{1'439'532'000'000}, .body = "stored so"});
    }
    const json message = json::parse(Run({"messages", "--json", stored.string()}).out)["messages"][0];
    EXPECT_EQ(message["address"], "13800138000");
    EXPECT_EQ(message["sender"], "+8613800138000");
    const json partner = json::parse(Run({"conversations", "--json", stored.string()}).out)["conversations"][1];
    EXPECT_EQ(partner["members"], json::parse(R"(["+8613800138000"])"));
    EXPECT_EQ(partner["title"], "");
}

TEST_F(CliTest, IphoneTextsThatAreNotUtf8AreReplacedInJson)
{
    const auto folder = m_dir / "i";
    std::filesystem::create_directory(folder);
    {
        PhoneDb db = PhoneDb::Iphone(folder / "sms.db");
        db.Exec("INSERT INTO handle (ROWID, id, service) VALUES (5, CAST(X'FF2B3836313233' AS TEXT), 'SMS');");
        db.AddIphoneMessage({.text = "hello", .handleId = 5, .date = std::int64_t{461'234'567}});
    }
    const CliResult result = Run({"conversations", "--json", (folder / "sms.db").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const json parsed = json::parse(result.out);
    EXPECT_EQ(parsed["kind"], "iphone");
    EXPECT_EQ(parsed["conversations"][1]["address"], "\xEF\xBF\xBD+86123");
    EXPECT_EQ(parsed["conversations"][1]["key"], "5");

    // Received iPhone messages are headed with the partner's number, not the handle key.
    const CliResult text = Run({"messages", (folder / "sms.db").string()});
    EXPECT_EQ(text.out, "\xEF\xBF\xBD+86123 2015-08-14 08:42:47\nhello\n\n");
}

TEST_F(CliTest, TheCompanionChangesNothingOnDisk)
{
    const auto folder = m_dir / "w";
    std::filesystem::create_directory(folder);
    {
        PhoneDb db = PhoneDb::Android(folder / "mmssms.db", {.writeAheadLog = true});
        db.AddAndroidAddress("5550001");
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'439'532'000'000}, .body = "in the log"});
        db.CloseKeepingLog();
    }
    const auto before = fixtures::SnapshotFolder(folder);
    EXPECT_EQ(Run({"conversations", (folder / "mmssms.db").string()}).status, 0);
    EXPECT_EQ(Run({"messages", "--json", (folder / "mmssms.db").string()}).status, 0);
    EXPECT_TRUE(fixtures::SnapshotFolder(folder) == before);
}

TEST_F(CliTest, RecoverPrintsTheFindsAndTheirConversations)
{
    const auto folder = m_dir / "r";
    std::filesystem::create_directory(folder);
    {
        PhoneDb db = PhoneDb::Android(folder / "mmssms.db");
        db.AddAndroidAddress("+8613812345678");
        for (int i = 0; i < 20; ++i) {
            db.AddAndroidSms({.address = "13812345678", .date = std::int64_t{1'439'532'000'000} + i,
                              .type = 1, .body = "message number " + std::to_string(i) + " 你好",
                              .id = std::int64_t{500 + i}});
        }
        db.Exec("DELETE FROM sms WHERE _id = 507;");
    }
    const auto before = fixtures::SnapshotFolder(folder);
    const CliResult result = Run({"recover", "--json", (folder / "mmssms.db").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const json parsed = json::parse(result.out);
    EXPECT_EQ(parsed["kind"], "android");
    EXPECT_EQ(parsed["scanned"], (folder / "mmssms.db").string());
    EXPECT_EQ(parsed["page_size"], 4096);
    EXPECT_EQ(parsed["counting_found"], parsed["filling_found"]);
    EXPECT_TRUE(parsed["discarded"].is_number_integer());  // fragments left out, beside the counts
    EXPECT_EQ(parsed["recovered_count"], 1);
    EXPECT_EQ(parsed["recovered"], json::parse(R"([{"body": "message number 7 你好", "from_me": false,
        "time": 1439532000007, "time_text": "2015-08-14 06:00:00", "address": "13812345678",
        "sender_name": null, "spill": false, "unassigned": false, "kind": "sms", "sender": "13812345678",
        "subject": "", "status": "ok", "attachments": [], "recently_deleted": false, "truncated": false}])"));
    EXPECT_EQ(parsed["conversations"][1]["recovered_count"], 1);

    const CliResult text = Run({"recover", (folder / "mmssms.db").string()});
    EXPECT_NE(text.out.find("Totally 1 short messages are successfully recovered."), std::string::npos);
    EXPECT_NE(text.out.find("13812345678   2015-08-14 06:00:00  19(1)"), std::string::npos);
    EXPECT_NE(text.out.find("13812345678 2015-08-14 06:00:00\nmessage number 7 你好\n"), std::string::npos);
    EXPECT_TRUE(fixtures::SnapshotFolder(folder) == before);  // nothing renamed or written
}

TEST_F(CliTest, RecoverExplainsWhatItCouldNotDo)
{
    const auto folder = m_dir / "i";
    std::filesystem::create_directory(folder);
    {
        PhoneDb db(folder / "sms.db");
        db.Exec("CREATE TABLE other (x INTEGER);");
    }
    EXPECT_EQ(Run({"recover", "--alternate", (folder / "sms.db").string()}).status, 2);
    const CliResult noTable = Run({"recover", (folder / "sms.db").string()});
    EXPECT_EQ(noTable.status, 1);  // nothing read, nothing found
    EXPECT_NE(noTable.err.find("message table could not be read"), std::string::npos);
    EXPECT_NE(noTable.out.find("Totally 0 short messages"), std::string::npos);
}

TEST_F(CliTest, ExportWritesTheChosenConversations)
{
    const auto path = Android(m_dir / "a");
    const auto out = m_dir / "out";
    std::filesystem::create_directory(out);
    const CliResult rows = Run({"export", path.string(), "--to", out.string(), "--rows", "1,2"});
    ASSERT_EQ(rows.status, 0) << rows.err;
    EXPECT_NE(rows.out.find("Exported 2 conversations (3 messages, 0 recovered) to " + out.string() + "."),
              std::string::npos);
    // Only the messages of the time range, when one is given.
    const auto ranged = m_dir / "ranged";
    ASSERT_EQ(Run({"export", path.string(), "--to", ranged.string(), "--rows", "1", "--since", "2015-08-14 06:00:30"}).status, 0);
    EXPECT_EQ(ReadFile(ranged / "13812345678.txt"), "Times in UTC\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n");
    EXPECT_EQ(Run({"export", path.string(), "--to", ranged.string(), "--all", "--until", "soon"}).status, 2);
    const auto kinds = m_dir / "kinds";
    ASSERT_EQ(Run({"export", path.string(), "--to", kinds.string(), "--rows", "1", "--kind", "mms"}).status, 0);
    EXPECT_EQ(ReadFile(kinds / "13812345678.txt"), "Times in UTC\n\n");  // these are SMS
    EXPECT_EQ(Run({"export", path.string(), "--to", kinds.string(), "--all", "--kind", "fax"}).status, 2);

    // A text file names the zone of its times first (the tests run in UTC).
    EXPECT_EQ(ReadFile(out / "13812345678.txt"),
              "Times in UTC\n\n13812345678 2015-08-14 06:00:00\n你好\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n");
    EXPECT_EQ(ReadFile(out / "10086.txt"), "Times in UTC\n\n10086 2015-08-08 02:13:20\nbalance\n\n");

    const CliResult single = Run({"export", path.string(), "--to", out.string(), "--single", "--with-messages"});
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_NE(single.out.find("SMS-mmssms.db-"), std::string::npos);

    EXPECT_EQ(Run({"export", path.string(), "--to", out.string(), "--rows", "7"}).status, 2);
    EXPECT_EQ(Run({"export", path.string(), "--to", out.string()}).status, 2);  // nothing chosen
    EXPECT_EQ(Run({"export", path.string(), "--to", out.string(), "--all", "--rows", "1"}).status, 2);
    const CliResult notFolder = Run({"export", path.string(), "--to", (out / "10086.txt").string(), "--all"});
    EXPECT_EQ(notFolder.status, 1);
    EXPECT_NE(notFolder.err.find("10086.txt"), std::string::npos);
}

TEST_F(CliTest, ExportReportsIntoAFolderItMakes)
{
    const auto path = Android(m_dir / "a");
    const auto out = m_dir / "new" / "nested";  // neither exists yet
    const CliResult html = Run({"export", path.string(), "--to", out.string(), "--all", "--single", "--format", "html"});
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_EQ(html.err, "");
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(out)) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".html");
    const std::string page = ReadFile(files[0]);
    EXPECT_NE(page.find("你好"), std::string::npos);
    EXPECT_NE(page.find("SHA-256"), std::string::npos);

    const CliResult report = Run({"export", path.string(), "--to", out.string(), "--rows", "2", "--format", "json"});
    ASSERT_EQ(report.status, 0) << report.err;
    const json parsed = json::parse(ReadFile(out / "10086.json"));
    EXPECT_EQ(parsed["report"]["database"], path.string());
    EXPECT_EQ(parsed["report"]["unchanged"], true);
    EXPECT_EQ(parsed["conversations"][0]["messages"][0]["body"], "balance");

    const CliResult bad = Run({"export", path.string(), "--to", out.string(), "--all", "--format", "xml"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("xml"), std::string::npos) << bad.err;
}

}  // namespace

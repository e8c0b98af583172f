// The deep recovery on databases that put deleted messages in every place: freeblocks,
// unallocated space, freelist pages, older log frames, journal pages, overflow chains whole
// and broken, rows of a table's earlier form and two-byte headers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "RecordBytes.h"
#include "StoreHelpers.h"
#include "fixtures/DeepCases.h"
#include "readers/OpenDatabase.h"
#include "recovery/DeepScan.h"
#include "recovery/FileImage.h"
#include "recovery/LiveCopies.h"
#include "recovery/RecoveryRun.h"
#include "recovery/SqliteFiles.h"

namespace {

using fixtures::DeepCaseKind;
using fixtures::PhoneDb;

class DeepRecoveryTest : public FreshStore {
protected:
    fixtures::DeepCase Run(DeepCaseKind kind, int messages)
    {
        fixtures::DeepCase truth = fixtures::MakeDeepCase(kind, m_dir / "case", messages, 3);
        const auto before = fixtures::SnapshotFolder(m_dir / "case");
        EXPECT_NE(OpenDatabaseFile(truth.database.string()).outcome, OpenOutcome::WrongFile);
        RunDeepRecoverySteps(truth.database.string());
        EXPECT_TRUE(fixtures::SnapshotFolder(m_dir / "case") == before) << "a file changed";
        return truth;
    }

    static const std::vector<MessageRecord>& Recovered() { return g_store.currentReader->m_recovered; }

    // The places of every recovered message, of any of these kinds.
    static std::set<PlaceKind> PlaceKinds()
    {
        std::set<PlaceKind> kinds;
        for (const MessageRecord& m : Recovered()) {
            for (const FindPlace& place : m.places) kinds.insert(place.where);
        }
        return kinds;
    }

    static void ExpectScore(const fixtures::DeepCase& truth)
    {
        const fixtures::DeepScore score = fixtures::ScoreDeepRecovery(truth, Recovered());
        EXPECT_GT(score.complete, 0) << truth.name;
        EXPECT_GE(score.Recall(), 0.99) << truth.name << ": " << score.found << " of " << score.complete;
        EXPECT_GE(score.Precision(), 0.98) << truth.name << ": " << score.real << " of " << score.finds;
        EXPECT_EQ(score.live, 0) << truth.name;
        EXPECT_EQ(score.badPlaces, 0) << truth.name << ": of " << score.places;
    }
};

TEST_F(DeepRecoveryTest, MainFileFreeblocksUnallocatedSpaceAndFreelistPages)
{
    const auto truth = Run(DeepCaseKind::AndroidRollback, 1500);
    ExpectScore(truth);
    const std::set<PlaceKind> kinds = PlaceKinds();
    EXPECT_TRUE(kinds.contains(PlaceKind::Freeblock));
    EXPECT_TRUE(kinds.contains(PlaceKind::FreelistPage));
    // Whole cells keep their row ids; a find knows its row when its cell header survived.
    EXPECT_TRUE(std::any_of(Recovered().begin(), Recovered().end(), [](const MessageRecord& m) { return m.rowId != 0; }));
    const ScanReport& scan = g_store.currentReader->m_lastScan;
    EXPECT_TRUE(scan.deep);
    ASSERT_EQ(scan.sources.size(), 1u);
    EXPECT_EQ(scan.sources[0].kind, FileRole::Database);
}

TEST_F(DeepRecoveryTest, OlderPageVersionsInTheLog)
{
    const auto truth = Run(DeepCaseKind::AndroidLog, 1200);
    ExpectScore(truth);
    EXPECT_TRUE(PlaceKinds().contains(PlaceKind::OlderLogVersion));
    ASSERT_EQ(g_store.currentReader->m_lastScan.sources.size(), 2u);
    EXPECT_EQ(g_store.currentReader->m_lastScan.sources[1].kind, FileRole::Log);
}

TEST_F(DeepRecoveryTest, RowsOfTheTablesEarlierForm)
{
    const auto truth = Run(DeepCaseKind::AndroidUpgraded, 1200);
    ExpectScore(truth);
    // Rows written before sub_id and creator were added come back too, with their own fields.
    int old = 0;
    for (std::size_t i = 0; i < truth.messages.size() / 2; ++i) {
        const fixtures::WrittenMessage& w = truth.messages[i];
        if (!w.deleted) continue;
        old += std::any_of(Recovered().begin(), Recovered().end(), [&](const MessageRecord& m) {
            return m.time == w.time && m.body == w.body && m.address == w.address;
        });
    }
    EXPECT_GT(old, 20);
}

// Row ids below 128: a freed cell's freeblock header takes its first serial type too.
TEST_F(DeepRecoveryTest, FreedCellsOfSmallRowIds)
{
    ExpectScore(Run(DeepCaseKind::AndroidSmallIds, 1200));
}

// A copy cut short: the rows before (and past) the missing pages are live, what remains is
// carved, and no live row is taken for a deleted one.
TEST_F(DeepRecoveryTest, TruncatedDatabases)
{
    for (const DeepCaseKind kind : {DeepCaseKind::AndroidTruncated, DeepCaseKind::IphoneTruncated}) {
        g_store.RestoreProgramStart();
        const auto truth = Run(kind, 1500);
        ExpectScore(truth);
        EXPECT_GT(g_store.liveMessageCount, 100) << truth.name;
        const std::vector<LoadWarning>& warnings = g_store.currentReader->m_loadWarnings;
        EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(),
                                [](const LoadWarning& w) { return w.kind == LoadWarning::Kind::Truncated; }));
    }
}

// Page 1 destroyed: no schema can be read, so the phone's known layouts (of the MMS tables too)
// guide both recoveries.
TEST_F(DeepRecoveryTest, WithoutASchemaTheKnownLayout)
{
    const fixtures::DeepCase truth = fixtures::MakeDeepCase(DeepCaseKind::AndroidMms, m_dir / "case", 800, 3);
    {
        std::fstream file(truth.database, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        const std::string garbage(3996, '\xFF');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    Load(truth.database);
    EXPECT_EQ(g_store.columnCount, 19);
    EXPECT_EQ(g_store.currentReader->m_partTables.size(), 2u);  // the MMS tables' layouts too
    EXPECT_FALSE(g_store.currentReader->m_loadWarnings.empty());
    // The default recovery finds deleted messages by the known layout, and never the live rows
    // the damaged schema keeps from being read: they stand in cells in use.
    RunRecoverySteps(truth.database.string());
    std::set<std::string> live;
    for (const fixtures::WrittenMessage& m : truth.messages) {
        if (!m.deleted) live.insert(m.body);
    }
    EXPECT_GT(g_store.currentReader->m_recoveredCount, 50);
    for (const MessageRecord& m : Recovered()) EXPECT_FALSE(live.contains(m.body)) << m.body;
    RunDeepRecoverySteps(truth.database.string());
    const fixtures::DeepScore score = fixtures::ScoreDeepRecovery(truth, Recovered());
    EXPECT_GE(score.Recall(), 0.99) << score.found << " of " << score.complete;
}

TEST_F(DeepRecoveryTest, PagesKeptInAPersistedJournal)
{
    const auto truth = Run(DeepCaseKind::AndroidJournal, 1200);
    ExpectScore(truth);
    EXPECT_TRUE(PlaceKinds().contains(PlaceKind::JournalPage));
}

TEST_F(DeepRecoveryTest, LongMessagesOnOverflowPages)
{
    const auto truth = Run(DeepCaseKind::AndroidLong, 1500);
    ExpectScore(truth);
    EXPECT_TRUE(std::any_of(Recovered().begin(), Recovered().end(),
                            [](const MessageRecord& m) { return m.body.size() > 4000 && m.truncated == 0; }));
}

// Deleted MMS come back whole: the pdu record with its text part (joined by the message id)
// and its picture part as an attachment, in its thread's conversation; no live MMS or part
// of one is reported.
TEST_F(DeepRecoveryTest, MmsRecordsJoinedWithTheirParts)
{
    const auto truth = Run(DeepCaseKind::AndroidMms, 1500);
    ExpectScore(truth);
    const fixtures::DeepScore score = fixtures::ScoreDeepRecovery(truth, Recovered());
    // Where a freed cell lost its record's id, the parts are joined only when the order of the
    // ids and times leaves one choice.
    EXPECT_GE(score.mmsJoined, score.mmsComplete * 3 / 4) << score.mmsJoined << " of " << score.mmsComplete;
    EXPECT_TRUE(std::any_of(Recovered().begin(), Recovered().end(), [](const MessageRecord& m) {
        return m.kind == MessageKind::Mms && m.time != 0 && !m.body.empty() && m.unassignedFlag == 0 &&
               m.details->attachments.size() == 1 && m.details->attachments[0].mime == "image/jpeg";
    }));
}

// Two long messages deleted: the first page freed becomes the freelist's trunk, its first
// bytes overwritten, so the first message's chain breaks there (it comes back truncated);
// the second's overflow pages became freelist leaves, untouched (it comes back whole).
TEST_F(FreshStore, AnOverflowChainWholeAndOneCutByAFreelistTrunk)
{
    const auto path = m_dir / "mmssms.db";
    const std::string first = "first long: " + std::string(9000, 'a');
    const std::string second = "second long: " + std::string(9000, 'b');
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("5550001");
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'000'000}, .body = "short", .id = std::int64_t{1}});
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'001'000}, .body = first, .id = std::int64_t{2}});
        db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'002'000}, .body = second, .id = std::int64_t{3}});
        db.Exec("DELETE FROM sms WHERE _id = 2; DELETE FROM sms WHERE _id = 3;");
    }
    Load(path);
    RunDeepRecoverySteps(path.string());
    const CSms& reader = *g_store.currentReader;
    ASSERT_EQ(reader.m_recoveredCount, 2);
    const MessageRecord& cut = reader.m_recovered[0];
    EXPECT_EQ(cut.truncated, 1);
    EXPECT_TRUE(first.starts_with(cut.body));
    EXPECT_GT(cut.body.size(), 100u);
    EXPECT_LT(cut.body.size(), first.size());
    const MessageRecord& whole = reader.m_recovered[1];
    EXPECT_EQ(whole.truncated, 0);
    EXPECT_EQ(whole.body, second);
    EXPECT_EQ(whole.time, 1'600'000'002'000);
}

// Rows lengthened in place keep their cells on late pages while their new overflow pages come
// from the freelist at the file's start; deleted, they are carved after the scan has handed the
// start's memory back, so their chains are read from the file, and come back whole.
TEST_F(FreshStore, ChainsIntoMemoryTheDeepScanHandedBack)
{
    const auto path = m_dir / "mmssms.db";
    constexpr int kFiller = 3000, kLong = 1200;
    auto text = [](int id, std::size_t size) {
        const std::string head = "message " + std::to_string(id) + " ";
        return head + std::string(size - head.size(), static_cast<char>('a' + id % 26));
    };
    {
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("5550001");
        db.Exec("BEGIN");
        for (int id = 1; id <= kFiller + kLong; ++id) {
            db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'000'000} + id * 1000,
                              .body = text(id, id <= kFiller ? 1000 : 1900), .id = std::int64_t{id}});
        }
        db.Exec("COMMIT; DELETE FROM sms WHERE _id <= " + std::to_string(kFiller) + ";");
        for (int id = kFiller + 1; id <= kFiller + kLong; ++id) {
            db.Exec("UPDATE sms SET body = '" + text(id, 6000) + "' WHERE _id = " + std::to_string(id) + ";");
        }
        db.Exec("DELETE FROM sms WHERE _id % 2 = 0;");
    }
    ASSERT_GT(std::filesystem::file_size(path), std::uintmax_t{6} << 20);
    Load(path);
    // The ids of the deleted messages that came back whole.
    std::set<int> inMemory, recovered;
    auto note = [&](std::set<int>& into, std::int64_t time, const std::string& body, bool truncated) {
        const int id = static_cast<int>((time - 1'600'000'000'000) / 1000);
        if (id > kFiller && id % 2 == 0 && body == text(id, 6000) && !truncated) into.insert(id);  // deleted
    };
    // The same file carved in memory whole: the chains a freed page cut are cut there too.
    const FileImage image(path.string());
    std::vector<RawFind> finds;
    ScanDatabaseImage(ByteView(image.Data(), image.Size()), path.string(), DeepDecoder(g_store), finds);
    for (const RawFind& f : finds) note(inMemory, f.record.time, f.record.body, f.record.truncated);
    EXPECT_GE(inMemory.size(), std::size_t{kLong / 2 - 2});
    RunDeepRecoverySteps(path.string());
    for (const MessageRecord& m : g_store.currentReader->m_recovered) note(recovered, m.time, m.body, m.truncated != 0);
    EXPECT_EQ(recovered, inMemory);
}

TEST_F(DeepRecoveryTest, IphoneOfBothErasWithTwoByteHeaders)
{
    ExpectScore(Run(DeepCaseKind::IphoneOld, 1200));
    g_store.RestoreProgramStart();
    const auto current = Run(DeepCaseKind::IphoneCurrent, 1200);
    ExpectScore(current);
    // 84 columns: every record header is longer than 127 bytes.
    EXPECT_EQ(g_store.columnCount, 84);
    const std::set<PlaceKind> kinds = PlaceKinds();
    EXPECT_TRUE(kinds.contains(PlaceKind::OlderLogVersion) || kinds.contains(PlaceKind::CellInUse));
}

// Deleted messages whose handle says nothing (0) are placed by the join rows that older page
// versions keep: the main file's page from before the deletion, committed in the log since.
TEST_F(DeepRecoveryTest, DeletedMessagesFindTheirChatInEarlierJoinRows)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path, {.writeAheadLog = true});
        db.Exec("BEGIN");
        for (int h = 1; h <= 2; ++h) {
            db.AddIphoneHandle(h, "+1555000" + std::to_string(h));
            db.Exec("INSERT INTO chat (ROWID, guid) VALUES (" + std::to_string(h) + ", 'SMS;-;" + std::to_string(h) + "');"
                    "INSERT INTO chat_handle_join VALUES (" + std::to_string(h) + ", " + std::to_string(h) + ");");
        }
        for (int i = 0; i < 40; ++i) {
            const int chat = 1 + i % 2;
            db.AddIphoneMessage({.text = "message " + std::to_string(i) + " of chat " + std::to_string(chat),
                                 .handleId = i >= 30 ? 0 : chat, .date = std::int64_t{461'000'000 + i}, .id = std::int64_t{1000 + i}});
            db.Exec("INSERT INTO chat_message_join VALUES (" + std::to_string(chat) + ", " + std::to_string(1000 + i) + ");");
        }
        db.Exec("COMMIT");
        db.Checkpoint();
        db.Exec("DELETE FROM message WHERE ROWID >= 1030; DELETE FROM chat_message_join WHERE message_id >= 1030;");
        db.CloseKeepingLog();
    }
    ASSERT_EQ(OpenDatabaseFile(path.string()).outcome, OpenOutcome::OpenedIphone);
    RunDeepRecoverySteps(path.string());
    ASSERT_EQ(Recovered().size(), 10u);
    for (const MessageRecord& m : Recovered()) {
        EXPECT_EQ(m.unassignedFlag, 0) << m.body;
        const std::string chat = m.body.substr(m.body.size() - 1);
        EXPECT_EQ(m.countedIn, g_store.conversations[FindConversation("+1555000" + chat)].entryId) << m.body;
    }
}

// iOS 5: rows carry their partner's address; SMS dates are since 1970, iMessage dates since
// 2001, and both recoveries give each find its partner's conversation, kind and direction.
TEST_F(DeepRecoveryTest, OldestIphonesRowsWithTheirOwnAddress)
{
    const fixtures::DeepCase truth = Run(DeepCaseKind::IphoneLegacy, 900);
    ExpectScore(truth);
    auto expectPlaced = [&](const char* run) {
        std::set<MessageKind> kinds;
        for (const MessageRecord& m : Recovered()) {
            EXPECT_EQ(m.unassignedFlag, 0) << run << ": " << m.body;
            kinds.insert(m.kind);
        }
        EXPECT_EQ(kinds, (std::set<MessageKind>{MessageKind::Sms, MessageKind::IMessage})) << run;
    };
    expectPlaced("deep");
    RunRecoverySteps(truth.database.string());
    const fixtures::DeepScore score = fixtures::ScoreDeepRecovery(truth, Recovered());
    EXPECT_GT(score.found, score.complete / 2) << "default: " << score.found << " of " << score.complete;
    EXPECT_EQ(score.live, 0);
    EXPECT_EQ(score.real, score.finds);
    expectPlaced("default");
}

// The record shapes on one hand-made page: a whole cell, a record whose cell header a
// freeblock overwrote, and serial types whose header size is gone (also after a long run of
// zeros); each found once, at the offset of its header-size byte, and the same bytes behind a
// shift give the same finds.
TEST_F(FreshStore, EveryShapeAtItsOffsetWhereverThePageLies)
{
    records::SetSchema({{"_id", "INTEGER"}, {"thread_id", "INTEGER"}, {"address", "TEXT"}, {"date", "INTEGER"},
                        {"type", "INTEGER"}, {"body", "TEXT"}});
    g_store.currentReader = CreateReader(DatabaseName::Android);
    auto row = [](const std::string& body, std::uint64_t date) {
        return records::Record({records::Null(), records::Int(3, 1), records::Text("5550001"), records::Int(date, 6),
                                records::One(), records::Text(body)});
    };
    // A whole cell: payload size, row id, record.
    records::Bytes page(4096, 0);
    const records::Bytes first = row("whole cell", 1'600'000'000'000);
    records::Bytes cell = records::Varint(first.size());
    const records::Bytes id = records::Varint(777);
    cell.insert(cell.end(), id.begin(), id.end());
    cell.insert(cell.end(), first.begin(), first.end());
    std::copy(cell.begin(), cell.end(), page.begin() + 100);
    // A record whose cell header is gone.
    const records::Bytes second = row("header kept", 1'600'000'001'000);
    std::copy(second.begin(), second.end(), page.begin() + 600);
    // Serial types alone: the header-size byte overwritten.
    records::Bytes third = row("types only", 1'600'000'002'000);
    third[0] = 0xEE;
    std::copy(third.begin(), third.end(), page.begin() + 1500);
    // A freed cell of one-byte payload size and row id: the freeblock header took the
    // record's header size and its first serial type too.
    const records::Bytes fourth = row("freed small cell", 1'600'000'003'000);
    const records::Bytes freeblock = {0x00, 0x00, 0x00, static_cast<std::uint8_t>(fourth.size() + 2)};
    std::copy(freeblock.begin(), freeblock.end(), page.begin() + 2500);
    std::copy(fourth.begin() + 2, fourth.end(), page.begin() + 2504);
    // Serial types whose header-size byte was zeroed, at the end of a long run of zeros (which
    // the scan passes over but for its last stretch).
    records::Bytes fifth = row("after zeros", 1'600'000'004'000);
    fifth[0] = 0x00;
    std::copy(fifth.begin(), fifth.end(), page.begin() + 3900);

    const DeepDecoder decoder(g_store);
    for (const std::size_t shift : {0u, 1u, 37u}) {
        records::Bytes image(shift, 0x5A);
        image.insert(image.end(), page.begin(), page.end());
        std::vector<RawFind> finds;
        // Not a database: every byte is carved as it stands.
        ScanDatabaseImage(ByteView(image.data(), image.size()), "image", decoder, finds);
        ASSERT_EQ(finds.size(), 5u) << shift;
        EXPECT_EQ(finds[0].record.body, "whole cell");
        EXPECT_EQ(finds[0].record.rowId, 777);
        EXPECT_EQ(finds[0].place.offset, static_cast<std::int64_t>(shift + 100 + cell.size() - first.size()));
        EXPECT_EQ(finds[1].record.body, "header kept");
        EXPECT_EQ(finds[1].record.rowId, 0);
        EXPECT_EQ(finds[1].place.offset, static_cast<std::int64_t>(shift + 600));
        EXPECT_EQ(finds[2].record.body, "types only");
        EXPECT_EQ(finds[2].record.time, 1'600'000'002'000);
        EXPECT_EQ(finds[2].place.offset, static_cast<std::int64_t>(shift + 1500));
        EXPECT_EQ(finds[2].place.where, PlaceKind::Unstructured);
        EXPECT_EQ(finds[3].record.body, "freed small cell");
        EXPECT_EQ(finds[3].place.offset, static_cast<std::int64_t>(shift + 2502));
        EXPECT_EQ(finds[4].record.body, "after zeros");
        EXPECT_EQ(finds[4].place.offset, static_cast<std::int64_t>(shift + 3900));
    }
}

// A record cut short by a lost overflow chain that begins a live message (its row, or its
// text, its time lost with the chain) is that live message; one that begins nothing live is
// a deleted message. A find with neither text nor time is none.
TEST_F(FreshStore, CutRecordsOfLiveMessagesAreLive)
{
    g_store.currentReader = CreateReader(DatabaseName::Iphone);
    MessageRecord live = MessageOf("1", 700'000'000, 0, "a long live message " + std::string(5000, 'x'));
    live.rowId = 5;
    g_store.liveMessages = {live};
    g_store.liveMessageCount = 1;
    auto cut = [](std::int64_t rowId, std::int64_t time, std::string body) {
        RawFind find;
        find.record.rowId = rowId;
        find.record.time = time;
        find.record.body = std::move(body);
        find.record.truncated = true;
        return find;
    };
    const LiveRows rows(g_store);
    const LiveCopies copies(g_store);
    const std::vector<MessageRecord> kept = MergeDeepFinds(
        {cut(5, 0, "a long"), cut(0, 0, "a long live mess"), cut(9, 700'000'100, "a deleted one")}, rows, copies);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].body, "a deleted one");
}

// Finds that lost their row id: one whose text a hundred live messages share is live; one
// that names no partner and has a deleted row's text is that row's (which gains its place).
TEST_F(FreshStore, FindsWithoutTheirRowIdJoinWhatHasTheirText)
{
    g_store.currentReader = CreateReader(DatabaseName::Iphone);
    const std::string often = "a text that is sent very often", deleted = "a deleted text of some length";
    for (int k = 1; k <= 100; ++k) {
        MessageRecord live = MessageOf("5550001", 700'000'000 + k, 0, often);
        live.rowId = k;
        g_store.liveMessages.push_back(live);
    }
    g_store.liveMessageCount = 100;
    auto find = [](std::int64_t rowId, std::int64_t time, const std::string& body, const std::string& address, std::int64_t at) {
        RawFind f;
        f.record.rowId = rowId;
        f.record.time = time;
        f.record.body = body;
        f.record.address = address;
        f.place.offset = at;
        return f;
    };
    std::vector<RawFind> finds;
    for (int k = 0; k < 40; ++k) finds.push_back(find(200 + k, 700'100'000 + k, deleted, "5550002", 1000 + k));
    finds.push_back(find(0, 700'200'000, often, "5550001", 5000));
    finds.push_back(find(0, 700'300'000, deleted, "", 6000));
    const LiveRows rows(g_store);
    const LiveCopies copies(g_store);
    const std::vector<MessageRecord> kept = MergeDeepFinds(std::move(finds), rows, copies);
    ASSERT_EQ(kept.size(), 40u);
    EXPECT_EQ(kept[0].rowId, 200);
    ASSERT_EQ(kept[0].places.size(), 2u);
    EXPECT_EQ(kept[0].places[1].offset, 6000);
}

// What a column cannot hold rejects a candidate: dates outside 1990-2100, a negative thread,
// text with bytes no text has.
TEST_F(FreshStore, ImpossibleValuesAreNoMessages)
{
    records::SetSchema({{"_id", "INTEGER"}, {"thread_id", "INTEGER"}, {"address", "TEXT"}, {"date", "INTEGER"},
                        {"type", "INTEGER"}, {"body", "TEXT"}, {"seen", "INTEGER"}});
    g_store.currentReader = CreateReader(DatabaseName::Android);
    const DeepDecoder decoder(g_store);
    auto decodes = [&](const records::Bytes& record) {
        records::Bytes bytes = record;
        bytes.resize(bytes.size() + 8, 0);
        const DeepDecoder::Area area{ByteView(bytes.data(), bytes.size()), static_cast<std::uint32_t>(bytes.size()), 4096,
                                     nullptr};
        return decoder.TryRecord(area, 0).has_value();
    };
    auto row = [](records::Column thread, std::uint64_t date, const std::string& body, bool earlierForm = false) {
        std::vector<records::Column> columns = {records::Null(),        thread,         records::Text("5550001"),
                                                records::Int(date, 6), records::One(), records::Text(body)};
        if (!earlierForm) columns.push_back(records::One());
        return records::Record(columns);
    };
    EXPECT_TRUE(decodes(row(records::Int(3, 1), 1'600'000'000'000, "fine")));
    EXPECT_FALSE(decodes(row(records::Int(3, 1), 600'000'000'000, "1989")));
    EXPECT_FALSE(decodes(row(records::Int(3, 1), 4'200'000'000'000, "2103")));
    EXPECT_FALSE(decodes(row(records::Int(0xFFFFFE, 3), 1'600'000'000'000, "negative thread")));
    EXPECT_FALSE(decodes(row(records::Int(3, 1), 1'600'000'000'000, std::string("bin\x01\x02\x03\x04" "ary"))));
    EXPECT_TRUE(decodes(row(records::Int(3, 1), 1'600'000'000'000, "a few \xFF bad bytes \xFE are fine")));
    // A row of the table's earlier form: the trailing column missing, read as NULL; one
    // column short of the body is no message.
    EXPECT_TRUE(decodes(row(records::Int(3, 1), 1'600'000'000'000, "before the upgrade", true)));
    EXPECT_FALSE(decodes(records::Record({records::Null(), records::Int(3, 1), records::Text("5550001"),
                                          records::Int(1'600'000'000'000, 6), records::One()})));
}

// A file that another program cuts short while it is scanned: the scan goes on with what it
// read (a mapped file would end the process with a bus error), and a file that shrank
// between the passes is read again.
TEST_F(FreshStore, AFileCutShortDuringTheScanEndsNoProcess)
{
    const auto path = m_dir / "mmssms.db";
    {
        PhoneDb db = PhoneDb::Android(path);
        db.Exec("BEGIN");
        db.AddAndroidAddress("5550001");
        for (int i = 0; i < 3000; ++i) {
            db.AddAndroidSms({.address = "5550001", .date = std::int64_t{1'600'000'000'000} + i,
                              .body = "message " + std::to_string(i), .id = std::int64_t{1000 + i}});
        }
        db.Exec("COMMIT");
        db.Exec("DELETE FROM sms WHERE _id % 7 = 3;");
    }
    Load(path);
    const auto size = std::filesystem::file_size(path);
    struct Cutter : ProgressListener {
        std::filesystem::path path;
        bool done = false;
        void OnProgress() override
        {
            if (done) return;
            done = true;
            ::truncate(path.c_str(), 8192);
        }
    } cutter;
    cutter.path = path;
    g_progress.window = &cutter;
    const RecoveryRunCounts counts = RunRecoverySteps(path.string());
    g_progress.window = nullptr;
    EXPECT_TRUE(cutter.done);
    EXPECT_GT(counts.countingFound, counts.fillingFound);  // the filling pass read the shorter file
    EXPECT_LT(std::filesystem::file_size(path), size);
}

// The parsers of untrusted bytes on damaged input: nothing is read outside the bytes given.
TEST(SqliteFiles, DamagedHeadersAndChainsAreSurvived)
{
    std::vector<std::uint8_t> file(3 * 4096, 0);
    const char magic[] = "SQLite format 3";
    std::copy(magic, magic + 16, file.begin());
    file[16] = 0x10;  // 4096-byte pages
    file[35] = 2;     // freelist trunk: page 2, which names itself as the next trunk
    file[4096 + 3] = 2;
    file[4096 + 7] = 200;  // more leaves than a page holds
    std::vector<std::uint32_t> trunks;
    const auto header = ReadDatabaseHeader(ByteView(file.data(), file.size()));
    ASSERT_TRUE(header);
    const auto freelist = FreelistPages(ByteView(file.data(), file.size()), *header, trunks);
    EXPECT_EQ(trunks, std::vector<std::uint32_t>{2});
    // A b-tree header whose cell count runs past the page is no b-tree page.
    std::vector<std::uint8_t> page(4096, 0);
    page[0] = kLeafTablePage;
    page[3] = 0x10;
    page[4] = 0x00;
    EXPECT_FALSE(ReadBtreePage(ByteView(page.data(), page.size()), 2, 4096));
    // A log with a bad header and a journal of garbage still give their pages.
    std::vector<std::uint8_t> log(32 + 2 * (24 + 4096), 0x77);
    EXPECT_EQ(ReadLog(ByteView(log.data(), log.size()), 4096).pages.size(), 2u);
    EXPECT_TRUE(ReadJournal(ByteView(log.data(), log.size()), 4096, 10).pages.empty());
}

}  // namespace

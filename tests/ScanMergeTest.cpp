// The page walk, the two readers' scans, the merge and the exact selection order.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "LiteralCarvers.h"
#include "RecordBytes.h"
#include "StoreHelpers.h"
#include "presentation/ConversationView.h"
#include "presentation/Texts.h"
#include "presentation/ViewModel.h"
#include "readers/AndroidSms.h"
#include "readers/IphoneSms.h"
#include "recovery/Merge.h"
#include "recovery/RecoveryRun.h"
#include "recovery/LiveCopies.h"
#include "recovery/RecoveryScan.h"
#include "store/ProgressChannel.h"
#include "store/SelectionOrder.h"

namespace {

using namespace records;


void WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// An image of `pages` pages of junk (no zero byte) whose header names the page size.
Bytes Junk(std::size_t pages, std::size_t pageSize, bool header = true)
{
    Bytes image(pages * pageSize, 0xEE);
    if (header) {
        image[16] = static_cast<std::uint8_t>(pageSize >> 8);
        image[17] = static_cast<std::uint8_t>(pageSize & 0xFF);
    }
    return image;
}

// Places bytes so that a default-variant candidate (the byte after the header-size byte)
// lies at `candidate`.
void PlaceAt(Bytes& image, std::size_t candidate, const Bytes& record)
{
    std::copy(record.begin(), record.end(), image.begin() + static_cast<std::ptrdiff_t>(candidate - 1));
}

class ScanTest : public FreshStore {
protected:
    std::int32_t CountingPass(CSms& reader, const std::filesystem::path& path)
    {
        std::int32_t n = 0;
        RecoverDeletedPass(reader, path.string(), n);
        return n;
    }
    const std::vector<std::pair<std::string, std::string>> kSchema8 = {
        {"_id", "INTEGER"}, {"thread_id", "INTEGER"}, {"address", "TEXT"}, {"date", "INTEGER"},
        {"type", "INTEGER"}, {"body", "TEXT"}, {"read", "INTEGER"}, {"seen", "INTEGER"}};
    Bytes Row8(const std::string& body) const
    {
        return Record({Null(), One(), Text("10086"), Int(1'439'532'000'000, 6), One(), Text(body), Zero(), One()});
    }
};

TEST_F(ScanTest, AndroidMarginsInDatabaseAndLogMode)
{
    SetSchema(kSchema8);  // n = 8: margins 13 and 28 in a database, 0 and 28 in a log
    CAndroidSms reader;
    const auto db = m_dir / "mmssms.db";
    struct Case {
        std::size_t candidate;
        std::int32_t found;
    };
    // Three 1024-byte pages; pages 0 and 1 use the 13-byte margin, page 2 the 28-byte one.
    for (const Case& c : {Case{1010, 1}, {1011, 0}, {2048 + 995, 1}, {2048 + 996, 0}}) {
        Bytes image = Junk(3, 1024);
        PlaceAt(image, c.candidate, Row8("x"));
        WriteFile(db, image);
        EXPECT_EQ(CountingPass(reader, db), c.found) << c.candidate;
        EXPECT_EQ(reader.m_lastScan.pageSize, 1024);
    }
    // A set-aside log is scanned instead, in 4096-byte blocks whatever the header says.
    for (const Case& c : {Case{4095, 1}, {4096 + 4095 - 28, 1}, {4096 + 4096 - 28, 0}}) {
        Bytes log = Junk(2, 4096, false);
        Bytes record = Row8("y");
        PlaceAt(log, c.candidate, record);
        log.resize(std::max<std::size_t>(log.size(), c.candidate + record.size()), 0xEE);
        log.resize(log.size() / 4096 * 4096 + 100, 0xEE);  // a partial block is never a page
        WriteFile(m_dir / "mmssms.db-wal-undelete", log);
        EXPECT_EQ(CountingPass(reader, db), c.found) << c.candidate;
        EXPECT_TRUE(reader.m_lastScan.logMode);
        EXPECT_EQ(reader.m_lastScan.scannedPath, (m_dir / "mmssms.db-wal-undelete").string());
    }
    // A log shorter than one block has no page at all.
    WriteFile(m_dir / "mmssms.db-wal-undelete", Bytes(4000, 0));
    EXPECT_EQ(CountingPass(reader, db), 0);
}

TEST_F(ScanTest, SkipsAfterAnAcceptedCandidate)
{
    // Two-column records "00 09" (NULL, constant 1) are 3 bytes long with their header byte.
    struct Case {
        bool iphone;
        std::size_t gap;
        std::int32_t found;
    };
    for (const Case& c : {Case{false, 2, 1}, {false, 3, 2}, {true, 51, 1}, {true, 52, 2}}) {
        SetSchema({{"_id", "INTEGER"}, {c.iphone ? "is_from_me" : "type", "INTEGER"}});
        Bytes image = Junk(1, 4096);
        image[300] = 0, image[301] = 9;
        image[300 + c.gap] = 0, image[301 + c.gap] = 9;
        const auto path = m_dir / (c.iphone ? "sms.db" : "mmssms.db");
        WriteFile(path, image);
        std::unique_ptr<CSms> reader = CreateReader(c.iphone ? DatabaseName::Iphone : DatabaseName::Android);
        EXPECT_EQ(CountingPass(*reader, path), c.found) << "gap " << c.gap;
    }
}

TEST_F(ScanTest, SpillFlagAtPageSizeMinus35)
{
    SetSchema({{"_id", "INTEGER"}, {"date", "INTEGER"}, {"body", "TEXT"}});
    g_store.currentReader = CreateReader(DatabaseName::Android);
    Bytes image = Junk(5, 4096);
    // Record length = header byte + 00 + date's serial type and 6 bytes + 2-byte serial type + text.
    PlaceAt(image, 200, Record({Null(), Int(1'439'532'000'000, 6), Text(std::string(4050, 'a'))}));
    PlaceAt(image, 2 * 4096 + 100, Record({Null(), Int(1'439'532'000'000, 6), Text(std::string(4051, 'b'))}));
    const auto path = m_dir / "mmssms.db";
    WriteFile(path, image);
    const RecoveryRunCounts counts = RunRecoverySteps(path.string());
    EXPECT_EQ(counts.countingFound, 2);
    ASSERT_EQ(g_store.currentReader->m_recoveredCount, 2);
    for (const MessageRecord& m : g_store.currentReader->m_recovered) {
        EXPECT_EQ(m.spillFlag, m.body.size() == 4051 ? 1 : 0) << m.body.size();
        EXPECT_EQ(m.truncated, m.spillFlag);  // its end may not be its own: shown as truncated
    }
}

TEST_F(ScanTest, PageSizeFieldAndShortFiles)
{
    struct Case {
        std::uint8_t high, low;
        std::int32_t pageSize;
        bool note;
    };
    for (const Case& c : {Case{0x10, 0x00, 4096, false}, {0x04, 0x00, 1024, false}, {0x02, 0x00, 512, false},
                          {0x80, 0x00, 32768, false}, {0x00, 0x01, 65536, false}, {0x00, 0x00, 4096, true},
                          {0x03, 0x00, 4096, true}, {0x01, 0x00, 4096, true}, {0xFF, 0xFF, 4096, true}}) {
        Bytes bytes(100, 0);
        bytes[16] = c.high, bytes[17] = c.low;
        const PageSizeChoice choice = ChoosePageSize(FileImage::FromBytes(bytes.data(), bytes.size()));
        EXPECT_EQ(choice.pageSize, c.pageSize);
        EXPECT_EQ(!choice.note.empty(), c.note);
    }
    const Bytes tiny(17, 0x10);
    EXPECT_EQ(ChoosePageSize(FileImage::FromBytes(tiny.data(), tiny.size())).pageSize, 4096);
    EXPECT_FALSE(ChoosePageSize(FileImage::FromBytes(tiny.data(), tiny.size())).note.empty());

    // A damaged header does not stop the carving: the file is walked in 4096-byte pages.
    SetSchema({{"_id", "INTEGER"}, {"type", "INTEGER"}});
    CAndroidSms reader;
    Bytes image = Junk(2, 4096);
    image[16] = 0x03, image[17] = 0x00;
    image[5000] = 0, image[5001] = 9;
    WriteFile(m_dir / "mmssms.db", image);
    EXPECT_EQ(CountingPass(reader, m_dir / "mmssms.db"), 1);
    EXPECT_EQ(reader.m_lastScan.pageSize, 4096);
    EXPECT_NE(reader.m_lastScan.pageSizeNote.find("768"), std::string::npos);
}

TEST_F(ScanTest, ProgressEveryTenPagesAndNoneForSmallFiles)
{
    SetSchema({{"_id", "INTEGER"}, {"type", "INTEGER"}});
    CAndroidSms reader;
    const auto path = m_dir / "mmssms.db";
    {
        ProgressRecorder recorder;
        WriteFile(path, Junk(5, 1024));
        CountingPass(reader, path);
        EXPECT_TRUE(recorder.seen.empty());
        WriteFile(path, Junk(16, 1024));
        CountingPass(reader, path);
        EXPECT_EQ(recorder.seen, (std::vector<std::int32_t>{12, 37}));  // pages 5 and 15 of 16
    }
}

TEST_F(ScanTest, NoSchemaUnreadableFilesAndAFileThatChanged)
{
    CAndroidSms reader;
    const auto path = m_dir / "mmssms.db";
    Bytes image = Junk(2, 1024);
    for (const std::size_t at : {300, 600}) {
        const Bytes row = {0, 9, 5, 0x01, 0x4F, 0x2A, 0xCB, 0x23, 0x00};  // type 1, a date of 2015
        std::copy(row.begin(), row.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    }
    WriteFile(path, image);

    EXPECT_EQ(CountingPass(reader, path), 0);  // no schema: nothing can be recognised
    EXPECT_TRUE(reader.m_lastScan.noSchema);

    SetSchema({{"_id", "INTEGER"}, {"type", "INTEGER"}, {"date", "INTEGER"}});
    EXPECT_EQ(CountingPass(reader, m_dir / "missing" / "mmssms.db"), 0);
    EXPECT_NE(reader.m_lastScan.error.find("No such file"), std::string::npos);

    // The filling pass expects 5 finds but the file now holds 2: only those 2 are kept.
    reader.m_recovered.resize(3);
    reader.m_recoveredCount = 3;
    std::int32_t n = 5;
    RecoverDeletedPass(reader, path.string(), n);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(reader.m_lastScan.filled, 2);
    EXPECT_EQ(reader.m_recoveredCount, 1);  // the two finds are the same record
    // A filling pass over a file that cannot be read leaves no recovered message.
    n = 5;
    RecoverDeletedPass(reader, (m_dir / "gone" / "mmssms.db").string(), n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(reader.m_recoveredCount, 0);
}

// Finds no phone wrote (a time outside the phone's years, control characters, malformed
// UTF-8) are left out and counted; a find whose address is spelled unlike any conversation's
// goes to its thread's; the view never hands a control malformed text.
TEST_F(ScanTest, FragmentsAreLeftOutAndFindsFollowTheirThread)
{
    SetSchema(kSchema8);
    g_store.currentReader = CreateReader(DatabaseName::Android);
    g_store.conversationCount = 2;
    g_store.conversations[1].address = "10086";
    g_store.conversations[1].entryId = 1;
    g_store.currentReader->m_entryOfThread = {{7, 1}};
    auto row = [](const std::string& address, Column date, const std::string& body, std::uint64_t thread = 1) {
        return Record({Null(), Int(thread, 1), Text(address), date, One(), Text(body), Zero(), One()});
    };
    const Column may2015 = Int(1'439'532'000'000, 6);
    Bytes image = Junk(2, 4096);
    std::size_t at = 200;
    for (const Bytes& record : {row("10086", may2015, "kept"), row("10086", Zero(), "no time"),
                                row("10086", Int(1'000'000, 6), "1970"), row("10086", may2015, "bell\x07"),
                                row("10086", may2015, "bad \xC3("), row("+86 100-86", may2015, "by thread", 7)}) {
        PlaceAt(image, at, record);
        at += record.size() + 40;
    }
    const auto path = m_dir / "mmssms.db";
    WriteFile(path, image);
    RunRecoverySteps(path.string());
    const CSms& reader = *g_store.currentReader;
    EXPECT_EQ(reader.m_lastScan.discarded, 4);
    EXPECT_NE(RecoverySummaryText(reader.m_recoveredCount, reader.m_lastScan).find(
                  "\n4 fragments that are not messages were left out."),
              std::string::npos);
    ASSERT_EQ(reader.m_recoveredCount, 2);
    EXPECT_EQ(reader.m_recovered[1].body, "by thread");
    EXPECT_EQ(reader.m_recovered[1].unassignedFlag, 0);
    EXPECT_EQ(CollectConversation(1).size(), 2u);
    EXPECT_EQ(g_store.conversations[1].recoveredCount, 2);

    // A text that reaches the view with malformed bytes still shows, as U+FFFD.
    SetRecovered({MessageOf("10086", 1'439'532'000'000, 0, "caf\xE9 \xF0\x9F")});
    const std::vector<TextRun> runs = ConversationRuns(1);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].text, "caf\xEF\xBF\xBD \xEF\xBF\xBD\n\n");
}

// The fast walk (zero-byte search, zero-run shortcut) against one carver call per offset.
TEST_F(ScanTest, FastWalkAgreesWithTheLiteralWalk)
{
    std::mt19937 random(99);
    const std::vector<std::vector<std::pair<std::string, std::string>>> schemas = {
        kSchema8,
        {{"rowid", "INTEGER"}, {"guid", "TEXT"}, {"text", "TEXT"}, {"handle_id", "INTEGER"},
         {"version", "INTEGER"}, {"date", "INTEGER"}, {"is_from_me", "INTEGER"}},
        {{"_id", "INTEGER"}, {"type", "INTEGER"}, {"body", "TEXT"}},  // no rule rejects zeros
    };
    for (int round = 0; round < 300; ++round) {
        SetSchema(schemas[random() % schemas.size()]);
        const std::int32_t pageSize = 512;
        Bytes image(pageSize * (1 + random() % 6) + random() % 300);
        for (std::size_t i = 0; i < image.size();) {
            const auto kind = random() % 4;
            const std::size_t run = 1 + random() % 80;
            for (std::size_t k = 0; k < run && i < image.size(); ++k, ++i) {
                image[i] = kind == 0 ? 0 : kind == 1 ? static_cast<std::uint8_t>(random() % 14)
                                                     : static_cast<std::uint8_t>(random());
            }
            if (random() % 5 == 0 && i + 40 < image.size()) {
                const Bytes row = Record({Null(), One(), Text("+86138"), Int(1'439'532'000'000, 6), One(),
                                          Text("hi"), Zero(), One()});
                std::copy(row.begin(), row.end(), image.begin() + static_cast<std::ptrdiff_t>(i));
                i += row.size();
            }
        }
        const FileImage file = FileImage::FromBytes(image.data(), image.size());
        for (const auto kind : {RecordCarver::Kind::Android, RecordCarver::Kind::AndroidWithHeader,
                                RecordCarver::Kind::Iphone}) {
            const RecordCarver carver(kind, g_store);
            const PageLayout layout{pageSize, static_cast<std::int32_t>(random() % 20),
                                    static_cast<std::int32_t>(random() % 40), 1 + static_cast<std::int32_t>(random() % 12)};
            const auto variant = kind == RecordCarver::Kind::Iphone ? literal::Variant::Iphone
                               : kind == RecordCarver::Kind::Android ? literal::Variant::Android
                                                                     : literal::Variant::AndroidWithHeader;
            const literal::WalkResult expected = literal::Walk(variant, file.Data(), file.Size(), pageSize,
                                                               layout.marginOther, layout.marginLast, layout.skip);
            const std::int32_t counted = WalkPages(file, layout, carver, nullptr);
            ASSERT_EQ(counted, expected.found) << "round " << round;
            std::vector<MessageRecord> filled;
            FindSink sink{filled, static_cast<std::size_t>(std::max(counted, 1))};
            sink.leaveOutFragments = false;  // the literal walk knows no such check
            ASSERT_EQ(WalkPages(file, layout, carver, &sink), expected.found);
            ASSERT_EQ(filled.size(), static_cast<std::size_t>(counted));
            for (MessageRecord& m : filled) m.threadId = 0, m.truncated = 0;  // nor the thread and the cut
            for (std::int32_t i = 0; i < counted; ++i) ASSERT_EQ(filled[i], expected.records[i]) << i;
        }
    }
}

// The walk on every core, in runs taken in file order and handing back what it has passed,
// finds what one walk finds, in the same order: over 5 MB of random pages with rows strewn in.
TEST_F(ScanTest, WalkOnEveryCoreAgreesWithOneWalk)
{
    SetSchema(kSchema8);
    std::mt19937 random(7);
    Bytes image(5 << 20);
    for (std::size_t i = 0; i < image.size();) {
        if (random() % 4 == 0 && i + 64 < image.size()) {
            const Bytes row = Record({Null(), One(), Text("+86138"), Int(1'439'532'000'000 + i, 6), One(),
                                      Text("hi " + std::to_string(i)), Zero(), One()});
            std::copy(row.begin(), row.end(), image.begin() + static_cast<std::ptrdiff_t>(i));
            i += row.size();
        }
        const std::size_t run = 1 + random() % 200;
        const bool zeros = random() % 2 == 0;
        for (std::size_t k = 0; k < run && i < image.size(); ++k, ++i) image[i] = zeros ? 0 : static_cast<std::uint8_t>(random());
    }
    const RecordCarver carver(RecordCarver::Kind::Android, g_store);
    const PageLayout layout{512, 13, 28, 9};
    const FileImage one = FileImage::FromBytes(image.data(), image.size());
    // Two of the rows are live messages: the sinks' live index leaves them out of both walks.
    std::vector<MessageRecord> expected, got;
    FindSink allSink{expected, image.size()};
    WalkPages(one, layout, carver, &allSink);
    ASSERT_GT(expected.size(), 1000u);
    g_store.liveMessages = {expected[10], expected[expected.size() - 10]};
    g_store.liveMessageCount = 2;
    const LiveCopies live(g_store);
    expected.clear();
    FindSink oneSink{expected, image.size(), &live};
    const std::int32_t found = WalkPages(one, layout, carver, &oneSink);
    FileImage every = FileImage::FromBytes(image.data(), image.size());
    FindSink everySink{got, image.size(), &live};
    EXPECT_EQ(CountOnEveryCore(one, layout, carver), found);
    EXPECT_EQ(WalkPagesOnEveryCore(every, layout, carver, everySink, true), found);
    EXPECT_EQ(everySink.discarded, oneSink.discarded);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << i;
}

// A find as the scans leave it, in the order the merge tests read best.
MessageRecord Find(std::string body, std::int64_t time, int fromMe = 0, std::string address = "a", int spill = 0)
{
    return MessageOf(std::move(address), time, fromMe, std::move(body), spill);
}

TEST_F(ScanTest, MergeDropsLiveCopiesAndRepeatsInScanOrder)
{
    CAndroidSms reader;
    g_store.liveMessages = {Find("live", 100, 1, "x"), Find("other", 5)};
    g_store.liveMessageCount = 2;
    const std::vector<MessageRecord> finds = {
        Find("live", 100, 0, "y"),      // same time and body: dropped although address and fromMe differ
        Find("live", 101),              // same body, other time: kept
        Find("live", 102, 0, "a", 1),   // spilled: the body alone matches, dropped
        Find("new", 100),               // same time, other body: kept
        Find("new", 100),               // exact repeat: dropped
        Find("new", 100, 1),            // differs in fromMe: kept
        Find("new", 100, 0, "b"),       // differs in address: kept
        Find("live", 101),              // repeat of the second: dropped
        Find("liv", 100, 0, "x"),       // the beginning of a live text, same partner and time: a cut copy
        Find("liv", 100, 0, "b"),       // another partner's: kept, and a newer version of the one before
        Find("liv", 99, 0, "x"),        // another time: kept
        Find("edited", 101),            // same partner, direction and time as the second: its newer version
    };
    {
        ProgressRecorder recorder;
        MergeRecovered(reader, finds);
        EXPECT_EQ(recorder.seen, (std::vector<std::int32_t>{94}));  // index 5 of 12
    }
    const std::vector<MessageRecord> expected = {Find("new", 100), Find("new", 100, 1), Find("liv", 100, 0, "b"), Find("liv", 99, 0, "x"),
                                                 Find("edited", 101)};
    EXPECT_EQ(reader.m_recovered, expected);
    EXPECT_EQ(reader.m_recoveredCount, 5);

    std::vector<MessageRecord> ten(10, Find("z", 1));
    ProgressRecorder recorder;
    MergeRecovered(reader, ten);
    EXPECT_EQ(recorder.seen, (std::vector<std::int32_t>{95}));
    EXPECT_EQ(reader.m_recoveredCount, 1);
}

TEST_F(ScanTest, SelectionOrderMatchesTheLiteralSortWithManyTies)
{
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::vector<MessageRecord> records(random() % 60);
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].time = static_cast<std::int64_t>(random() % 5) - 2;
            records[i].body = std::to_string(i);
        }
        std::vector<MessageRecord> expected = records;
        literal::SelectionSortByTime(expected);
        CAndroidSms reader;
        reader.m_recovered = records;
        reader.m_recoveredCount = static_cast<std::int32_t>(records.size());
        SortRecoveredByTime(reader);
        ASSERT_EQ(reader.m_recovered, expected) << "round " << round;

        // Conversations: descending, entry 0 fixed, the same exact order.
        const int count = 1 + static_cast<int>(random() % 40);
        g_store.conversationCount = count;
        std::vector<ContactRecord> table(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            table[i].address = std::to_string(i);
            table[i].recentTime = static_cast<std::int64_t>(random() % 4);
            g_store.conversations[i] = table[i];
        }
        for (int i = 1; i < count; ++i) {
            int best = i;
            for (int j = i + 1; j < count; ++j) {
                if (table[j].recentTime > table[best].recentTime) best = j;
            }
            std::swap(table[i], table[best]);
        }
        reader.SortConversations();
        for (int i = 0; i < count; ++i) ASSERT_EQ(g_store.conversations[i], table[i]) << "round " << round;
    }
}

}  // namespace

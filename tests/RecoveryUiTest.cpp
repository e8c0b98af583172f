// The recovery run's texts and progress, the "sms2" rule and the export writer, without a display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "StoreHelpers.h"
#include "presentation/ExportWriter.h"
#include "presentation/Texts.h"
#include "presentation/ViewModel.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"
#include "store/ProgressChannel.h"

namespace {

using fixtures::PhoneDb;


std::string Read(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(RecoveryTexts, ElapsedTimeAndSummary)
{
    EXPECT_EQ(ElapsedText(0), "0.0 s elapsed");
    EXPECT_EQ(ElapsedText(999), "0.9 s elapsed");
    EXPECT_EQ(ElapsedText(1234), "1.2 s elapsed");
    const std::uint32_t start = 0xFFFF'FF00u, now = 0x0000'0100u;  // the tick count wrapped
    EXPECT_EQ(ElapsedText(now - start), "0.5 s elapsed");
    // The design's Chinese text through a translation of the pattern.
    const Translator chinese = [](const char* english) {
        return std::string(english) == "%d.%d s elapsed" ? std::string("耗时%d.%d秒") : std::string(english);
    };
    EXPECT_EQ(ElapsedText(12345, chinese), "耗时12.3秒");

    // The count, what the scan could not do, then the note on reading the result.
    ScanReport scan;
    const std::string note = RecoverySummaryText(5, scan).substr(RecoveredCountSentence(5).size() + 1);
    EXPECT_EQ(RecoverySummaryText(5, scan), RecoveredCountSentence(5) + "\n" + note);
    scan.noSchema = true;
    EXPECT_EQ(RecoverySummaryText(0, scan), RecoveredCountSentence(0) + " " + ScanFailureSentence(scan) + "\n" + note);
    scan = {};
    scan.scannedPath = "/x/mmssms.db";
    scan.error = "Permission denied";
    EXPECT_NE(RecoverySummaryText(0, scan).find(" The file /x/mmssms.db could not be read: Permission denied.\n"),
              std::string::npos);
}

using RecoveryRunTest = FreshStore;

TEST_F(RecoveryRunTest, ProgressClimbsThroughThePassesAndTheMerge)
{
    const auto path = m_dir / "sms.db";
    {
        PhoneDb db = PhoneDb::Iphone(path, {.pageSize = 1024});
        db.Exec("BEGIN");
        db.AddIphoneHandle(1, "5550001");
        for (int i = 0; i < 400; ++i) {
            db.AddIphoneMessage({.text = "message number " + std::to_string(i) + " with some words in it",
                                 .handleId = 1, .date = std::int64_t{461'000'000} + i, .id = std::int64_t{1000 + i}});
        }
        db.Exec("COMMIT");
        db.Exec("DELETE FROM message WHERE ROWID % 7 = 0;");
    }
    Load(path);
    ProgressRecorder recorder;
    const RecoveryRunCounts counts = RunRecoverySteps(path.string());
    ASSERT_GT(counts.countingFound, 10);
    ASSERT_FALSE(recorder.seen.empty());
    // Three stretches: 0..40 (pages), 40..90 (finds), 90..100 (merge); none goes backwards.
    int stage = 0;
    for (std::size_t i = 0; i < recorder.seen.size(); ++i) {
        const int p = recorder.seen[i];
        if (i > 0 && p < recorder.seen[i - 1]) ADD_FAILURE() << "went back at " << i;
        while (stage < 2 && p > (stage == 0 ? 40 : 90)) ++stage;
        EXPECT_GE(p, stage == 0 ? 0 : stage == 1 ? 40 : 90);
    }
    EXPECT_LT(recorder.seen.front(), 40);
    EXPECT_GE(recorder.seen.back(), 90);
    EXPECT_LE(recorder.seen.back(), 100);

    // A run asked to stop at its first report stops scanning, and the undo leaves the store as
    // it was before it (here: after the run above), for both recoveries.
    struct Canceller : ProgressListener {
        int reports = 0;
        void OnProgress() override
        {
            ++reports;
            g_progress.cancel = true;
        }
    };
    const std::vector<MessageRecord> before(g_store.currentReader->m_recovered);
    const std::vector<ContactRecord> conversations(g_store.conversations.begin(), g_store.conversations.begin() + 2);
    for (const bool deep : {false, true}) {
        Canceller canceller;
        RecoveryUndo undo;
        {
            const ProgressScope scope(&canceller);
            if (deep) {
                RunDeepRecoverySteps(path.string());
            } else {
                RunRecoverySteps(path.string());
            }
            EXPECT_TRUE(RecoveryCancelled());
        }
        undo.Restore();
        EXPECT_LT(canceller.reports, static_cast<int>(recorder.seen.size())) << deep;
        EXPECT_EQ(g_store.currentReader->m_recovered, before);
        EXPECT_TRUE(std::equal(conversations.begin(), conversations.end(), g_store.conversations.begin()));
    }
}

TEST_F(RecoveryRunTest, Sms2AsksForTheAlternateRecoveryOnlyWithAnAndroidDatabase)
{
    for (const char* path : {"/a/sms2", "C:\\phone\\sms2"}) EXPECT_TRUE(IsAlternateRecoveryPath(path)) << path;
    for (const char* path : {"sms2", "/a/SMS2", "/a/xsms2", "/a/sms2.db", "/a/sms22"}) {
        EXPECT_FALSE(IsAlternateRecoveryPath(path)) << path;
    }
    EXPECT_EQ(OpenDatabaseFile("/a/sms2").outcome, OpenOutcome::WrongFile);  // no reader yet
    g_store.currentReader = CreateReader(DatabaseName::Iphone);
    EXPECT_EQ(OpenDatabaseFile("/a/sms2").outcome, OpenOutcome::WrongFile);
    g_store.currentReader = CreateReader(DatabaseName::Android);
    EXPECT_EQ(OpenDatabaseFile("/a/sms2").outcome, OpenOutcome::AlternateRecovery);
    EXPECT_EQ(OpenDatabaseFile("/a/SMS2").outcome, OpenOutcome::WrongFile);
    EXPECT_EQ(g_store.currentReader->m_deviceKind, kDeviceAndroid);
}

class ExportTest : public FreshStore {
protected:
    void SetUp() override
    {
        FreshStore::SetUp();
        const auto path = m_dir / "mmssms.db";
        {
            PhoneDb db = PhoneDb::Android(path);
            db.AddAndroidAddress("13812345678");
            db.AddAndroidAddress("+1 (415) 555/0123");
            db.AddAndroidSms({.address = "13812345678", .date = std::int64_t{1'439'532'000'123}, .type = 1, .body = "你好"});
            db.AddAndroidSms({.address = "13812345678", .date = std::int64_t{1'439'532'060'000}, .type = 2, .body = "hi\nthere"});
            db.AddAndroidSms({.address = "+1 (415) 555/0123", .date = std::int64_t{1'439'000'000'000}, .type = 1, .body = "hello"});
        }
        Load(path);
        SetRecovered({MessageOf("13812345678", 1'439'532'030'000, 0, "deleted")});
        m_out = m_dir / "out";
        std::filesystem::create_directory(m_out);
    }
    std::filesystem::path m_out;
};

TEST_F(ExportTest, OneFilePerConversationAsTheViewShowsIt)
{
    std::ofstream(m_out / "13812345678.txt") << "an older export";
    ExportRequest request{{0, 1, 2}, ExportMode::FilePerConversation, m_out, ""};
    const ExportResult result = ExportConversations(request);
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.conversations, 3);
    EXPECT_EQ(result.messages, 4);
    EXPECT_EQ(result.recovered, 1);
    ASSERT_EQ(result.files.size(), 3u);
    EXPECT_EQ(result.files[0].filename(), "Ungrouped.txt");
    EXPECT_EQ(result.files[1].filename(), "13812345678 (2).txt");  // the older file stays
    EXPECT_EQ(result.files[2].filename(), "+1 (415) 555_0123.txt");
    EXPECT_EQ(Read(m_out / "13812345678.txt"), "an older export");
    EXPECT_EQ(Read(result.files[1]),
              "Times in UTC\n\n"
              "13812345678 2015-08-14 06:00:00\n你好\n\n"
              "13812345678 2015-08-14 06:00:30 [recovered]\ndeleted\n\n"
              "Me 2015-08-14 06:01:00\nhi\nthere\n\n");
    EXPECT_EQ(Read(result.files[0]), "Times in UTC\n\n");
    EXPECT_EQ(ExportSummaryText(result, m_out), "Exported 3 conversations (4 messages, 1 recovered) to " + m_out.string() + ".");
    EXPECT_EQ(ExportFileStem("a:b*c?\"d<e>f|g\\h\x01", "Unknown"), "a_b_c__d_e_f_g_h_");
    EXPECT_EQ(ExportFileStem("", "Unknown"), "Unknown");

    // Files are created as any program's files: what the user's umask leaves, not 0644.
    const mode_t saved = ::umask(077);
    const ExportResult privateFiles = ExportConversations({{1}, ExportMode::FilePerConversation, m_out, ""});
    ::umask(saved);
    ASSERT_EQ(privateFiles.files.size(), 1u);
    struct stat info {};
    ASSERT_EQ(::stat(privateFiles.files[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Nothing temporary is left beside the exports.
    for (const auto& entry : std::filesystem::directory_iterator(m_out)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    }
}

TEST_F(ExportTest, OneFileForAllAndFailuresLeaveNothing)
{
    const ExportResult result = ExportConversations({{1, 2}, ExportMode::SingleFile, m_out, (m_dir / "mmssms.db").string()});
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.files.size(), 1u);
    const std::string name = result.files[0].filename().string();
    EXPECT_TRUE(name.starts_with("SMS-mmssms.db-")) << name;
    EXPECT_EQ(name.size(), std::string("SMS-mmssms.db-20150814-060000.txt").size());
    const std::string text = Read(result.files[0]);
    EXPECT_TRUE(text.starts_with("Times in UTC\n\n== 13812345678 (3 messages, 1 recovered)\n\n13812345678 2015-08-14 06:00:00\n")) << text;
    EXPECT_NE(text.find("\n== +1 (415) 555/0123 (1 messages, 0 recovered)\n\n"), std::string::npos);

    // A destination that is not a folder: an error naming it, and no file anywhere.
    const auto notFolder = m_dir / "plain-file";
    std::ofstream(notFolder) << "x";
    const auto before = fixtures::SnapshotFolder(m_dir.Path());
    const ExportResult failed = ExportConversations({{1, 2}, ExportMode::FilePerConversation, notFolder, ""});
    EXPECT_NE(failed.error.find(notFolder.string()), std::string::npos) << failed.error;
    EXPECT_TRUE(failed.files.empty());
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before);
}

}  // namespace

// The case's sequence as both faces run it, on an encrypted backup: the password asked again
// after a wrong one, the evidence hashed as it was opened, the backup's own contacts naming the
// conversations, a recovery and a report that finds the evidence unchanged.
#include <gtest/gtest.h>

#include "StoreHelpers.h"
#include "case/Case.h"
#include "evidence/Sha256.h"
#include "fixtures/Backups.h"

namespace {

TEST_F(FreshStore, AnEncryptedBackupFromOpeningToReport)
{
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Iphone(m_dir / "sms.db");
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "kept", .handleId = std::int64_t{1}, .date = std::int64_t{700'000'000}, .id = std::int64_t{1}});
        db.AddIphoneMessage({.text = "deleted later", .handleId = std::int64_t{1}, .date = std::int64_t{700'000'100}, .id = std::int64_t{2}});
        db.Exec("DELETE FROM message WHERE ROWID = 2;");
    }
    fixtures::WriteIphoneAddressBook(m_dir / "AddressBook.sqlitedb", {{"Li Wei", {"+1 555 0001"}, {}}});
    const auto backup = m_dir / "backup";
    fixtures::WriteIphoneBackup(m_dir / "sms.db", backup, "pw", fixtures::BackupDamage::None,
                                {.addressBook = m_dir / "AddressBook.sqlitedb"});
    const auto before = fixtures::SnapshotFolder(backup);

    std::vector<bool> asked;  // `again` of each question
    CaseCallbacks callbacks;
    callbacks.askAgainOnWrongPassword = true;
    callbacks.password = [&asked](bool again) {
        asked.push_back(again);
        return std::optional<std::string>(asked.size() == 1 ? "wrong" : "pw");
    };
    Case kase;
    ASSERT_EQ(kase.Open(backup.string(), std::nullopt, callbacks), CaseResult::Done) << kase.Error();
    EXPECT_EQ(asked, (std::vector<bool>{false, true}));

    ASSERT_EQ(kase.Load(LoadPurpose::Reading, true).result, CaseResult::Done);
    const EvidenceFacts& evidence = kase.Evidence();
    EXPECT_EQ(evidence.source.type, "iphone-backup");
    EXPECT_TRUE(evidence.source.encrypted);
    ASSERT_GE(evidence.source.files.size(), 3u);  // Manifest.plist, Manifest.db, the database's file
    for (const SourceFacts::File& file : evidence.source.files) EXPECT_EQ(file.sha256, Sha256OfFile(file.path)) << file.path;
    ASSERT_FALSE(evidence.files.empty());
    EXPECT_EQ(evidence.files[0].sha256, Sha256OfFile(kase.DatabasePath()));

    const NamingOutcome named = kase.Name("", "");
    EXPECT_EQ(named.naming.named, 1);
    EXPECT_EQ(kase.Evidence().source.contacts, named.contacts);
    ASSERT_EQ(kase.Recover(RecoveryMode::Deep), CaseResult::Done);
    EXPECT_EQ(g_store.currentReader->m_recoveredCount, 1);

    ExportRequest request;
    request.rows = {0, 1};
    request.folder = m_dir / "report";
    request.format = ExportFormat::Json;
    std::filesystem::create_directories(request.folder);
    const CaseExport exported = kase.Export(request, "test");
    EXPECT_EQ(exported.result.error, "");
    EXPECT_TRUE(exported.facts.unchanged) << exported.facts.warning;
    EXPECT_EQ(exported.result.recovered, 1);
    EXPECT_TRUE(fixtures::SnapshotFolder(backup) == before) << "the backup changed";

    // Without asking again, a wrong password ends the opening with the reason.
    callbacks.askAgainOnWrongPassword = false;
    asked.clear();
    Case refused;
    EXPECT_EQ(refused.Open(backup.string(), std::nullopt, callbacks), CaseResult::Unreadable);
    EXPECT_NE(refused.Error().find("is wrong"), std::string::npos) << refused.Error();
}

}  // namespace

// Hostile and damaged sources: each backup fault gets its own message, and nothing is written
// into the source.
#include <gtest/gtest.h>

#include <fstream>

#include "StoreHelpers.h"
#include "fixtures/Backups.h"
#include "sources/EvidenceSource.h"

namespace {

using fixtures::BackupDamage;

struct HostileBackup {
    const char* name;
    BackupDamage damage;
    bool encrypted;
    const char* garbage;  // a file of the backup replaced by text, or null
    const char* said;     // what the error must say
};

class HostileBackupTest : public FreshStore, public ::testing::WithParamInterface<HostileBackup> {};

TEST_P(HostileBackupTest, SaysWhatIsWrongAndWritesNothing)
{
    const HostileBackup& c = GetParam();
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Iphone(m_dir / "sms.db");
        db.AddIphoneHandle(1, "+15550001");
    }
    const auto backup = m_dir / "backup";
    fixtures::WriteIphoneBackup(m_dir / "sms.db", backup, c.encrypted ? std::optional<std::string>("pw") : std::nullopt,
                                c.damage);
    if (c.garbage != nullptr) std::ofstream(backup / c.garbage, std::ios::trunc) << "not what it should be";
    const auto before = fixtures::SnapshotFolder(backup);
    SourceOptions options;
    options.password = [] { return std::optional<std::string>("pw"); };
    const EvidenceSource source = EvidenceSource::Open(backup.string(), options);
    EXPECT_NE(source.Error().find(c.said), std::string::npos) << source.Error();
    EXPECT_TRUE(fixtures::SnapshotFolder(backup) == before);
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, HostileBackupTest,
    ::testing::Values(HostileBackup{"NoMessagesRow", BackupDamage::NoMessagesRow, false, nullptr, "is not listed in its Manifest.db"},
                      HostileBackup{"GarbageManifestDb", BackupDamage::None, false, "Manifest.db", "is not an SQLite database"},
                      HostileBackup{"GarbageManifestPlist", BackupDamage::None, true, "Manifest.plist", "is not a property list"},
                      HostileBackup{"TruncatedKeybag", BackupDamage::TruncatedKeybag, true, nullptr, "keybag"},
                      HostileBackup{"ShortKey", BackupDamage::ShortManifestKey, true, nullptr, "has 20 bytes instead of 44"},
                      HostileBackup{"CutFile", BackupDamage::CutFile, true, nullptr, "is not a multiple of 16"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

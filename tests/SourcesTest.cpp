// Hostile and damaged sources: each backup fault gets its own message, and nothing is written
// into the source.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <iterator>

#include "StoreHelpers.h"
#include "fixtures/Backups.h"
#include "evidence/BackupCrypto.h"
#include "evidence/EvidenceSource.h"

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

namespace {

TEST(KeyDerivationTest, MatchesTheStandardsVectorsAndStopsWhenAsked)
{
    // RFC 6070's SHA-1 vector, and OpenSSL's own PBKDF2 for SHA-256 over two output blocks.
    const std::string password = "password", salt = "salt";
    const auto bytes = [](const std::string& text) { return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); };
    std::array<std::uint8_t, 20> sha1{};
    ASSERT_TRUE(Pbkdf2(EVP_sha1(), bytes(password), bytes(salt), 4096, sha1));
    EXPECT_EQ(sha1, (std::array<std::uint8_t, 20>{0x4b, 0x00, 0x79, 0x01, 0xb7, 0x65, 0x48, 0x9a, 0xbe, 0xad,
                                                  0x49, 0xd9, 0x26, 0xf7, 0x21, 0xd0, 0x65, 0xa4, 0x29, 0xc1}));
    std::array<std::uint8_t, 40> ours{}, theirs{};
    ASSERT_TRUE(Pbkdf2(EVP_sha256(), bytes(password), bytes(salt), 70'000, ours));
    PKCS5_PBKDF2_HMAC(password.data(), 8, reinterpret_cast<const unsigned char*>(salt.data()), 4, 70'000, EVP_sha256(), 40,
                      theirs.data());
    EXPECT_EQ(ours, theirs);
    std::vector<int> seen;
    EXPECT_FALSE(Pbkdf2(EVP_sha256(), bytes(password), bytes(salt), 200'000, ours, [&](int percent) {
        seen.push_back(percent);
        return seen.size() < 2;
    }));
    EXPECT_EQ(seen, (std::vector<int>{16, 32}));  // 65,536 and 131,072 of 2 blocks × 200,000
}

}  // namespace

namespace {

class AttachmentTest : public FreshStore, public ::testing::WithParamInterface<bool> {};

TEST_P(AttachmentTest, ABackupGivesItsAttachmentsByThePhonesPaths)
{
    const bool encrypted = GetParam();
    fixtures::PhoneDb::Iphone(m_dir / "sms.db");
    const std::string relative = "Library/SMS/Attachments/3a/10/GUID/photo.jpg";
    fixtures::WriteIphoneBackup(m_dir / "sms.db", m_dir / "backup", encrypted ? std::optional<std::string>("pw") : std::nullopt,
                                BackupDamage::None, {.attachments = {{relative, "JPEG bytes"}}});
    const auto before = fixtures::SnapshotFolder(m_dir / "backup");
    SourceOptions options;
    options.password = [] { return std::optional<std::string>("pw"); };
    EvidenceSource source = EvidenceSource::Open((m_dir / "backup").string(), options);
    ASSERT_EQ(source.Error(), "");
    for (const std::string& named : {"~/" + relative, "/var/mobile/" + relative}) {
        const std::optional<std::string> file = source.AttachmentFile(named);
        ASSERT_TRUE(file) << named;
        std::ifstream in(*file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "JPEG bytes");
    }
    EXPECT_FALSE(source.AttachmentFile("~/Library/SMS/Attachments/3a/10/GUID/other.jpg"));
    EXPECT_FALSE(source.AttachmentFile("~/Library/SMS/Attachments/../../Manifest.db"));
    EXPECT_FALSE(source.AttachmentFile("~/Library/SMS/sms.db"));  // not an attachment
    EXPECT_EQ(source.Error(), "");
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir / "backup") == before);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, AttachmentTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Encrypted" : "Plain"); });

}  // namespace

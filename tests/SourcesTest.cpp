// Hostile and damaged sources: each backup fault gets its own message, and nothing is written
// into the source.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "StoreHelpers.h"
#include "evidence/BackupCrypto.h"
#include "evidence/EvidenceSource.h"
#include "fixtures/Backups.h"

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

// A keybag laid out as the published description of the format has it: tag, 4-byte big-endian
// length, value; the header's items, then one record per class key starting at its UUID.
std::vector<std::uint8_t> KeybagItem(const std::string& tag, std::vector<std::uint8_t> value)
{
    std::vector<std::uint8_t> item(tag.begin(), tag.end());
    const auto n = static_cast<std::uint32_t>(value.size());
    item.insert(item.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                             static_cast<std::uint8_t>(n)});
    item.insert(item.end(), value.begin(), value.end());
    return item;
}
std::vector<std::uint8_t> Number(std::uint32_t n)
{
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}
std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }
std::vector<std::uint8_t> Hex(const std::string& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// RFC 3394 section 4.6: 256 bits of key data wrapped with a 256-bit key.
const std::string kWrappingKey = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
const std::string kWrappedKey = "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21";
const std::string kKeyData = "00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F";

std::vector<std::uint8_t> Keybag(const std::string& password, const std::string& salt, std::uint32_t iterations, bool doubled)
{
    std::vector<std::vector<std::uint8_t>> items = {KeybagItem("VERS", Number(doubled ? 4 : 3)), KeybagItem("TYPE", Number(1)),
                                                    KeybagItem("UUID", std::vector<std::uint8_t>(16, 0xAB)),
                                                    KeybagItem("HMCK", std::vector<std::uint8_t>(40, 0)), KeybagItem("WRAP", Number(0)),
                                                    KeybagItem("SALT", Text(salt)), KeybagItem("ITER", Number(iterations))};
    if (doubled) {
        items.push_back(KeybagItem("DPWT", Number(1)));
        items.push_back(KeybagItem("DPIC", Number(3)));
        items.push_back(KeybagItem("DPSL", Text(password + "-outer")));
    }
    // Classes 1 and 3 wrapped with the password's key (WRAP bit 2), class 2 with the device's only.
    for (const auto& [protectionClass, wrap] : {std::pair{1u, 2u}, std::pair{2u, 1u}, std::pair{3u, 3u}}) {
        items.push_back(KeybagItem("UUID", std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(protectionClass))));
        items.push_back(KeybagItem("CLAS", Number(protectionClass)));
        items.push_back(KeybagItem("WRAP", Number(wrap)));
        items.push_back(KeybagItem("KTYP", Number(0)));
        items.push_back(KeybagItem("WPKY", Hex(kWrappedKey)));
    }
    std::vector<std::uint8_t> bytes;
    for (const auto& item : items) bytes.insert(bytes.end(), item.begin(), item.end());
    return bytes;
}

TEST(KeybagTest, BothFormsDeriveThePublishedKeysAndUnwrapEveryClassOfThePassword)
{
    // Before iOS 10.2: PBKDF2-HMAC-SHA1 of the password alone; RFC 6070's 25-byte vector covers
    // both of the output's blocks.
    std::string error;
    const std::optional<::Keybag> older = ParseKeybag(Keybag("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, false), error);
    ASSERT_TRUE(older) << error;
    const std::optional<Key256> olderKey = DerivePasswordKey(*older, "passwordPASSWORDpassword");
    ASSERT_TRUE(olderKey);
    EXPECT_EQ(std::vector<std::uint8_t>(olderKey->begin(), olderKey->begin() + 25), Hex("3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"));

    // From iOS 10.2: the password goes through PBKDF2-HMAC-SHA256 (DPSL, DPIC) first.
    const std::optional<::Keybag> newer = ParseKeybag(Keybag("pw", "salt", 5, true), error);
    ASSERT_TRUE(newer) << error;
    std::array<std::uint8_t, 32> inner{}, expected{};
    const std::string outer = "pw-outer";
    PKCS5_PBKDF2_HMAC("pw", 2, reinterpret_cast<const unsigned char*>(outer.data()), static_cast<int>(outer.size()), 3, EVP_sha256(), 32,
                      inner.data());
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(inner.data()), 32, reinterpret_cast<const unsigned char*>("salt"), 4, 5, EVP_sha1(), 32,
                      expected.data());
    EXPECT_EQ(DerivePasswordKey(*newer, "pw"), expected);

    // Every class wrapped with the password's key unwraps (RFC 3394's vector); a class only the
    // device can unwrap is left out.
    Key256 wrapping{};
    const std::vector<std::uint8_t> kek = Hex(kWrappingKey);
    std::copy(kek.begin(), kek.end(), wrapping.begin());
    const std::map<std::uint32_t, Key256> keys = UnlockClassKeys(*older, wrapping);
    ASSERT_EQ(keys.size(), 2u);
    for (const std::uint32_t protectionClass : {1u, 3u}) {
        ASSERT_TRUE(keys.contains(protectionClass)) << protectionClass;
        EXPECT_EQ(std::vector<std::uint8_t>(keys.at(protectionClass).begin(), keys.at(protectionClass).end()), Hex(kKeyData));
    }
    EXPECT_TRUE(UnlockClassKeys(*older, Key256{}).empty());  // a wrong key unwraps nothing
}

TEST(DecryptFileTest, PaddingIsRemovedWhateverTheLengthAndKeptWhenItIsNone)
{
    Key256 key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 7);
    const std::array<std::uint8_t, 16> iv{};
    for (const std::size_t length : {0u, 1u, 15u, 16u, 17u, 4096u}) {
        std::vector<std::uint8_t> plain(length);
        for (std::size_t i = 0; i < length; ++i) plain[i] = static_cast<std::uint8_t>(i);
        // OpenSSL pads as PKCS#7 says: 1 to 16 bytes, each holding the count.
        std::vector<std::uint8_t> cipher(length + 16);
        int written = 0, last = 0;
        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        ASSERT_EQ(EVP_EncryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()), 1);
        EVP_EncryptUpdate(context.get(), cipher.data(), &written, plain.data(), static_cast<int>(plain.size()));
        EVP_EncryptFinal_ex(context.get(), cipher.data() + written, &last);
        cipher.resize(static_cast<std::size_t>(written + last));
        std::string error;
        EXPECT_EQ(DecryptFile(key, cipher, error), plain) << length;
    }
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

// A decrypted backup's Manifest.db often keeps its log-mode header (bytes 18 and 19 are 2)
// without the log: it opens all the same, and stays as it is; so does one whose page size field
// is damaged, mended as every database's header is.
TEST_F(FreshStore, AManifestWithALogModeHeaderOpens)
{
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Iphone(m_dir / "sms.db");
        db.AddIphoneHandle(1, "+15550001");
    }
    fixtures::WriteIphoneBackup(m_dir / "sms.db", m_dir / "backup");
    {
        std::fstream manifest(m_dir / "backup" / "Manifest.db", std::ios::in | std::ios::out | std::ios::binary);
        manifest.seekp(16);
        manifest.write("\x00\x00\x02\x02", 4);
    }
    const auto before = fixtures::SnapshotFolder(m_dir / "backup");
    const EvidenceSource source = EvidenceSource::Open((m_dir / "backup").string());
    EXPECT_EQ(source.Error(), "");
    EXPECT_FALSE(source.DatabasePath().empty());
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir / "backup") == before);
}

// A backup of iOS 5 (Manifest.mbdb, every file in the top folder under its SHA-1 name) gives
// its sms.db of the old layout, read in full; the backup stays as it is.
TEST_F(FreshStore, AnOldBackupWithManifestMbdbOpens)
{
    const auto backup = m_dir / "backup";
    std::filesystem::create_directories(backup);
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::IphoneLegacy(backup / "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
        db.AddIphoneLegacyMessage({.address = "+15550001", .date = std::int64_t{1'300'000'000}, .text = "from 2011"});
    }
    std::ofstream(backup / "Manifest.mbdb", std::ios::binary) << "mbdb\x05\x00";
    const auto before = fixtures::SnapshotFolder(backup);
    EvidenceSource source = EvidenceSource::Open(backup.string());
    ASSERT_EQ(source.Error(), "");
    ReplaceReaderAndLoad(CreateReader(DatabaseName::Iphone), source.DatabasePath());
    ASSERT_EQ(g_store.liveMessageCount, 1);
    EXPECT_EQ(g_store.liveMessages[0].time, 1'300'000'000 - 978'307'200);
    EXPECT_TRUE(fixtures::SnapshotFolder(backup) == before);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, AttachmentTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Encrypted" : "Plain"); });

}  // namespace

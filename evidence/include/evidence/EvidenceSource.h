// What people hold, opened for the readers: a loose database file, an iPhone backup folder, or
// an Android extraction folder. This library knows containers, not messages: it hands the
// readers the path of one database file with its log and journal beside it, and writes nothing
// into the source (what it must lay out for the readers goes into a private folder of its own).
#pragma once

#include <filesystem>
#include <functional>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class SourceType { Database, IphoneBackup, AndroidExtraction };

// How the opening of a source ended.
enum class SourceStatus {
    Opened,         // its database can be read
    Failed,         // it cannot be read (Error() says why)
    Unrecognised,   // a folder or archive that holds neither kind of source
    WrongPassword,  // an encrypted backup's password was wrong (another may be tried)
    Cancelled,      // the unlocking was stopped through SourceOptions::unlocking
};

struct SourceOptions {
    std::optional<int> user;  // Android extraction: the user whose messages are read (default 0)
    // Encrypted iPhone backup: asked for the password when one is needed (nothing: none given).
    std::function<std::optional<std::string>()> password;
    // Told how far the derivation of the password's key has come (0 to 100; it takes seconds),
    // first right before it starts; returns false to stop the opening (Cancelled() says so).
    std::function<bool(int percent)> unlocking;
};

// A folder of this process's own (0700 under the system's temporary folder), removed with
// everything in it when the object goes.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(PrivateFolder&& other) noexcept;
    PrivateFolder& operator=(PrivateFolder&& other) noexcept;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // Makes the folder (once); false when the system gives none.
    bool Make();
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

struct ManifestRow;
struct AndroidDatabase;
struct ArchivedFile;

// A file of the source that was read, for the report's proof of what it read.
struct SourceFile {
    std::string path;    // on disk (an archive's members: the archive)
    std::string inside;  // where it is in the source ("HomeDomain/Library/SMS/sms.db", a member's path)
    std::int64_t size = -1;
    std::string sha256{};  // known already (archive members, hashed as they were taken out); else empty
};

// Removes the private folders (of sources and of private copies) that a process of this user
// left behind when it ended without removing them (it crashed or was killed); folders of
// processes still running are left alone. Returns how many were removed.
int RemoveAbandonedPrivateFolders();

class EvidenceSource {
public:
    // Opens `path`: a .tar, .tar.gz/.tgz or .zip file is an Android extraction whose messages
    // databases are taken out into a private folder; a folder holding Manifest.db is an iPhone backup (its messages database is
    // the HomeDomain file Library/SMS/sms.db, with Library/SMS/sms.db-wal when listed); a
    // folder holding …/com.android.providers.telephony/databases/mmssms.db under data/data/,
    // data/user/N/ or data/user_de/N/ is an Android extraction (user `options.user`, else 0);
    // anything else is a database file as it stands. Check Error() before anything else.
    static EvidenceSource Open(const std::string& path, const SourceOptions& options = {});

    // Why the source cannot be read (names the path and the reason); empty when it can.
    const std::string& Error() const { return m_error; }
    // Opened when Error() is empty; otherwise why not.
    SourceStatus Status() const { return m_error.empty() ? SourceStatus::Opened : m_status; }
    bool Unrecognised() const { return Status() == SourceStatus::Unrecognised; }
    bool WrongPassword() const { return Status() == SourceStatus::WrongPassword; }
    bool Cancelled() const { return Status() == SourceStatus::Cancelled; }
    // Whether the backup is encrypted (its files were decrypted into a private folder).
    bool Encrypted() const { return m_encrypted; }
    SourceType Type() const { return m_type; }
    const std::string& Path() const { return m_path; }
    // The database file to read; its "-wal" and "-journal" (when the source has them) are
    // beside it under the same name.
    const std::string& DatabasePath() const { return m_database; }
    // Where the database is inside the source ("HomeDomain/Library/SMS/sms.db",
    // "data/user_de/0/com.android.providers.telephony/databases/mmssms.db"); empty for a file.
    const std::string& DatabaseName() const { return m_inside; }
    // Android extraction: every user that has a messages database, ascending.
    const std::vector<int>& Users() const { return m_users; }
    int User() const { return m_user; }
    // The phone's contacts database laid out for reading (Android contacts2.db, iPhone
    // AddressBook.sqlitedb, log beside it), and where it is inside; empty when the source has none.
    const std::string& ContactsPath() const { return m_contacts; }
    const std::string& ContactsName() const { return m_contactsInside; }
    // The source's own files that were read (backup: Manifest.plist, Manifest.db and the hashed
    // files; extraction folder: the databases and their logs; archive: the archive and each
    // member taken out); empty for a database file, whose files the readers name.
    const std::vector<SourceFile>& Files() const { return m_files; }
    // The file of a message attachment as the phone names it ("~/Library/SMS/Attachments/…",
    // "/var/mobile/Library/SMS/Attachments/…" on the iPhone; "/data/user/0/com.android.
    // providers.telephony/app_parts/PART_…" on Android), ready to read: in a plain backup or
    // an extraction folder the source's own file, in an encrypted backup a decrypted copy in
    // the private folder. Nothing when the source does not hold it (or is a database file).
    std::optional<std::string> AttachmentFile(const std::string& phonePath);
    // Whether the source holds the attachment, without decrypting or extracting it: its file as
    // AttachmentFile gives it, or "" for an encrypted backup's or an archive's file (taken out
    // when opened).
    std::optional<std::string> AttachmentAtHand(const std::string& phonePath);

private:
    static EvidenceSource OpenIphoneBackup(const std::filesystem::path& root, const SourceOptions& options);
    // A backup of iOS 9 and earlier: Manifest.mbdb instead of Manifest.db, every file in the
    // backup's top folder under its SHA-1 name.
    static EvidenceSource OpenOldIphoneBackup(const std::filesystem::path& root);
    // Lays the backup's database and log out in the private folder as "sms.db" and "sms.db-wal":
    // links to a plain backup's files, or an encrypted one's decrypted with `classKeys`. False
    // with m_error set.
    bool LayOutFiles(const std::filesystem::path& root, const std::vector<ManifestRow>& rows,
                     const std::map<std::uint32_t, std::array<std::uint8_t, 32>>* classKeys);
    std::optional<std::string> BackupAttachment(const std::string& relative);
    bool LinkInto(const std::filesystem::path& root, const std::filesystem::path& file, const std::filesystem::path& target);
    bool DecryptInto(const std::filesystem::path& file, const ManifestRow& row,
                     const std::map<std::uint32_t, std::array<std::uint8_t, 32>>& classKeys,
                     const std::filesystem::path& target);
    static EvidenceSource OpenAndroidExtraction(const std::filesystem::path& root, const SourceOptions& options);
    static EvidenceSource OpenAndroidArchive(const std::filesystem::path& archive, const SourceOptions& options);
    // The database of the user asked for (else 0, else the first), filling the users and the
    // database path; null with m_error set when that user has none.
    const AndroidDatabase* ChooseUser(const std::vector<AndroidDatabase>& found, const SourceOptions& options,
                                      const std::string& where);
    // An extraction folder: the chosen user's contacts and every file read, from `data`.
    void TakeFolderFiles(const std::filesystem::path& root, const AndroidDatabase& chosen);
    // An archive: the chosen user's contacts and every member taken out.
    void TakeArchiveFiles(const std::filesystem::path& archive, const std::vector<ArchivedFile>& extracted);

    SourceType m_type = SourceType::Database;
    std::string m_path, m_database, m_inside, m_error, m_contacts, m_contactsInside;
    std::vector<SourceFile> m_files;
    // An iPhone backup's index for finding more of its files (attachments).
    std::shared_ptr<struct BackupIndex> m_backup;
    std::filesystem::path m_extractionData;  // an Android extraction folder's "data" folder
    std::filesystem::path m_archive;         // an Android extraction archive
    std::map<std::string, std::string> m_archiveParts;  // its attachments: phone path after "/data/" -> member
    SourceStatus m_status = SourceStatus::Failed;  // what an error means
    bool m_encrypted = false;
    std::vector<int> m_users;
    int m_user = 0;
    PrivateFolder m_private;  // the layout handed to the readers, when one is needed
};

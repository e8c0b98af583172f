// Recognising iPhone backups and Android extractions and laying out their messages database.
#include "evidence/EvidenceSource.h"

#include <fcntl.h>
#include <signal.h>
#include <openssl/sha.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <set>
#include <system_error>
#include <utility>

#include "evidence/ArchiveExtraction.h"
#include "evidence/BackupCrypto.h"
#include "evidence/BackupManifest.h"
#include "store/FileDescriptor.h"
#include "store/SqliteHeader.h"
#include "store/SqliteKit.h"
#include "store/SqliteUri.h"

namespace fs = std::filesystem;

// One messages database of an extraction, with the user it belongs to.
struct AndroidDatabase {
    int user = 0;
    bool deviceProtected = false;  // under user_de (Android 7 and later keep it there)
    fs::path path;
    fs::path data;  // the extraction's "data" folder it was found in
};

// What an open iPhone backup keeps to find more of its files later.
struct BackupIndex {
    fs::path root;
    std::vector<std::uint8_t> manifest;  // Manifest.db's bytes (decrypted)
    std::map<std::uint32_t, Key256> classKeys;  // empty for a plain backup
    std::map<std::string, std::string> decrypted;  // file id → its decrypted copy
};

// A Files row of Manifest.db: the messages or contacts database, or its log.
struct ManifestRow {
    std::string relativePath;
    std::string fileId;
    std::vector<std::uint8_t> record;  // the archived MBFile
};

namespace {

constexpr const char* kMessagesDomain = "HomeDomain";
constexpr const char* kMessagesPath = "Library/SMS/sms.db";
constexpr const char* kContactsPath = "Library/AddressBook/AddressBook.sqlitedb";
constexpr const char* kTelephony = "com.android.providers.telephony/databases/mmssms.db";
constexpr const char* kContactsProviders[] = {"com.android.providers.contacts/databases/contacts2.db",
                                              "com.samsung.android.providers.contacts/databases/contacts2.db"};

bool IsRegularFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

// The Files rows of the messages and contacts databases and their logs, from an open
// Manifest.db.
std::vector<ManifestRow> ManifestRows(sqlite3* db, std::string& error)
{
    std::vector<ManifestRow> rows;
    Statement files(db,
                    "SELECT relativePath, fileID, file FROM Files WHERE domain = ?1 AND relativePath IN "
                    "(?2, ?2 || '-wal', ?3, ?3 || '-wal') AND (flags IS NULL OR flags = 1);");
    if (!files.Ok()) {
        error = sqlite3_errmsg(db);
        return rows;
    }
    files.Bind(1, kMessagesDomain).Bind(2, kMessagesPath).Bind(3, kContactsPath);
    int rc;
    while ((rc = sqlite3_step(files.handle)) == SQLITE_ROW) {
        if (files.IsNull(0) || files.IsNull(1)) continue;
        ManifestRow& row = rows.emplace_back();
        row.relativePath = files.Text(0);
        row.fileId = files.Text(1);
        const std::span<const std::uint8_t> record = files.Blob(2);
        row.record.assign(record.begin(), record.end());
    }
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
    return rows;
}

// A backup's name for a file: the SHA-1 of "domain-relativePath", in hex.
std::string FileIdOf(const std::string& name)
{
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest);
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

// Reads a whole file; nothing (with `error`) when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadAll(const fs::path& path, std::string& error)
{
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    std::vector<std::uint8_t> bytes;
    std::string reason = std::strerror(errno);
    if (file.Get() >= 0 && ::fstat(file.Get(), &info) == 0) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        if (ReadFully(file.Get(), bytes.data(), bytes.size(), 0, reason)) return bytes;
    }
    error = "'" + path.string() + "' cannot be read: " + reason;
    return std::nullopt;
}

// A connection to a database whose bytes are in memory (read in place, never written); no
// connection when they are no database. The header is mended as every database's is: a page
// size or reserved space its pages contradict, and a header in log mode made a rollback one
// (SQLite would look for a log beside an in-memory image and refuse it, and what a log held is
// not in a backup's copy anyway).
SqliteHandle MemoryDatabase(std::vector<std::uint8_t>& bytes)
{
    ApplyHeaderMends(bytes, FindHeaderMends(std::span(bytes).first(std::min<std::size_t>(bytes.size(), 65536)), bytes.size()));
    SqliteHandle db;
    if (sqlite3_open_v2(":memory:", db.Out(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
        sqlite3_deserialize(db.Get(), "main", bytes.data(), static_cast<sqlite3_int64>(bytes.size()),
                            static_cast<sqlite3_int64>(bytes.size()), SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
        db.Close();
    }
    return db;
}

// Unlocks an encrypted backup: the class keys from its keybag and the password, and
// Manifest.db decrypted in place where it is encrypted itself (iOS 10.2 on). Nothing, with
// `status` and `error` set, when there is no password, it is wrong or the unlocking stopped.
std::optional<std::map<std::uint32_t, Key256>> UnlockBackup(const ManifestPlist& plist, std::vector<std::uint8_t>& manifest,
                                                            const SourceOptions& options, const fs::path& root,
                                                            SourceStatus& status, std::string& error)
{
    const std::string where = "the iPhone backup '" + root.string() + "'";
    std::string problem;
    const std::optional<Keybag> keybag = ParseKeybag(plist.keybag, problem);
    if (!keybag) {
        error = where + " is encrypted, but " + problem;
        return std::nullopt;
    }
    const std::optional<std::string> password = options.password ? options.password() : std::nullopt;
    if (!password) {
        error = where + " is encrypted: its password is needed";
        return std::nullopt;
    }
    const std::optional<Key256> passwordKey =
        options.unlocking && !options.unlocking(0) ? std::nullopt : DerivePasswordKey(*keybag, *password, options.unlocking);
    if (!passwordKey) {
        status = SourceStatus::Cancelled;
        error = "the unlocking of " + where + " was cancelled";
        return std::nullopt;
    }
    std::map<std::uint32_t, Key256> classKeys = UnlockClassKeys(*keybag, *passwordKey);
    if (classKeys.empty()) {
        status = SourceStatus::WrongPassword;
        error = "the password of the encrypted backup '" + root.string() + "' is wrong";
        return std::nullopt;
    }
    if (!plist.manifestKey.empty()) {
        const std::optional<Key256> key = UnwrapStoredKey(classKeys, plist.manifestKey, problem);
        std::optional<std::vector<std::uint8_t>> plain = key ? DecryptFile(*key, manifest, problem) : std::nullopt;
        if (!plain) {
            error = where + ": its Manifest.db cannot be decrypted: " + problem;
            return std::nullopt;
        }
        manifest = std::move(*plain);
    }
    return classKeys;
}

// The Files rows Kestrow needs from Manifest.db's bytes; `error` set when they cannot be read.
std::vector<ManifestRow> ReadManifestRows(std::vector<std::uint8_t>& manifest, const std::string& where, std::string& error)
{
    if (manifest.size() < 16 || std::memcmp(manifest.data(), "SQLite format 3", 16) != 0) {
        error = where + ": its Manifest.db is not an SQLite database, so its files cannot be found";
        return {};
    }
    std::string problem;
    std::vector<ManifestRow> rows;
    const SqliteHandle db = MemoryDatabase(manifest);
    if (db) rows = ManifestRows(db.Get(), problem);
    if (!db || !problem.empty()) error = where + ": its Manifest.db cannot be read" + (problem.empty() ? "" : ": " + problem);
    return rows;
}


// Writes `bytes` to a new file `path` readable by its owner alone.
bool WritePrivateFile(const fs::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::error_code error;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, error);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return !error && out.good();
}

// Where a backup keeps the file `id`: <root>/<first two characters>/<id> (iOS 10 and later),
// else <root>/<id>. Only plain names of hexadecimal digits are looked for.
std::optional<fs::path> BackupFile(const fs::path& root, const std::string& id)
{
    if (id.size() < 2 || !std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        return std::nullopt;
    }
    for (const fs::path& candidate : {root / id.substr(0, 2) / id, root / id}) {
        if (IsRegularFile(candidate)) return candidate;
    }
    return std::nullopt;
}

// The messages databases under one "data" folder of an extraction: data/<package>,
// user/N/<package>, user_de/N/<package>.
void FindAndroidDatabases(const fs::path& data, std::vector<AndroidDatabase>& found)
{
    if (const fs::path legacy = data / "data" / kTelephony; IsRegularFile(legacy)) found.push_back({0, false, legacy, data});
    for (const auto& [folder, deviceProtected] : {std::pair{"user", false}, std::pair{"user_de", true}}) {
        std::error_code error;
        for (fs::directory_iterator users(data / folder, error), end; !error && users != end; users.increment(error)) {
            const std::string name = users->path().filename().string();
            if (name.empty() || name.size() > 6 || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
            if (const fs::path database = users->path() / kTelephony; IsRegularFile(database)) {
                found.push_back({std::stoi(name), deviceProtected, database, data});
            }
        }
    }
}

}  // namespace

PrivateFolder::~PrivateFolder()
{
    if (m_path.empty()) return;
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept : m_path(std::exchange(other.m_path, {})) {}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept
{
    if (this != &other) {
        PrivateFolder gone(std::move(*this));
        m_path = std::exchange(other.m_path, {});
    }
    return *this;
}

bool PrivateFolder::Make()
{
    if (!m_path.empty()) return true;
    std::error_code error;
    // The process id in the name tells a later start whether its owner is still running.
    std::string pattern =
        (fs::temp_directory_path(error) / ("kestrow-source-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (error || ::mkdtemp(pattern.data()) == nullptr) return false;  // mkdtemp makes it 0700
    m_path = pattern;
    return true;
}

int RemoveAbandonedPrivateFolders()
{
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    if (error) return 0;
    int removed = 0;
    for (fs::directory_iterator entry(temporary, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::string rest;
        for (const char* prefix : {"kestrow-source-", "kestrow-read-"}) {
            if (name.starts_with(prefix)) rest = name.substr(std::strlen(prefix));
        }
        const std::size_t dash = rest.find('-');
        if (dash == std::string::npos || dash == 0 || !std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(dash), ::isdigit)) {
            continue;
        }
        struct stat info {};
        if (::lstat(entry->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) continue;
        const long owner = std::stol(rest.substr(0, dash));
        if (owner == ::getpid() || ::kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM) continue;
        std::error_code ignored;
        if (fs::remove_all(entry->path(), ignored) > 0) ++removed;
    }
    return removed;
}

EvidenceSource EvidenceSource::Open(const std::string& path, const SourceOptions& options)
{
    std::error_code error;
    if (!fs::is_directory(path, error) && LooksLikeArchive(path) && fs::is_regular_file(path, error)) {
        EvidenceSource source = OpenAndroidArchive(path, options);
        source.m_path = path;
        return source;
    }
    if (!fs::is_directory(path, error)) {
        EvidenceSource source;
        source.m_path = path;
        source.m_database = path;
        return source;
    }
    const bool oldBackup = !fs::exists(fs::path(path) / "Manifest.db", error) && fs::exists(fs::path(path) / "Manifest.mbdb", error);
    EvidenceSource source = oldBackup                                              ? OpenOldIphoneBackup(path)
                            : fs::exists(fs::path(path) / "Manifest.db", error) ? OpenIphoneBackup(path, options)
                                                                                : OpenAndroidExtraction(path, options);
    source.m_path = path;
    return source;
}

namespace {

// The backup's Manifest.plist (an empty one when the backup has none); nothing, with `error`
// naming the backup (`where`) and the reason, when it cannot be read.
std::optional<ManifestPlist> ReadManifestPlist(const fs::path& root, const std::string& where, std::string& error)
{
    if (!fs::exists(root / "Manifest.plist")) return ManifestPlist{};
    std::string problem;
    const auto bytes = ReadAll(root / "Manifest.plist", problem);
    std::optional<ManifestPlist> parsed = bytes ? ParseManifestPlist(*bytes, problem) : std::nullopt;
    if (!parsed) error = where + ": " + problem;
    return parsed;
}

}  // namespace

EvidenceSource EvidenceSource::OpenIphoneBackup(const fs::path& root, const SourceOptions& options)
{
    EvidenceSource source;
    source.m_type = SourceType::IphoneBackup;
    source.m_inside = std::string(kMessagesDomain) + "/" + kMessagesPath;
    const std::string where = "the iPhone backup '" + root.string() + "'";
    std::string problem;
    const std::optional<ManifestPlist> read = ReadManifestPlist(root, where, source.m_error);
    if (!read) return source;
    const ManifestPlist& plist = *read;
    std::optional<std::vector<std::uint8_t>> manifest = ReadAll(root / "Manifest.db", problem);
    if (!manifest) {
        source.m_error = where + ": " + problem;
        return source;
    }
    for (const char* name : {"Manifest.plist", "Manifest.db"}) {
        if (IsRegularFile(root / name)) source.m_files.push_back({(root / name).string(), name});
    }
    std::map<std::uint32_t, Key256> classKeys;
    if (plist.encrypted) {
        source.m_encrypted = true;
        std::optional<std::map<std::uint32_t, Key256>> unlocked =
            UnlockBackup(plist, *manifest, options, root, source.m_status, source.m_error);
        if (!unlocked) return source;
        classKeys = std::move(*unlocked);
    }
    std::vector<ManifestRow> rows = ReadManifestRows(*manifest, where, source.m_error);
    if (!source.m_error.empty()) return source;
    if (!source.m_private.Make()) {
        source.m_error = "no private temporary folder could be made to read " + where;
        return source;
    }
    const bool laid = source.LayOutFiles(root, rows, plist.encrypted ? &classKeys : nullptr);
    if (laid) source.m_database = (source.m_private.Path() / "sms.db").string();
    source.m_backup = std::make_shared<BackupIndex>(BackupIndex{root, std::move(*manifest), std::move(classKeys), {}});
    return source;
}

EvidenceSource EvidenceSource::OpenOldIphoneBackup(const fs::path& root)
{
    EvidenceSource source;
    source.m_type = SourceType::IphoneBackup;
    source.m_inside = std::string(kMessagesDomain) + "/" + kMessagesPath;
    const std::string where = "the iPhone backup '" + root.string() + "'";
    const std::optional<ManifestPlist> plist = ReadManifestPlist(root, where, source.m_error);
    if (!plist) return source;
    if (plist->encrypted) {
        source.m_error = where + " is encrypted in the form of iOS 9 and earlier (Manifest.mbdb), which Kestrow cannot unlock";
        return source;
    }
    for (const char* name : {"Manifest.plist", "Manifest.mbdb"}) {
        if (IsRegularFile(root / name)) source.m_files.push_back({(root / name).string(), name});
    }
    // Every file's name is the SHA-1 of its domain and path: the ones wanted are looked up by
    // that name, without reading the manifest's records.
    std::vector<ManifestRow> rows;
    for (const std::string path : {std::string(kMessagesPath), std::string(kMessagesPath) + "-wal", std::string(kContactsPath)}) {
        rows.push_back({path, FileIdOf(std::string(kMessagesDomain) + "-" + path), {}});
    }
    if (!source.m_private.Make()) {
        source.m_error = "no private temporary folder could be made to read " + where;
        return source;
    }
    if (source.LayOutFiles(root, rows, nullptr)) source.m_database = (source.m_private.Path() / "sms.db").string();
    source.m_backup = std::make_shared<BackupIndex>(BackupIndex{root, {}, {}, {}});
    return source;
}

namespace {

// An attachment's path under the phone user's home ("Library/SMS/Attachments/…"), as the
// backup's MediaDomain names it; nothing for a path that is no attachment's.
std::optional<std::string> BackupAttachmentPath(const std::string& phonePath)
{
    std::string relative = phonePath;
    for (const char* prefix : {"~/", "/private/var/mobile/", "/var/mobile/"}) {
        if (relative.starts_with(prefix)) relative.erase(0, std::strlen(prefix));
    }
    if (!relative.starts_with("Library/SMS/Attachments/")) return std::nullopt;
    return relative;
}

}  // namespace

std::optional<std::string> EvidenceSource::AttachmentFile(const std::string& phonePath)
{
    if (phonePath.find("..") != std::string::npos) return std::nullopt;  // never outside the source
    const std::string& relative = phonePath;
    if (m_backup) {
        const std::optional<std::string> inHome = BackupAttachmentPath(phonePath);
        return inHome ? BackupAttachment(*inHome) : std::nullopt;
    }
    // An extraction folder keeps the phone's own paths under its "data" folder; an archive's
    // attachments are taken out of it when first asked for.
    static constexpr std::string_view kData = "/data/";
    if (!m_archiveParts.empty()) {
        const auto member = relative.starts_with(kData) ? m_archiveParts.find(relative.substr(kData.size())) : m_archiveParts.end();
        if (member == m_archiveParts.end()) return std::nullopt;
        std::error_code error;
        fs::create_directories(m_private.Path() / "attachments", error);
        const fs::path target = m_private.Path() / "attachments" /
                                (std::to_string(std::distance(m_archiveParts.begin(), member)) + "-" + fs::path(member->first).filename().string());
        if (IsRegularFile(target)) return target.string();
        std::string problem;
        return ExtractArchiveMember(m_archive, member->second, target, problem) ? std::optional<std::string>(target.string())
                                                                                : std::nullopt;
    }
    if (m_extractionData.empty() || !relative.starts_with(kData) ||
        relative.find("com.android.providers.telephony/app_parts/") == std::string::npos) {
        return std::nullopt;
    }
    const fs::path file = m_extractionData / relative.substr(kData.size());
    return IsRegularFile(file) ? std::optional<std::string>(file.string()) : std::nullopt;
}

std::optional<std::string> EvidenceSource::AttachmentAtHand(const std::string& phonePath)
{
    if (!m_archiveParts.empty()) {
        static constexpr std::string_view kData = "/data/";
        const bool held = phonePath.find("..") == std::string::npos && phonePath.starts_with(kData) &&
                          m_archiveParts.contains(phonePath.substr(kData.size()));
        return held ? std::optional<std::string>("") : std::nullopt;
    }
    if (!m_backup || m_backup->classKeys.empty()) return AttachmentFile(phonePath);
    const std::optional<std::string> inHome = phonePath.find("..") == std::string::npos ? BackupAttachmentPath(phonePath) : std::nullopt;
    return inHome && BackupFile(m_backup->root, FileIdOf(std::string("MediaDomain-") + *inHome)) ? std::optional<std::string>("")
                                                                                                   : std::nullopt;
}

std::optional<std::string> EvidenceSource::BackupAttachment(const std::string& relative)
{
    const std::string id = FileIdOf(std::string("MediaDomain-") + relative);
    const std::optional<fs::path> file = BackupFile(m_backup->root, id);
    if (!file) return std::nullopt;
    if (m_backup->classKeys.empty()) return file->string();
    if (const auto known = m_backup->decrypted.find(id); known != m_backup->decrypted.end()) return known->second;
    // An encrypted backup's file needs its own key, kept in its Manifest.db row.
    ManifestRow row{relative, id, {}};
    {
        const SqliteHandle db = MemoryDatabase(m_backup->manifest);
        Statement file(db.Get(), "SELECT file FROM Files WHERE fileID = ?1;");
        if (!file.Ok()) return std::nullopt;
        file.Bind(1, id);
        if (file.Step()) {
            const std::span<const std::uint8_t> record = file.Blob(0);
            row.record.assign(record.begin(), record.end());
        }
    }
    std::error_code error;
    fs::create_directories(m_private.Path() / "attachments", error);
    const fs::path target = m_private.Path() / "attachments" / (id + fs::path(relative).extension().string());
    const std::string said = m_error;
    if (row.record.empty() || !DecryptInto(*file, row, m_backup->classKeys, target)) {
        m_error = said;  // a missing attachment leaves the source as readable as it was
        return std::nullopt;
    }
    return m_backup->decrypted[id] = target.string();
}

bool EvidenceSource::LayOutFiles(const fs::path& root, const std::vector<ManifestRow>& rows,
                                 const std::map<std::uint32_t, Key256>* classKeys)
{
    // The readers find the log beside the database under its name, in the private folder: a
    // plain backup's files are linked there where they are (nothing copied, nothing written in
    // the backup), an encrypted backup's decrypted into it. The contacts are a help, not the
    // evidence: a contacts file that cannot be laid out leaves the backup without names.
    bool database = false, contacts = false;
    for (const ManifestRow& row : rows) {
        const std::optional<fs::path> file = BackupFile(root, row.fileId);
        if (!file) continue;
        const bool messages = row.relativePath.starts_with(kMessagesPath);
        const fs::path target = m_private.Path() / fs::path(row.relativePath).filename();
        if (!(classKeys != nullptr ? DecryptInto(*file, row, *classKeys, target) : LinkInto(root, *file, target))) {
            if (messages) return false;
            m_error.clear();
            continue;
        }
        m_files.push_back({file->string(), std::string(kMessagesDomain) + "/" + row.relativePath});
        database = database || row.relativePath == kMessagesPath;
        contacts = contacts || row.relativePath == kContactsPath;
    }
    if (contacts) {
        m_contacts = (m_private.Path() / fs::path(kContactsPath).filename()).string();
        m_contactsInside = std::string(kMessagesDomain) + "/" + kContactsPath;
    }
    if (!database) {
        m_error = "the iPhone backup '" + root.string() + "' holds no messages database (" + m_inside +
                  (rows.empty() ? " is not listed in its Manifest.db)" : " is listed but its file is missing)");
    }
    return database;
}

bool EvidenceSource::LinkInto(const fs::path& root, const fs::path& file, const fs::path& target)
{
    std::error_code error;
    fs::create_symlink(fs::absolute(file), target, error);
    if (error) m_error = "the backup '" + root.string() + "' cannot be laid out for reading: " + error.message();
    return !error;
}

bool EvidenceSource::DecryptInto(const fs::path& file, const ManifestRow& row, const std::map<std::uint32_t, Key256>& classKeys,
                                 const fs::path& target)
{
    std::string problem;
    const std::optional<BackupFileRecord> record = ParseFileRecord(row.record, problem);
    const std::optional<Key256> key = record ? UnwrapStoredKey(classKeys, record->encryptionKey, problem) : std::nullopt;
    const auto encrypted = key ? ReadAll(file, problem) : std::nullopt;
    std::optional<std::vector<std::uint8_t>> plain = encrypted ? DecryptFile(*key, *encrypted, problem) : std::nullopt;
    if (!plain) {
        m_error = "the encrypted backup's file " + row.fileId + " (" + kMessagesDomain + "/" + row.relativePath +
                  ") cannot be decrypted: " + problem;
        return false;
    }
    // The file's length before encryption: the padding of the last block goes.
    if (record->size != 0 && record->size < plain->size()) plain->resize(static_cast<std::size_t>(record->size));
    if (!WritePrivateFile(target, *plain)) {
        m_error = "the decrypted " + row.relativePath + " cannot be kept in the private folder " + target.parent_path().string();
        return false;
    }
    return true;
}

EvidenceSource EvidenceSource::OpenAndroidExtraction(const fs::path& root, const SourceOptions& options)
{
    EvidenceSource source;
    source.m_type = SourceType::AndroidExtraction;
    // The extraction may be the "data" folder itself, hold it, or hold one folder that does.
    std::vector<AndroidDatabase> found;
    std::vector<fs::path> bases = {root, root / "data"};
    std::error_code error;
    for (fs::directory_iterator child(root, error), end; !error && child != end; child.increment(error)) {
        if (child->is_directory(error) && !child->is_symlink(error)) bases.push_back(child->path() / "data");
    }
    for (const fs::path& base : bases) FindAndroidDatabases(base, found);
    if (found.empty()) {
        source.m_status = SourceStatus::Unrecognised;
        source.m_error = "'" + root.string() + "' is a folder that holds neither an iPhone backup (Manifest.db) nor an " +
                         "Android extraction (data/user_de/N/, data/user/N/ or data/data/ with " + kTelephony + ")";
        return source;
    }
    if (const AndroidDatabase* chosen = source.ChooseUser(found, options, root.string())) {
        source.m_inside = fs::relative(chosen->path, root, error).generic_string();
        source.TakeFolderFiles(root, *chosen);
    }
    return source;
}

void EvidenceSource::TakeFolderFiles(const fs::path& root, const AndroidDatabase& chosen)
{
    m_extractionData = chosen.data;
    // Contacts live in the user's credential-protected storage (user/N, or data/ for the
    // first user of older phones), seldom under user_de.
    const std::string user = std::to_string(chosen.user);
    std::vector<fs::path> homes = {chosen.data / "user" / user, chosen.data / "user_de" / user};
    if (chosen.user == 0) homes.push_back(chosen.data / "data");
    for (const fs::path& home : homes) {
        for (const char* provider : kContactsProviders) {
            if (m_contacts.empty() && IsRegularFile(home / provider)) m_contacts = (home / provider).string();
        }
    }
    std::error_code error;
    if (!m_contacts.empty()) m_contactsInside = fs::relative(m_contacts, root, error).generic_string();
    for (const std::string& database : {m_database, m_contacts}) {
        if (database.empty()) continue;
        for (const char* suffix : {"", "-wal", "-journal"}) {
            const fs::path file = database + suffix;
            if (IsRegularFile(file)) m_files.push_back({file.string(), fs::relative(file, root, error).generic_string()});
        }
    }
}

EvidenceSource EvidenceSource::OpenAndroidArchive(const fs::path& archive, const SourceOptions& options)
{
    EvidenceSource source;
    source.m_type = SourceType::AndroidExtraction;
    if (!source.m_private.Make()) {
        source.m_error = "no private temporary folder could be made to read the archive '" + archive.string() + "'";
        return source;
    }
    std::string problem;
    const std::vector<ArchivedFile> extracted =
        ExtractAndroidDatabases(archive, source.m_private.Path(), problem, {}, &source.m_archiveParts);
    source.m_archive = archive;
    if (!problem.empty()) {
        source.m_error = problem;
        return source;
    }
    std::vector<AndroidDatabase> found;
    std::vector<const ArchivedFile*> databases;
    for (const ArchivedFile& file : extracted) {
        if (file.contacts || !file.main) continue;
        found.push_back({file.user, file.deviceProtected, file.path, {}});
        databases.push_back(&file);
    }
    if (found.empty()) {
        source.m_status = SourceStatus::Unrecognised;
        source.m_error = "the archive '" + archive.string() + "' holds no Android messages database (" +
                         "data/user_de/N/, data/user/N/ or data/data/ with " + kTelephony + ")";
        return source;
    }
    if (const AndroidDatabase* chosen = source.ChooseUser(found, options, archive.string())) {
        source.m_inside = databases[static_cast<std::size_t>(chosen - found.data())]->inside;
        source.TakeArchiveFiles(archive, extracted);
    }
    return source;
}

void EvidenceSource::TakeArchiveFiles(const fs::path& archive, const std::vector<ArchivedFile>& extracted)
{
    std::error_code error;
    const auto size = fs::file_size(archive, error);
    m_files.push_back({archive.string(), "", error ? -1 : static_cast<std::int64_t>(size)});
    for (const ArchivedFile& file : extracted) {
        if (file.user != m_user) continue;
        m_files.push_back({archive.string(), file.inside, static_cast<std::int64_t>(file.size), file.sha256});
        if (file.contacts && file.main && (m_contacts.empty() || !file.deviceProtected)) {
            m_contacts = file.path.string();
            m_contactsInside = file.inside;
        }
    }
}

const AndroidDatabase* EvidenceSource::ChooseUser(const std::vector<AndroidDatabase>& found, const SourceOptions& options,
                                                  const std::string& where)
{
    std::set<int> users;
    for (const AndroidDatabase& database : found) users.insert(database.user);
    m_users.assign(users.begin(), users.end());
    m_user = options.user.value_or(users.contains(0) ? 0 : *users.begin());
    // Android 7 and later keep the database under user_de; an older copy under user or data
    // is what an upgraded phone left behind.
    const AndroidDatabase* chosen = nullptr;
    for (const AndroidDatabase& database : found) {
        if (database.user != m_user) continue;
        if (chosen == nullptr || (database.deviceProtected && !chosen->deviceProtected)) chosen = &database;
    }
    if (chosen != nullptr) {
        m_database = chosen->path.string();
    } else {
        std::string list;
        for (const int user : m_users) list += (list.empty() ? "" : ", ") + std::to_string(user);
        m_error = "the Android extraction '" + where + "' has no messages of user " + std::to_string(m_user) +
                  " (users: " + list + ")";
    }
    return chosen;
}

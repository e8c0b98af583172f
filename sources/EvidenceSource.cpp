// Recognising iPhone backups and Android extractions and laying out their messages database.
#include "sources/EvidenceSource.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

#include "store/SqliteUri.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kMessagesDomain = "HomeDomain";
constexpr const char* kMessagesPath = "Library/SMS/sms.db";
constexpr const char* kTelephony = "com.android.providers.telephony/databases/mmssms.db";

bool IsRegularFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

bool StartsAsSqlite(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    char header[16] = {};
    return file.read(header, sizeof header) && std::memcmp(header, "SQLite format 3", 16) == 0;
}

// The backup's fileID of each listed relative path of the messages domain.
std::vector<std::pair<std::string, std::string>> ManifestFiles(const fs::path& manifest, std::string& error)
{
    std::vector<std::pair<std::string, std::string>> files;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(SqliteFileUri(manifest.string(), "immutable=1").c_str(), &db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_stmt* rows = nullptr;
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(db,
                                "SELECT relativePath, fileID FROM Files WHERE domain = ?1 AND relativePath IN (?2, ?3) "
                                "AND (flags IS NULL OR flags = 1);",
                                -1, &rows, nullptr);
    }
    if (rc == SQLITE_OK) {
        const std::string log = std::string(kMessagesPath) + "-wal";
        sqlite3_bind_text(rows, 1, kMessagesDomain, -1, SQLITE_STATIC);
        sqlite3_bind_text(rows, 2, kMessagesPath, -1, SQLITE_STATIC);
        sqlite3_bind_text(rows, 3, log.c_str(), -1, SQLITE_TRANSIENT);
        while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
            const auto* path = reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
            const auto* id = reinterpret_cast<const char*>(sqlite3_column_text(rows, 1));
            if (path != nullptr && id != nullptr) files.emplace_back(path, id);
        }
        if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
    } else {
        error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return files;
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

// One messages database of an extraction, with the user it belongs to.
struct AndroidDatabase {
    int user = 0;
    bool deviceProtected = false;  // under user_de (Android 7 and later keep it there)
    fs::path path;
};

// The messages databases under one "data" folder of an extraction: data/<package>,
// user/N/<package>, user_de/N/<package>.
void FindAndroidDatabases(const fs::path& data, std::vector<AndroidDatabase>& found)
{
    if (const fs::path legacy = data / "data" / kTelephony; IsRegularFile(legacy)) found.push_back({0, false, legacy});
    for (const auto& [folder, deviceProtected] : {std::pair{"user", false}, std::pair{"user_de", true}}) {
        std::error_code error;
        for (fs::directory_iterator users(data / folder, error), end; !error && users != end; users.increment(error)) {
            const std::string name = users->path().filename().string();
            if (name.empty() || name.size() > 6 || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
            if (const fs::path database = users->path() / kTelephony; IsRegularFile(database)) {
                found.push_back({std::stoi(name), deviceProtected, database});
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
    std::string pattern = (fs::temp_directory_path(error) / "kestrow-source-XXXXXX").string();
    if (error || ::mkdtemp(pattern.data()) == nullptr) return false;  // mkdtemp makes it 0700
    m_path = pattern;
    return true;
}

EvidenceSource EvidenceSource::Open(const std::string& path, const SourceOptions& options)
{
    std::error_code error;
    if (!fs::is_directory(path, error)) {
        EvidenceSource source;
        source.m_path = path;
        source.m_database = path;
        return source;
    }
    EvidenceSource source = fs::exists(fs::path(path) / "Manifest.db", error) ? OpenIphoneBackup(path)
                                                                              : OpenAndroidExtraction(path, options);
    source.m_path = path;
    return source;
}

EvidenceSource EvidenceSource::OpenIphoneBackup(const fs::path& root)
{
    EvidenceSource source;
    source.m_type = SourceType::IphoneBackup;
    source.m_inside = std::string(kMessagesDomain) + "/" + kMessagesPath;
    const fs::path manifest = root / "Manifest.db";
    if (!StartsAsSqlite(manifest)) {
        const bool encrypted = fs::exists(root / "Manifest.plist");
        source.m_error = "'" + root.string() + "' is an iPhone backup whose Manifest.db " +
                         (encrypted ? "is encrypted; encrypted backups cannot be read yet"
                                    : "is not an SQLite database, so its files cannot be found");
        return source;
    }
    std::string problem;
    const auto files = ManifestFiles(manifest, problem);
    if (!problem.empty()) {
        source.m_error = "the backup's Manifest.db in '" + root.string() + "' cannot be read: " + problem;
        return source;
    }
    std::optional<fs::path> database, log;
    for (const auto& [relative, id] : files) {
        (relative == kMessagesPath ? database : log) = BackupFile(root, id);
    }
    if (!database) {
        source.m_error = "the iPhone backup '" + root.string() + "' holds no messages database (" +
                         source.m_inside + (files.empty() ? " is not listed in its Manifest.db)" : " is listed but its file is missing)");
        return source;
    }
    // The readers find the log beside the database under its name: links in a private folder
    // name both files where they are, so nothing is copied or written in the backup.
    if (!source.m_private.Make()) {
        source.m_error = "no private temporary folder could be made to read the backup '" + root.string() + "'";
        return source;
    }
    const fs::path laid = source.m_private.Path() / "sms.db";
    std::error_code linked;
    fs::create_symlink(fs::absolute(*database), laid, linked);
    if (!linked && log) fs::create_symlink(fs::absolute(*log), laid.string() + "-wal", linked);
    if (linked) {
        source.m_error = "the backup '" + root.string() + "' cannot be laid out for reading: " + linked.message();
        return source;
    }
    source.m_database = laid.string();
    return source;
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
        source.m_unrecognised = true;
        source.m_error = "'" + root.string() + "' is a folder that holds neither an iPhone backup (Manifest.db) nor an " +
                         "Android extraction (data/user_de/N/, data/user/N/ or data/data/ with " + kTelephony + ")";
        return source;
    }
    std::set<int> users;
    for (const AndroidDatabase& database : found) users.insert(database.user);
    source.m_users.assign(users.begin(), users.end());
    source.m_user = options.user.value_or(users.contains(0) ? 0 : *users.begin());
    // Android 7 and later keep the database under user_de; an older copy under user or data
    // is what an upgraded phone left behind.
    const AndroidDatabase* chosen = nullptr;
    for (const AndroidDatabase& database : found) {
        if (database.user != source.m_user) continue;
        if (chosen == nullptr || (database.deviceProtected && !chosen->deviceProtected)) chosen = &database;
    }
    if (chosen == nullptr) {
        std::string list;
        for (const int user : source.m_users) list += (list.empty() ? "" : ", ") + std::to_string(user);
        source.m_unrecognised = false;
        source.m_error = "the Android extraction '" + root.string() + "' has no messages of user " +
                         std::to_string(source.m_user) + " (users: " + list + ")";
        return source;
    }
    source.m_database = chosen->path.string();
    source.m_inside = fs::relative(chosen->path, root, error).generic_string();
    return source;
}

// Read-only opening of evidence databases.
#include "readers/DatabaseOpen.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool NonEmptyFile(const std::string& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) > 0 && !error;
}

// True when the database header (bytes 18 and 19: read and write format versions) says the
// file is in write-ahead-log mode. A missing or short file is not.
bool HeaderSaysLogMode(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<char, 20> header{};
    if (!file.read(header.data(), header.size())) return false;
    static constexpr char kMagic[] = "SQLite format 3";  // followed by a zero byte
    for (std::size_t i = 0; i < sizeof kMagic; ++i) {
        if (header[i] != kMagic[i]) return false;
    }
    return header[18] == 2 && header[19] == 2;
}

bool Writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

// Reading through the log in place needs a read-write handle (a read-only one would create a
// "-shm" file); it is used only when the user may write both files anyway.
bool CanReadThroughLog(const std::string& path)
{
    return HasCommittedLog(path) && Writable(path) && Writable(path + "-wal");
}

int OpenImmutable(const std::string& path, sqlite3** db)
{
    return sqlite3_open_v2(SqliteFileUri(path, "immutable=1").c_str(), db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
}

int OpenThroughLog(const std::string& path, sqlite3** db)
{
    // One thread uses the connection: no mutex needed.
    int rc = sqlite3_open_v2(SqliteFileUri(path, "").c_str(), db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return rc;
    int applied = 0;
    rc = sqlite3_db_config(*db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &applied);
    if (rc != SQLITE_OK || applied != 1) return rc != SQLITE_OK ? rc : SQLITE_ERROR;
    // Both pragmas must precede the first read: exclusive locking keeps the log index in
    // memory instead of a "-shm" file, and query_only refuses every write.
    rc = sqlite3_exec(*db, "PRAGMA locking_mode=EXCLUSIVE; PRAGMA query_only=1;", nullptr,
                      nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    // Read once now, so that a log SQLite cannot use shows here rather than as missing rows.
    return sqlite3_exec(*db, "SELECT count(*) FROM sqlite_schema;", nullptr, nullptr, nullptr);
}

}  // namespace

std::string SqliteFileUri(const std::string& path, const std::string& query)
{
    // An absolute path behind "file://" keeps a leading "//" from reading as an authority.
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    const std::string full = error ? path : absolute.string();
    std::string uri = "file://";
    if (full.empty() || full.front() != '/') uri += '/';
    for (const unsigned char c : full) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' ||
                           c == '.' || c == '~';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    if (!query.empty()) uri += "?" + query;
    return uri;
}

bool HasCommittedLog(const std::string& path)
{
    return NonEmptyFile(path + "-wal") && !NonEmptyFile(path + "-journal") && HeaderSaysLogMode(path);
}

int OpenDatabaseForReading(const std::string& path, LogUse use, sqlite3** db, OpenedAs* how)
{
    *db = nullptr;
    if (use == LogUse::IncludeCommittedLog && CanReadThroughLog(path)) {
        const int rc = OpenThroughLog(path, db);
        if (rc == SQLITE_OK) {
            if (how != nullptr) *how = OpenedAs::LogInPlace;
            return rc;
        }
        // The log could not be used; the main file alone is still worth reading.
        sqlite3_close(*db);
        *db = nullptr;
    }
    const int rc = OpenImmutable(path, db);
    if (how != nullptr) *how = rc == SQLITE_OK ? OpenedAs::MainFileOnly : OpenedAs::Failed;
    return rc;
}

namespace {

// A new private folder for a copy, or an empty path when none can be made.
fs::path MakePrivateFolder()
{
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "kestrow-read-XXXXXX").string();
    if (error || ::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace

DatabaseReading::DatabaseReading(const std::string& path, sqlite3*& db, LogPolicy policy) : m_db(db)
{
    m_db = nullptr;
    if (HasCommittedLog(path) && (policy == LogPolicy::AlwaysPrivateCopy || !CanReadThroughLog(path))) {
        // The log is only applied by a connection that may create a "-shm" file: read a copy.
        m_privateFolder = MakePrivateFolder();
        if (!m_privateFolder.empty()) {
            const fs::path copy = m_privateFolder / "database";
            std::error_code error;
            fs::copy_file(path, copy, error);
            if (!error) fs::copy_file(path + "-wal", copy.string() + "-wal", error);
            if (!error) {
                m_result = OpenThroughLog(copy.string(), &m_db);
                if (m_result == SQLITE_OK) {
                    m_how = OpenedAs::PrivateCopy;
                    return;
                }
                sqlite3_close(m_db);
                m_db = nullptr;
            }
        }
    }
    m_result = OpenDatabaseForReading(path, LogUse::IncludeCommittedLog, &m_db, &m_how);
}

DatabaseReading::~DatabaseReading()
{
    sqlite3_close(m_db);
    m_db = nullptr;
    if (!m_privateFolder.empty()) {
        std::error_code ignored;
        fs::remove_all(m_privateFolder, ignored);
    }
}

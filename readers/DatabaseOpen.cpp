// Read-only opening of evidence databases.
#include "DatabaseOpen.h"

#include <sqlite3.h>
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

// Reading through the log needs a read-write handle (a read-only one would create a "-shm"
// file); it is safe only when SQLite will find nothing to roll back or tidy up.
bool CanReadThroughLog(const std::string& path)
{
    const std::string log = path + "-wal";
    return NonEmptyFile(log) && !NonEmptyFile(path + "-journal") && HeaderSaysLogMode(path) &&
           Writable(path) && Writable(log);
}

int OpenImmutable(const std::string& path, sqlite3** db)
{
    return sqlite3_open_v2(SqliteFileUri(path, "immutable=1").c_str(), db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
}

int OpenThroughLog(const std::string& path, sqlite3** db)
{
    int rc = sqlite3_open_v2(SqliteFileUri(path, "").c_str(), db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr);
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

int OpenDatabaseForReading(const std::string& path, LogUse use, sqlite3** db)
{
    *db = nullptr;
    if (use == LogUse::IncludeCommittedLog && CanReadThroughLog(path)) {
        const int rc = OpenThroughLog(path, db);
        if (rc == SQLITE_OK) return rc;
        // The log could not be used; the main file alone is still worth reading.
        sqlite3_close(*db);
        *db = nullptr;
    }
    return OpenImmutable(path, db);
}

ConnectionCloser::~ConnectionCloser()
{
    sqlite3_close(m_db);
    m_db = nullptr;
}

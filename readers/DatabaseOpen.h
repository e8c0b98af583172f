// Opening a phone database for reading so that nothing on disk changes: not the database,
// not its logs, and no file is created or deleted beside it.
#pragma once

#include <string>

struct sqlite3;

enum class LogUse {
    MainFileOnly,         // read the main file alone, as if no log existed
    IncludeCommittedLog,  // also read rows committed to a "-wal" log that was never checkpointed
};

// Opens `path` like sqlite3_open (fills `*db` even on failure; the caller closes it in every
// case) and returns SQLite's result code. Never writes:
//  - the main file alone is opened as immutable, so SQLite takes no lock, looks at no log or
//    journal and creates nothing (a hot journal is never rolled back);
//  - with IncludeCommittedLog and a "-wal" beside a database in log mode, a connection that
//    holds the log index in memory (exclusive locking), refuses writes (query_only) and skips
//    the checkpoint on close reads the committed rows and leaves both files as they were.
int OpenDatabaseForReading(const std::string& path, LogUse use, sqlite3** db);

// The "file:" URI that names `path` for SQLite, with the given query ("immutable=1").
std::string SqliteFileUri(const std::string& path, const std::string& query);

// RAII owner that closes a connection handle and clears it, however the scope is left.
class ConnectionCloser {
public:
    explicit ConnectionCloser(sqlite3*& db) : m_db(db) {}
    ~ConnectionCloser();
    ConnectionCloser(const ConnectionCloser&) = delete;
    ConnectionCloser& operator=(const ConnectionCloser&) = delete;

private:
    sqlite3*& m_db;
};

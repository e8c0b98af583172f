// Opening a phone database for reading so that nothing on disk changes: not the database,
// not its logs, and no file is created or deleted beside it.
#pragma once

#include <filesystem>
#include <string>

struct sqlite3;

enum class LogUse {
    MainFileOnly,         // read the main file alone, as if no log existed
    IncludeCommittedLog,  // the database as it stands: rows committed to a "-wal" log count too
};

// How a database was opened.
enum class OpenedAs {
    Failed,        // the file could not be opened at all
    MainFileOnly,  // immutable: no lock taken, no log or journal looked at, nothing created
    LogInPlace,    // through its "-wal", with the log index in memory and writes refused
    PrivateCopy,   // a copy of the file and its "-wal" in a private temporary folder
};

// Opens `path` like sqlite3_open (fills `*db` even on failure; the caller closes it in every
// case) and returns SQLite's result code; never writes. The main file alone is opened as
// immutable, so SQLite takes no lock, looks at no log or journal and creates nothing (a hot
// journal is never rolled back). With IncludeCommittedLog and a "-wal" beside a database in
// log mode that the user may write, a connection that holds the log index in memory
// (exclusive locking), refuses writes (query_only) and skips the checkpoint on close reads
// the committed rows and leaves both files as they were. `*how` (when given) says which.
int OpenDatabaseForReading(const std::string& path, LogUse use, sqlite3** db, OpenedAs* how = nullptr);

// The "file:" URI that names `path` for SQLite, with the given query ("immutable=1").
std::string SqliteFileUri(const std::string& path, const std::string& query);

// Whether the database at `path` has a log whose committed rows SQLite would apply: a
// non-empty "-wal" beside a file whose header says log mode, and no non-empty "-journal".
bool HasCommittedLog(const std::string& path);

// A connection to an evidence database for the length of one load, as the database stands
// (its committed log applied). Where SQLite could only apply the log by creating a side file
// beside the database (the user may not write the files), the database and its log are
// copied into a private temporary folder first, and that copy is read; the folder is removed
// when the reading ends. `db` is the caller's handle member: it holds the connection while
// this object lives and is closed and cleared when it goes.
class DatabaseReading {
public:
    enum class LogPolicy {
        InPlaceWhereWritable,  // through the log in place when the user may write both files
        AlwaysPrivateCopy,     // copy whenever there is a log to apply (tests of the copy)
    };
    DatabaseReading(const std::string& path, sqlite3*& db, LogPolicy policy = LogPolicy::InPlaceWhereWritable);
    ~DatabaseReading();
    DatabaseReading(const DatabaseReading&) = delete;
    DatabaseReading& operator=(const DatabaseReading&) = delete;

    bool Opened() const { return m_result == 0; }
    OpenedAs How() const { return m_how; }

private:
    sqlite3*& m_db;
    int m_result = 0;
    OpenedAs m_how = OpenedAs::Failed;
    std::filesystem::path m_privateFolder;  // empty unless a copy was read
};

// The database reader interface. One reader is current at a time; it loads the live rows of
// one database kind into the message store and carries the recovered list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/MessageRecords.h"

struct sqlite3;

enum DeviceKind : std::int32_t { kDeviceAndroid = 0, kDeviceIphone = 1 };

// Which recovery made the reader's recovered list.
enum class RecoveryMode : std::int32_t { None, Default, Alternate, Deep };

// What a file of a database is to it: the database itself, its write-ahead log (or a log an
// older program set aside), or its rollback journal.
enum class FileRole : std::uint8_t { Database, Log, Journal };
// "database", "log" or "journal", as reports and the companion's JSON name them.
const char* FileRoleText(FileRole role);

// One file a deep recovery read.
struct ScannedSource {
    std::string path;
    FileRole kind = FileRole::Database;
    std::int64_t size = 0;       // bytes read
    std::int64_t pages = 0;      // pages (or page versions) parsed
    std::string note;            // why it was read only in part, or not at all; empty when whole
};

// What the last recovery pass could and could not do, for the summary shown to the user.
struct ScanReport {
    std::string scannedPath;   // the file whose bytes were scanned (empty: none)
    bool logMode = false;      // a write-ahead log scanned in 4096-byte blocks
    std::int32_t pageSize = 0;
    std::string pageSizeNote;  // why the page size is not the header's field; empty when it is
    std::int32_t pageSizeField = 0;  // with a note: the field's value, or -1 for a file too short
    std::string error;         // why the file could not be scanned; empty when it was
    bool noSchema = false;     // no column schema: records cannot be recognised
    // The default recovery found no record of the form it keys on in the whole file, not even
    // the live rows: its column rules do not fit this file (the deep recovery may).
    bool noCandidates = false;
    std::int32_t filled = 0;   // records stored by a filling pass
    std::int32_t discarded = 0;  // finds of a filling pass left out as fragments no phone wrote
    bool deep = false;         // a deep recovery: `sources` lists what it read
    std::vector<ScannedSource> sources;
};

// Something a load could not read as it should.
struct LoadWarning {
    enum class Kind { LogNotApplied, Truncated, Damaged, HeaderMended } kind = Kind::Damaged;
    std::string file;    // the file concerned
    std::string reason;  // LogNotApplied: why; HeaderMended: what was mended
    std::uint64_t pagesPresent = 0, pagesExpected = 0;  // Truncated
    bool operator==(const LoadWarning&) const = default;
};

class CSms {
public:
    virtual ~CSms();
    CSms(const CSms&) = delete;
    CSms& operator=(const CSms&) = delete;

    // Reads the live rows of the database at `path` into the store. Failures are silent (the
    // store simply holds fewer rows); the result is always 1.
    virtual std::int32_t LoadDatabase(std::string path);
    // Attributes each recovered message to the first conversation whose key or address equals
    // its address (the catch-all entry when none does), recounts every conversation's
    // recoveredCount and raises recentTime where a recovered message is newer.
    virtual void AssignRecovered();
    // Orders conversations 1..count-1 by recentTime, newest first; entry 0 stays first.
    virtual void SortConversations();

    sqlite3* m_db = nullptr;  // open only while LoadDatabase runs
    const std::int32_t m_deviceKind;
    std::vector<MessageRecord> m_recovered;  // the recovered list (empty = none)
    // Live rows the reader shows inside other messages rather than as messages (the iPhone's
    // tapbacks): still live rows, never recovered ones. Filled by each load.
    std::vector<MessageRecord> m_foldedRows;
    std::int32_t m_recoveredCount = 0;
    ScanReport m_lastScan;  // written by each recovery pass
    RecoveryMode m_lastRecovery = RecoveryMode::None;  // set by the recovery run
    // What the last load could not do: a log that could not be applied, a damaged or
    // truncated file. Empty when the file was read whole.
    std::vector<LoadWarning> m_loadWarnings;
    // Android: the conversation entry (entryId) of each thread; iPhone: of each chat. For finds
    // whose address matches no conversation (or that have none). Filled by each load.
    std::unordered_map<std::int64_t, std::int32_t> m_entryOfThread;
    // iPhone: the handle keys merged into another handle's conversation (same address, another
    // service) → that handle's key; messages and finds naming them are counted there. Filled by
    // each load.
    std::unordered_map<std::string, std::string> m_keyAlias;
    // The two-letter region the phone's numbers are written in, where the database says it
    // (iPhone: the country most handles name, lower case as stored); empty otherwise.
    std::string m_regionHint;
    // The declared columns of the tables besides the message table whose deleted records a
    // deep recovery carves too (Android pdu and part; iPhone attachment and
    // recoverable_message_part), read by each load; a table the file lacks is not listed.
    struct TableSchema {
        std::string table;
        std::vector<std::string> names;  // lower case
        std::vector<std::string> types;  // upper case
        bool rowIdAlias = true;          // column 0 is the row id (stored as NULL)
    };
    std::vector<TableSchema> m_partTables;
    // The bytes the counting pass read, kept for the filling pass when the file is unchanged
    // (the scans own this; the store never looks inside).
    std::shared_ptr<struct ScanCache> m_scanCache;

protected:
    explicit CSms(DeviceKind kind);
};

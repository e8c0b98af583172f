// How a database's kind is told from its file name, and replacing the current reader.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class CSms;

enum class DatabaseName { Android, Iphone, Other };

// Why nothing could be read from a file opened as a database of a kind.
enum class OpenProblem {
    None,
    NotSqlite,        // not an SQLite 3 database
    Encrypted,        // not an SQLite 3 database, and its bytes look random: encrypted
    NoAndroidTables,  // no sms and canonical_addresses tables
    NoIphoneTables,   // no message and handle tables
};

// Android when the path ends in a separator followed by "mmssms.db", iPhone when it ends in
// a separator followed by "sms.db" (names compared with ASCII case folding). Both "/" and "\"
// count as separators; a bare name with no separator before it matches neither.
DatabaseName ClassifyDatabasePath(std::string_view path);

// Makes `reader` current: if a reader exists, the store is reset and the old reader destroyed
// first. Then the new reader loads `path`.
void ReplaceReaderAndLoad(std::unique_ptr<CSms> reader, const std::string& path);

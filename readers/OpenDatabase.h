// The Open command's work, without a window: which reader a chosen file gets, setting an
// Android database's write-ahead log aside, and loading the file into the store.
#pragma once

#include <string>

enum class LogSetAside {
    NoLog,         // no "-wal" beside the database
    Renamed,       // "-wal" now carries the "-wal-undelete" name
    DeleteFailed,  // an older "-wal-undelete" could not be deleted: nothing was changed
};

// W = path + "-wal", U = W + "-undelete". When W exists, an existing U is deleted first, then
// W is renamed to U (a failed rename goes unnoticed, as the load still works).
LogSetAside SetAsideLog(const std::string& databasePath);

enum class OpenOutcome { OpenedAndroid, OpenedIphone, LogLocked, AlternateRecovery, WrongFile };

// True when `path` ends in a separator and "sms2", exactly (no case folding).
bool IsAlternateRecoveryPath(const std::string& path);

// Applies the name rules to `path` (a separator then "mmssms.db" or "sms.db", ASCII case
// folded). Android: sets the log aside (LogLocked, and nothing changed, when it cannot), then
// both kinds reset the store, replace the reader and load the file. A path ending in "sms2"
// while the Android reader is current asks for a recovery run in the alternate carving mode
// (AlternateRecovery; nothing is loaded). WrongFile and AlternateRecovery change nothing.
OpenOutcome OpenDatabaseFile(const std::string& path);

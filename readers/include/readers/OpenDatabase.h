// The Open command's work, without a window: which reader a chosen file gets and loading the
// file into the store. Nothing on disk is changed.
#pragma once

#include <string>

#include "store/OpenRules.h"

// The kind of database at `path`: by its name where the name decides (a separator, then
// "mmssms.db" or "sms.db", any case); otherwise by its tables: sms and canonical_addresses
// make it Android, message with handle (or msg_group, iOS 5 and earlier) make it iPhone. Other files, including files that are
// not SQLite databases, give DatabaseName::Other.
DatabaseName DetectDatabaseKind(const std::string& path);

// Why nothing could be read from the database of `kind` at `path` (None when its tables are
// there): not an SQLite 3 database, or one without that kind's message tables.
OpenProblem DiagnoseDatabase(const std::string& path, DatabaseName kind);

enum class OpenOutcome { OpenedAndroid, OpenedIphone, AlternateRecovery, WrongFile };

struct OpenResult {
    OpenOutcome outcome = OpenOutcome::WrongFile;
    OpenProblem problem = OpenProblem::None;  // an opened file from which nothing can be read: why
};

// True when `path` ends in a separator and "sms2", exactly (no case folding).
bool IsAlternateRecoveryPath(const std::string& path);

// Applies the rules to `path`: the names first; a path ending in "sms2" while the Android
// reader is current asks for a recovery run in the alternate carving mode (AlternateRecovery;
// nothing is loaded); then the tables. A recognised file replaces the reader and is loaded
// into the store. WrongFile and AlternateRecovery change nothing.
OpenResult OpenDatabaseFile(const std::string& path);

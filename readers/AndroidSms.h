// The Android reader: live rows of mmssms.db (tables canonical_addresses and sms).
#pragma once

#include "store/Sms.h"

class CAndroidSms : public CSms {
public:
    CAndroidSms();

    // Conversations from canonical_addresses (a leading "+86" removed), live messages from
    // sms in ascending date order, the schema of sms. Reads the main file alone: a "-wal"
    // beside it is ignored. Always returns 1.
    std::int32_t LoadDatabase(std::string path) override;

    // Scans the set-aside log (path + "-wal-undelete") in 4096-byte blocks when it exists,
    // else the database itself in its own page size; see RunRecoveryPass for the two passes.
    void RecoverDeleted(std::string path, std::int32_t& count) override;

    // The file a scan of the database at `path` reads: the set-aside log when it exists; with
    // `logInPlace`, next the "-wal" log itself (for callers that set nothing aside); else the
    // database. `logMode` tells whether a log was chosen.
    static std::string ScanTarget(const std::string& path, bool logInPlace, bool& logMode);

    // Set by callers that never rename the log (the command-line companion): scan "-wal" in
    // place when no set-aside log exists.
    bool m_scanLogInPlace = false;

    // Row callbacks for sqlite3_exec; each returns 0.
    static int OnAddressRow(void* unused, int columnCount, char** values, char** names);
    static int OnSmsRow(void* unused, int columnCount, char** values, char** names);

    // Counts each live message in the first conversation whose address equals its own and
    // sets that conversation's recentTime to the time of its last message in list order.
    static void TallyMessages();
};

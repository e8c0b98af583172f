// The work of one recovery run on the current reader, without any window: the calls of the
// reader in their order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/Sms.h"

struct RecoveryRunCounts {
    std::int32_t countingFound = 0;  // candidates the counting pass accepted
    std::int32_t fillingFound = 0;   // candidates the filling pass accepted
};

// The file the default recovery of the Android database at `path` scans: a "-wal-undelete" log
// that an earlier program set aside when it exists, else the "-wal" log (in 4096-byte blocks)
// when it exists, else the database itself; `logMode` tells whether a log was chosen.
std::string DefaultScanTarget(const std::string& path, bool& logMode);

// One pass of the default recovery of `reader`'s phone on the database at `path`: the counting
// pass when `count` is 0, the filling pass otherwise; leaves the number found in `count`.
// Android scans DefaultScanTarget with its header-size carver in the alternate mode; the
// iPhone scans the database itself in its own page size. See RunRecoveryPass.
void RecoverDeletedPass(CSms& reader, const std::string& path, std::int32_t& count);

// Runs the counting pass and the filling pass on `path`, then AssignRecovered and
// SortConversations. When the counting pass finds nothing, the second call is another counting
// pass and merges nothing. Requires a current reader.
RecoveryRunCounts RunRecoverySteps(const std::string& path);

// A deep recovery on `path`, then AssignRecovered and SortConversations. Requires a current
// reader.
void RunDeepRecoverySteps(const std::string& path);

// What a recovery run changes, kept before it starts so that a cancelled run leaves the store
// as it was: the reader's recovered list and scan facts, and the conversation table (sorting
// and attribution change it).
class RecoveryUndo {
public:
    RecoveryUndo();  // requires a current reader
    void Restore();

private:
    std::vector<MessageRecord> m_recovered;
    std::int32_t m_recoveredCount = 0;
    ScanReport m_lastScan;
    RecoveryMode m_lastRecovery = RecoveryMode::None;
    std::vector<ContactRecord> m_conversations;
};

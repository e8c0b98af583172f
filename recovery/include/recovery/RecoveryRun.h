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

// Runs the counting pass and the filling pass of the current reader's RecoverDeleted on
// `path`, then AssignRecovered and SortConversations. When the counting pass finds nothing,
// the second call is another counting pass and merges nothing. Requires a current reader.
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

// The work of one recovery run on the current reader, without any window: the calls of the
// reader in their order.
#pragma once

#include <cstdint>
#include <string>

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

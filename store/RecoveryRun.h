// The work of one recovery run on the current reader, without any window.
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

struct ScanReport;

// What the user should know about a scan that could not do all its work, as plain sentences
// (no message table; a file that could not be read; a page size that was not the header's).
// Empty when the scan worked as planned.
std::string ScanProblemSentences(const ScanReport& scan);

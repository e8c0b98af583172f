// The reader calls of a recovery run, shared by the window and the companion.
#include "RecoveryRun.h"

#include "MessageStore.h"

#include <cctype>

RecoveryRunCounts RunRecoverySteps(const std::string& path)
{
    CSms& reader = *g_store.currentReader;
    RecoveryRunCounts counts;
    std::int32_t n = 0;
    reader.m_recoveredCount = 0;
    reader.RecoverDeleted(path, n);
    counts.countingFound = n;
    reader.RecoverDeleted(path, n);
    counts.fillingFound = n;
    reader.AssignRecovered();
    reader.SortConversations();
    return counts;
}

void RunDeepRecoverySteps(const std::string& path)
{
    CSms& reader = *g_store.currentReader;
    reader.m_recoveredCount = 0;
    reader.RecoverDeep(path);
    reader.AssignRecovered();
    reader.SortConversations();
}

std::string ScanFailureSentence(const ScanReport& scan)
{
    if (scan.noSchema) return "The message table could not be read, so deleted messages cannot be recognised.";
    if (!scan.error.empty()) return "The file " + scan.scannedPath + " could not be read: " + scan.error + ".";
    return "";
}

std::string PageSizeSentence(const ScanReport& scan)
{
    if (scan.pageSizeNote.empty()) return "";
    std::string sentence = scan.pageSizeNote + ".";
    sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    return sentence;
}

std::string ScanProblemSentences(const ScanReport& scan)
{
    const std::string failure = ScanFailureSentence(scan);
    const std::string pageSize = PageSizeSentence(scan);
    return failure.empty() || pageSize.empty() ? failure + pageSize : failure + " " + pageSize;
}
